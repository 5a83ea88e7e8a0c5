// Faults: data objects that describe why a remote call failed, and the
// exceptions that carry them.
//
// Each fault class has a nested Exception deriving from its parent fault's
// Exception, and overrides Throw() to throw that, so a thrown fault can be
// caught as its own class's Exception, any ancestor's, or Basekit::Exception.
#pragma once

#include <string>

#include "basekit/ref.h"
#include "basekit/throwable.h"
#include "movel/data_object.h"
#include "movel/data_types.h"
#include "movel/export.h"
#include "movel/moref.h"
#include "movel/strings.h"

namespace Movel {

class MethodFault;
class RuntimeFault;
namespace Fault {
class InvalidArgument;
class InvalidType;
class ManagedObjectNotFound;
class NotEnoughLicenses;
class NotSupported;
class RequestCanceled;
class SecurityError;
class SystemError;
}  // namespace Fault

template <>
MOVEL_API DataObjectType* GetDoType<MethodFault>();
template <>
MOVEL_API DataObjectType* GetDoType<RuntimeFault>();
template <>
MOVEL_API DataObjectType* GetDoType<Fault::InvalidArgument>();
template <>
MOVEL_API DataObjectType* GetDoType<Fault::InvalidType>();
template <>
MOVEL_API DataObjectType* GetDoType<Fault::ManagedObjectNotFound>();
template <>
MOVEL_API DataObjectType* GetDoType<Fault::NotEnoughLicenses>();
template <>
MOVEL_API DataObjectType* GetDoType<Fault::NotSupported>();
template <>
MOVEL_API DataObjectType* GetDoType<Fault::RequestCanceled>();
template <>
MOVEL_API DataObjectType* GetDoType<Fault::SecurityError>();
template <>
MOVEL_API DataObjectType* GetDoType<Fault::SystemError>();

class MOVEL_API MethodFault : public DynamicData {
 public:
  // Carries a fault. The message names the fault's type, followed by the
  // first fault message's text when there is one.
  class MOVEL_API Exception : public Basekit::Exception {
   public:
    explicit Exception(MethodFault* fault);
    Exception(const Exception& other);
    ~Exception() override;
    MethodFault* GetFault() const noexcept { return fault_.Get(); }
    Basekit::Exception* Clone() const override;
    [[noreturn]] void Rethrow() const override;
    // Throws a copy of this exception as its most derived class.
    [[noreturn]] virtual void Throw() const;

   private:
    Basekit::Ref<MethodFault> fault_;
  };

  MethodFault() noexcept;
  ~MethodFault() override;

  Type* _GetType() const override;
  unsigned _GetSize(RoundFn r) const override;
  Any* _Clone() const override;
  bool _IsEqual(const Any* other, bool lenient) const override;
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override;
  DataObjectType* _GetDataType() const override;
  // Throws this fault wrapped in its class's Exception.
  [[noreturn]] virtual void Throw();

  // Null when unset.
  MethodFault* GetFaultCause() const noexcept { return faultCause_; }
  // Takes a reference on value; null clears.
  void SetFaultCause(MethodFault* value) { AssignObject(faultCause_, value); }
  // Null when absent.
  DataArray<LocalizableMessage>* GetFaultMessage() const noexcept {
    return faultMessage_.load(std::memory_order_acquire);
  }
  DataArray<LocalizableMessage>* GetOrCreateFaultMessage() {
    return GetOrCreateArray(faultMessage_);
  }
  void SetFaultMessage(DataArray<LocalizableMessage>* value) { AssignArray(faultMessage_, value); }

  static const FieldInfo _fields[];
  static const DataLayout _layout;

 protected:
  MethodFault(const MethodFault& other);

 private:
  MethodFault* faultCause_ = nullptr;
  std::atomic<DataArray<LocalizableMessage>*> faultMessage_{nullptr};
};

// A fault that any method may raise, whatever faults it declares.
class MOVEL_API RuntimeFault : public MethodFault {
 public:
  class MOVEL_API Exception : public MethodFault::Exception {
   public:
    explicit Exception(RuntimeFault* fault) : MethodFault::Exception(fault) {}
    RuntimeFault* GetFault() const noexcept;
    Basekit::Exception* Clone() const override;
    [[noreturn]] void Rethrow() const override;
    [[noreturn]] void Throw() const override;
  };

