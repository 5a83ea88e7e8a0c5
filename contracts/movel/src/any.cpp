// Reference counting and default behaviour of values.
#include "movel/any.h"

#include "movel/collection.h"
#include "movel/type.h"

namespace Movel {

void Any::IncRef() const { refCount_.fetch_add(1, std::memory_order_relaxed); }

void Any::DecRef() const {
  if (refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

int Any::GetRefCount() const { return refCount_.load(std::memory_order_relaxed); }

std::string Any::ToString() const {
  const Type* type = _GetType();
  return type ? type->GetName() : Basekit::DemangleTypeName(typeid(*this).name());
}

Any::~Any() = default;

unsigned Any::_GetSize(RoundFn r) const { return r(static_cast<unsigned>(sizeof(Any))); }

// Values without members of their own are equal to any value of their class.
bool Any::_IsEqual(const Any* other, bool /*lenient*/) const {
  return other && typeid(*other) == typeid(*this);
}

void Any::_DiffProperties(const Any* other, const std::string& path, PropertyDiffSet& set) const {
  if (!_IsEqual(other, false)) set.Append(path);
}

Collection::~Collection() = default;

}  // namespace Movel
