// Faults and their exceptions.
#include "movel/fault.h"

#include "movel/type.h"

namespace Movel {
namespace {

// "<fault type>" or "<fault type>: <first message>", where the message is the
// rendered text, or the catalog key when no text was sent.
std::string DescribeFault(const MethodFault* fault) {
  if (!fault) return "null fault";
  const Type* type = fault->_GetType();
  std::string text = type ? type->GetName() : Basekit::DemangleTypeName(typeid(*fault).name());
  const DataArray<LocalizableMessage>* messages = fault->GetFaultMessage();
  if (messages && messages->GetLength() > 0 && messages->Get(0)) {
    const LocalizableMessage* first = messages->Get(0);
    const std::string& shown = first->GetMessage() ? *first->GetMessage() : first->GetKey();
    if (!shown.empty()) text += ": " + shown;
  }
  return text;
}

}  // namespace

// ---- MethodFault ----

MethodFault::Exception::Exception(MethodFault* fault)
    : Basekit::Exception(DescribeFault(fault)), fault_(fault) {}
MethodFault::Exception::Exception(const Exception& other) = default;
MethodFault::Exception::~Exception() = default;
Basekit::Exception* MethodFault::Exception::Clone() const { return new Exception(*this); }
void MethodFault::Exception::Rethrow() const { throw *this; }
void MethodFault::Exception::Throw() const { throw *this; }

MethodFault::MethodFault() noexcept : faultCause_(nullptr), faultMessage_(nullptr) {}

MethodFault::MethodFault(const MethodFault& other)
    : DynamicData(other), faultCause_(nullptr), faultMessage_(nullptr) {
  slot::Copy(faultCause_, other.faultCause_);
  try {
    slot::Copy(faultMessage_, other.faultMessage_);
  } catch (...) {
    slot::Release(faultCause_);
    throw;
  }
}

MethodFault::~MethodFault() {
  slot::Release(faultMessage_);
  slot::Release(faultCause_);
}

Type* MethodFault::_GetType() const { return GetDoType<MethodFault>(); }
DataObjectType* MethodFault::_GetDataType() const { return GetDoType<MethodFault>(); }

unsigned MethodFault::_GetMembersSize(RoundFn r) const {
  return DynamicData::_GetMembersSize(r) + slot::OwnedSize(r, faultCause_) +
         slot::OwnedSize(r, faultMessage_);
}

unsigned MethodFault::_GetSize(RoundFn r) const {
  return r(static_cast<unsigned>(sizeof(MethodFault))) + _GetMembersSize(r);
}

Any* MethodFault::_Clone() const { return new MethodFault(*this); }

bool MethodFault::_IsEqual(const Any* other, bool lenient) const {
  const auto* o = dynamic_cast<const MethodFault*>(other);
  return o && DynamicData::_IsEqual(other, lenient) &&
         slot::Equal(faultCause_, o->faultCause_, kFlagOptional, lenient) &&
         slot::Equal(faultMessage_, o->faultMessage_, kFlagOptional | kFlagArray, lenient);
}

void MethodFault::_DiffProperties(const Any* other, const std::string& path,
                                  PropertyDiffSet& set) const {
  const auto* o = dynamic_cast<const MethodFault*>(other);
  if (!o) {
    set.Append(path);
    return;
  }
  DynamicData::_DiffProperties(other, path, set);
  slot::Diff(faultCause_, o->faultCause_, JoinPropertyPath(path, "faultCause"), kFlagOptional,
             set);
  slot::Diff(faultMessage_, o->faultMessage_, JoinPropertyPath(path, "faultMessage"),
             kFlagOptional | kFlagArray, set);
}

void MethodFault::Throw() { throw Exception(this); }

// ---- fault classes without own members ----

// The members every fault class has, for a class whose own members (if any)
// are handled by hand.
#define MOVEL_DEFINE_FAULT_COMMON(Name, Parent)                                                 \
  Name* Name::Exception::GetFault() const noexcept {                                            \
    return static_cast<Name*>(MethodFault::Exception::GetFault());                              \
  }                                                                                             \
  Basekit::Exception* Name::Exception::Clone() const { return new Exception(*this); }          \
  void Name::Exception::Rethrow() const { throw *this; }                                        \
  void Name::Exception::Throw() const { throw *this; }                                          \
  Type* Name::_GetType() const { return GetDoType<Name>(); }                                    \
  DataObjectType* Name::_GetDataType() const { return GetDoType<Name>(); }                      \
  Any* Name::_Clone() const { return new Name(*this); }                                         \
  void Name::Throw() { throw Exception(this); }

#define MOVEL_DEFINE_PLAIN_FAULT(Name, Parent)                                                  \
  MOVEL_DEFINE_FAULT_COMMON(Name, Parent)                                                       \
  Name::~Name() = default;                                                                      \
  unsigned Name::_GetSize(RoundFn r) const {                                                    \
    return r(static_cast<unsigned>(sizeof(Name))) + _GetMembersSize(r);                         \
  }

MOVEL_DEFINE_PLAIN_FAULT(RuntimeFault, MethodFault)

namespace Fault {

MOVEL_DEFINE_PLAIN_FAULT(NotEnoughLicenses, MethodFault)
MOVEL_DEFINE_PLAIN_FAULT(NotSupported, RuntimeFault)
MOVEL_DEFINE_PLAIN_FAULT(RequestCanceled, RuntimeFault)
MOVEL_DEFINE_PLAIN_FAULT(SecurityError, RuntimeFault)

// ---- InvalidArgument ----

MOVEL_DEFINE_FAULT_COMMON(InvalidArgument, RuntimeFault)

InvalidArgument::InvalidArgument() noexcept : invalidProperty_(nullptr) {}
InvalidArgument::InvalidArgument(const InvalidArgument& other)
    : RuntimeFault(other), invalidProperty_(nullptr) {
  slot::Copy(invalidProperty_, other.invalidProperty_);
}
InvalidArgument::~InvalidArgument() { slot::Release(invalidProperty_); }

unsigned InvalidArgument::_GetMembersSize(RoundFn r) const {
  return RuntimeFault::_GetMembersSize(r) + slot::OwnedSize(r, invalidProperty_);
}
unsigned InvalidArgument::_GetSize(RoundFn r) const {
  return r(static_cast<unsigned>(sizeof(InvalidArgument))) + _GetMembersSize(r);
}

bool InvalidArgument::_IsEqual(const Any* other, bool lenient) const {
  const auto* o = dynamic_cast<const InvalidArgument*>(other);
  return o && RuntimeFault::_IsEqual(other, lenient) &&
         slot::Equal(invalidProperty_, o->invalidProperty_, kFlagOptional, lenient);
}

void InvalidArgument::_DiffProperties(const Any* other, const std::string& path,
                                      PropertyDiffSet& set) const {
  const auto* o = dynamic_cast<const InvalidArgument*>(other);
  if (!o) {
    set.Append(path);
    return;
  }
  RuntimeFault::_DiffProperties(other, path, set);
  slot::Diff(invalidProperty_, o->invalidProperty_, JoinPropertyPath(path, "invalidProperty"),
             kFlagOptional, set);
}

// ---- InvalidType ----

MOVEL_DEFINE_FAULT_COMMON(InvalidType, RuntimeFault)

InvalidType::InvalidType() noexcept : argument_(nullptr) {}
InvalidType::InvalidType(const InvalidType& other) : RuntimeFault(other), argument_(nullptr) {
  slot::Copy(argument_, other.argument_);
}
InvalidType::~InvalidType() { slot::Release(argument_); }

unsigned InvalidType::_GetMembersSize(RoundFn r) const {
  return RuntimeFault::_GetMembersSize(r) + slot::OwnedSize(r, argument_);
}
unsigned InvalidType::_GetSize(RoundFn r) const {
  return r(static_cast<unsigned>(sizeof(InvalidType))) + _GetMembersSize(r);
}

bool InvalidType::_IsEqual(const Any* other, bool lenient) const {
  const auto* o = dynamic_cast<const InvalidType*>(other);
  return o && RuntimeFault::_IsEqual(other, lenient) &&
         slot::Equal(argument_, o->argument_, kFlagOptional, lenient);
}

void InvalidType::_DiffProperties(const Any* other, const std::string& path,
                                  PropertyDiffSet& set) const {
  const auto* o = dynamic_cast<const InvalidType*>(other);
  if (!o) {
    set.Append(path);
    return;
  }
  RuntimeFault::_DiffProperties(other, path, set);
  slot::Diff(argument_, o->argument_, JoinPropertyPath(path, "argument"), kFlagOptional, set);
}

// ---- ManagedObjectNotFound ----

MOVEL_DEFINE_FAULT_COMMON(ManagedObjectNotFound, RuntimeFault)

ManagedObjectNotFound::ManagedObjectNotFound() noexcept : obj_(nullptr) {}
ManagedObjectNotFound::ManagedObjectNotFound(const ManagedObjectNotFound& other)
    : RuntimeFault(other), obj_(nullptr) {
  slot::Copy(obj_, other.obj_);
}
ManagedObjectNotFound::~ManagedObjectNotFound() { slot::Release(obj_); }

unsigned ManagedObjectNotFound::_GetMembersSize(RoundFn r) const {
  return RuntimeFault::_GetMembersSize(r) + slot::OwnedSize(r, obj_);
}
unsigned ManagedObjectNotFound::_GetSize(RoundFn r) const {
  return r(static_cast<unsigned>(sizeof(ManagedObjectNotFound))) + _GetMembersSize(r);
}

bool ManagedObjectNotFound::_IsEqual(const Any* other, bool lenient) const {
  const auto* o = dynamic_cast<const ManagedObjectNotFound*>(other);
  return o && RuntimeFault::_IsEqual(other, lenient) && slot::Equal(obj_, o->obj_, 0, lenient);
}

void ManagedObjectNotFound::_DiffProperties(const Any* other, const std::string& path,
                                            PropertyDiffSet& set) const {
  const auto* o = dynamic_cast<const ManagedObjectNotFound*>(other);
  if (!o) {
    set.Append(path);
    return;
  }
  RuntimeFault::_DiffProperties(other, path, set);
  slot::Diff(obj_, o->obj_, JoinPropertyPath(path, "obj"), 0, set);
}

// ---- SystemError ----

MOVEL_DEFINE_FAULT_COMMON(SystemError, RuntimeFault)

SystemError::SystemError(const SystemError& other) : RuntimeFault(other), reason_(other.reason_) {}
SystemError::~SystemError() = default;

unsigned SystemError::_GetMembersSize(RoundFn r) const {
  return RuntimeFault::_GetMembersSize(r) + slot::OwnedSize(r, reason_);
}
unsigned SystemError::_GetSize(RoundFn r) const {
  return r(static_cast<unsigned>(sizeof(SystemError))) + _GetMembersSize(r);
}

bool SystemError::_IsEqual(const Any* other, bool lenient) const {
  const auto* o = dynamic_cast<const SystemError*>(other);
  return o && RuntimeFault::_IsEqual(other, lenient) && slot::Equal(reason_, o->reason_, 0, lenient);
}

void SystemError::_DiffProperties(const Any* other, const std::string& path,
                                  PropertyDiffSet& set) const {
  const auto* o = dynamic_cast<const SystemError*>(other);
  if (!o) {
    set.Append(path);
    return;
  }
  RuntimeFault::_DiffProperties(other, path, set);
  slot::Diff(reason_, o->reason_, JoinPropertyPath(path, "reason"), 0, set);
}

}  // namespace Fault

#undef MOVEL_DEFINE_PLAIN_FAULT
#undef MOVEL_DEFINE_FAULT_COMMON

}  // namespace Movel