  RuntimeFault() noexcept = default;
  ~RuntimeFault() override;

  Type* _GetType() const override;
  unsigned _GetSize(RoundFn r) const override;
  Any* _Clone() const override;
  DataObjectType* _GetDataType() const override;
  [[noreturn]] void Throw() override;

  static const DataLayout _layout;

 protected:
  RuntimeFault(const RuntimeFault& other) : MethodFault(other) {}
};

namespace Fault {

// Declares a fault class without own properties.
#define MOVEL_DECLARE_PLAIN_FAULT(Name, Parent)                              \
  class MOVEL_API Name : public Parent {                                     \
   public:                                                                   \
    class MOVEL_API Exception : public Parent::Exception {                   \
     public:                                                                 \
      explicit Exception(Name* fault) : Parent::Exception(fault) {}          \
      Name* GetFault() const noexcept;                                       \
      Basekit::Exception* Clone() const override;                            \
      [[noreturn]] void Rethrow() const override;                            \
      [[noreturn]] void Throw() const override;                              \
    };                                                                       \
    Name() noexcept = default;                                               \
    ~Name() override;                                                        \
    Type* _GetType() const override;                                         \
    unsigned _GetSize(RoundFn r) const override;                             \
    Any* _Clone() const override;                                            \
    DataObjectType* _GetDataType() const override;                           \
    [[noreturn]] void Throw() override;                                      \
    static const DataLayout _layout;                                         \
                                                                             \
   protected:                                                                \
    Name(const Name& other) : Parent(other) {}                               \
  }

// The caller is not licensed for the operation.
MOVEL_DECLARE_PLAIN_FAULT(NotEnoughLicenses, MethodFault);
// The operation is not implemented by this server or object.
MOVEL_DECLARE_PLAIN_FAULT(NotSupported, RuntimeFault);
// The caller canceled the request.
MOVEL_DECLARE_PLAIN_FAULT(RequestCanceled, RuntimeFault);
// The caller lacks the privilege or the session is not authenticated.
MOVEL_DECLARE_PLAIN_FAULT(SecurityError, RuntimeFault);

#undef MOVEL_DECLARE_PLAIN_FAULT

// An argument was not acceptable; invalidProperty names the offending
// property when the argument is a data object.
class MOVEL_API InvalidArgument : public RuntimeFault {
 public:
  class MOVEL_API Exception : public RuntimeFault::Exception {
   public:
    explicit Exception(InvalidArgument* fault) : RuntimeFault::Exception(fault) {}
    InvalidArgument* GetFault() const noexcept;
    Basekit::Exception* Clone() const override;
    [[noreturn]] void Rethrow() const override;
    [[noreturn]] void Throw() const override;
  };

  InvalidArgument() noexcept;
  ~InvalidArgument() override;

  Type* _GetType() const override;
  unsigned _GetSize(RoundFn r) const override;
  Any* _Clone() const override;
  bool _IsEqual(const Any* other, bool lenient) const override;
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override;
  DataObjectType* _GetDataType() const override;
  [[noreturn]] void Throw() override;

  // Null when unset.
  const PropertyPath* GetInvalidProperty() const noexcept {
    return invalidProperty_.IsSet() ? &invalidProperty_.GetValue() : nullptr;
  }
  void SetInvalidProperty(const PropertyPath& value) { invalidProperty_ = value; }
  // Null unsets.
  void SetInvalidProperty(const PropertyPath* value) {
    if (value) {
      invalidProperty_ = *value;
    } else {
      invalidProperty_.Unset();
    }
  }

  static const FieldInfo _fields[];
  static const DataLayout _layout;

 protected:
  InvalidArgument(const InvalidArgument& other);

