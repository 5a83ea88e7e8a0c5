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
  MethodFault* GetFaultCause() const noexcept { return slot::Load(faultCause_); }
  // Takes a reference on value; null clears.
  void SetFaultCause(MethodFault* value) { slot::Assign(faultCause_, value); }
  // Null when absent.
  DataArray<LocalizableMessage>* GetFaultMessage() const noexcept {
    return slot::Load(faultMessage_);
  }
  DataArray<LocalizableMessage>* GetOrCreateFaultMessage() {
    return slot::GetOrCreate(faultMessage_);
  }
  void SetFaultMessage(DataArray<LocalizableMessage>* value) {
    slot::Assign(faultMessage_, value);
  }

  template <class Self, class F>
  static bool _VisitOwnProperty(Self& self, int index, F&& f) {
    switch (index) {
      case 0:
        f(self.faultCause_, kFlagOptional);
        return true;
      case 1:
        f(self.faultMessage_, kFlagOptional | kFlagArray);
        return true;
      default:
        return false;
    }
  }

 protected:
  MethodFault(const MethodFault& other);
  unsigned _GetMembersSize(RoundFn r) const;

 private:
  MethodFault* faultCause_;
  DataArray<LocalizableMessage>* faultMessage_;
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

  template <class Self, class F>
  static bool _VisitOwnProperty(Self&, int, F&&) {
    return false;
  }

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
    template <class Self, class F>                                           \
    static bool _VisitOwnProperty(Self&, int, F&&) {                         \
      return false;                                                          \
    }                                                                        \
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

  const PropertyPath* GetInvalidProperty() const noexcept { return invalidProperty_; }
  void SetInvalidProperty(const PropertyPath& value) {
    slot::SetOptional(invalidProperty_, &value);
  }
  void SetInvalidProperty(const PropertyPath* value) {
    slot::SetOptional(invalidProperty_, value);
  }

  template <class Self, class F>
  static bool _VisitOwnProperty(Self& self, int index, F&& f) {
    if (index != 0) return false;
    f(self.invalidProperty_, kFlagOptional);
    return true;
  }

 protected:
  InvalidArgument(const InvalidArgument& other);
  unsigned _GetMembersSize(RoundFn r) const;

 private:
  PropertyPath* invalidProperty_;
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

  const PropertyPath* GetArgument() const noexcept { return argument_; }
  void SetArgument(const PropertyPath& value) { slot::SetOptional(argument_, &value); }
  void SetArgument(const PropertyPath* value) { slot::SetOptional(argument_, value); }

  template <class Self, class F>
  static bool _VisitOwnProperty(Self& self, int index, F&& f) {
    if (index != 0) return false;
    f(self.argument_, kFlagOptional);
    return true;
  }

 protected:
  InvalidType(const InvalidType& other);
  unsigned _GetMembersSize(RoundFn r) const;

 private:
  PropertyPath* argument_;
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

  MoRef* GetObj() const noexcept { return slot::Load(obj_); }
  // Takes a reference on value.
  void SetObj(MoRef* value) { slot::Assign(obj_, value); }

  template <class Self, class F>
  static bool _VisitOwnProperty(Self& self, int index, F&& f) {
    if (index != 0) return false;
    f(self.obj_, Word{0});
    return true;
  }

 protected:
  ManagedObjectNotFound(const ManagedObjectNotFound& other);
  unsigned _GetMembersSize(RoundFn r) const;

 private:
  MoRef* obj_;
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

  template <class Self, class F>
  static bool _VisitOwnProperty(Self& self, int index, F&& f) {
    if (index != 0) return false;
    f(self.reason_, Word{0});
    return true;
  }

 protected:
  SystemError(const SystemError& other);
  unsigned _GetMembersSize(RoundFn r) const;

 private:
  std::string reason_;
};

}  // namespace Fault
}  // namespace Movel
