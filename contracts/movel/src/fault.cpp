// Faults and their exceptions.
#include "movel/fault.h"

#include "internal.h"

#include "movel/message.h"
#include "movel/type.h"

namespace Movel {
namespace {

// The message of every fault exception (what()): the fault's one-line
// message (movel/message.h) when the exception is made, that is its type's
// template, or its type's name and set properties.
std::string DescribeFault(const MethodFault* fault) {
  if (!fault) return "null fault";
  return RenderMessage(fault);
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

MethodFault::MethodFault() noexcept = default;
MOVEL_DEFINE_LAYOUT_MEMBERS(MethodFault, DynamicData)
Type* MethodFault::_GetType() const { return GetDoType<MethodFault>(); }
DataObjectType* MethodFault::_GetDataType() const { return GetDoType<MethodFault>(); }
Any* MethodFault::_Clone() const { return new MethodFault(*this); }

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
  unsigned Name::_GetSize(RoundFn r) const { return FieldsSize(this, _layout, r); }

// A fault class with own members: its operations run from its layout.
#define MOVEL_DEFINE_MEMBER_FAULT(Name, Parent) \
  MOVEL_DEFINE_FAULT_COMMON(Name, Parent)       \
  MOVEL_DEFINE_LAYOUT_MEMBERS(Name, Parent)

MOVEL_DEFINE_PLAIN_FAULT(RuntimeFault, MethodFault)

namespace Fault {

MOVEL_DEFINE_PLAIN_FAULT(NotEnoughLicenses, MethodFault)
MOVEL_DEFINE_PLAIN_FAULT(NotSupported, RuntimeFault)
MOVEL_DEFINE_PLAIN_FAULT(RequestCanceled, RuntimeFault)
MOVEL_DEFINE_PLAIN_FAULT(SecurityError, RuntimeFault)

MOVEL_DEFINE_MEMBER_FAULT(InvalidArgument, RuntimeFault)
InvalidArgument::InvalidArgument() noexcept = default;

MOVEL_DEFINE_MEMBER_FAULT(InvalidType, RuntimeFault)
InvalidType::InvalidType() noexcept = default;

MOVEL_DEFINE_MEMBER_FAULT(ManagedObjectNotFound, RuntimeFault)
ManagedObjectNotFound::ManagedObjectNotFound() noexcept = default;

MOVEL_DEFINE_MEMBER_FAULT(SystemError, RuntimeFault)

}  // namespace Fault

#undef MOVEL_DEFINE_PLAIN_FAULT
#undef MOVEL_DEFINE_MEMBER_FAULT
#undef MOVEL_DEFINE_FAULT_COMMON

}  // namespace Movel