 private:
  Basekit::Optional<PropertyPath> invalidProperty_;
};

// An argument's value is not of the type the parameter requires.
class MOVEL_API InvalidType : public RuntimeFault {
 public:
  class MOVEL_API Exception : public RuntimeFault::Exception {
   public:
    explicit Exception(InvalidType* fault) : RuntimeFault::Exception(fault) {}
    InvalidType* GetFault() const noexcept;
    Basekit::Exception* Clone() const override;
    [[noreturn]] void Rethrow() const override;
    [[noreturn]] void Throw() const override;
  };

  InvalidType() noexcept;
  ~InvalidType() override;

  Type* _GetType() const override;
  unsigned _GetSize(RoundFn r) const override;
  Any* _Clone() const override;
  bool _IsEqual(const Any* other, bool lenient) const override;
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override;
  DataObjectType* _GetDataType() const override;
  [[noreturn]] void Throw() override;

  // Null when unset.
  const PropertyPath* GetArgument() const noexcept {
    return argument_.IsSet() ? &argument_.GetValue() : nullptr;
  }
  void SetArgument(const PropertyPath& value) { argument_ = value; }
  // Null unsets.
  void SetArgument(const PropertyPath* value) {
    if (value) {
      argument_ = *value;
    } else {
      argument_.Unset();
    }
  }

  static const FieldInfo _fields[];
  static const DataLayout _layout;

 protected:
  InvalidType(const InvalidType& other);

 private:
  Basekit::Optional<PropertyPath> argument_;
};

// The referenced managed object does not exist (any more).
class MOVEL_API ManagedObjectNotFound : public RuntimeFault {
 public:
  class MOVEL_API Exception : public RuntimeFault::Exception {
   public:
    explicit Exception(ManagedObjectNotFound* fault) : RuntimeFault::Exception(fault) {}
    ManagedObjectNotFound* GetFault() const noexcept;
    Basekit::Exception* Clone() const override;
    [[noreturn]] void Rethrow() const override;
    [[noreturn]] void Throw() const override;
  };

  ManagedObjectNotFound() noexcept;
  ~ManagedObjectNotFound() override;

  Type* _GetType() const override;
  unsigned _GetSize(RoundFn r) const override;
  Any* _Clone() const override;
  bool _IsEqual(const Any* other, bool lenient) const override;
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override;
  DataObjectType* _GetDataType() const override;
  [[noreturn]] void Throw() override;

  MoRef* GetObj() const noexcept { return obj_; }
  // Takes a reference on value.
  void SetObj(MoRef* value) { AssignObject(obj_, value); }

  static const FieldInfo _fields[];
  static const DataLayout _layout;

 protected:
  ManagedObjectNotFound(const ManagedObjectNotFound& other);

 private:
  MoRef* obj_ = nullptr;
};

// The server failed for a reason of its own, described by reason.
class MOVEL_API SystemError : public RuntimeFault {
 public:
  class MOVEL_API Exception : public RuntimeFault::Exception {
   public:
    explicit Exception(SystemError* fault) : RuntimeFault::Exception(fault) {}
    SystemError* GetFault() const noexcept;
    Basekit::Exception* Clone() const override;
    [[noreturn]] void Rethrow() const override;
    [[noreturn]] void Throw() const override;
  };

  SystemError() noexcept = default;
  explicit SystemError(std::string reason) : reason_(std::move(reason)) {}
  ~SystemError() override;

  Type* _GetType() const override;
  unsigned _GetSize(RoundFn r) const override;
  Any* _Clone() const override;
  bool _IsEqual(const Any* other, bool lenient) const override;
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override;
  DataObjectType* _GetDataType() const override;
  [[noreturn]] void Throw() override;

  const std::string& GetReason() const noexcept { return reason_; }
  void SetReason(const std::string& value) { reason_ = value; }

  static const FieldInfo _fields[];
  static const DataLayout _layout;

 protected:
  SystemError(const SystemError& other);

 private:
  std::string reason_;
};

}  // namespace Fault
}  // namespace Movel
