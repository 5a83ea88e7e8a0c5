// Arrays of counted references.
#include "movel/array.h"

#include <stdexcept>
#include <string>
#include <typeinfo>

#include "basekit/ref.h"
#include "internal.h"
#include "movel/fields.h"
#include "movel/type.h"

namespace Movel {

namespace detail {
void ThrowIndexOutOfRange(const char* operation, int index, std::size_t size) {
  throw std::out_of_range(std::string(operation) + ": index " + std::to_string(index) +
                          " is outside the array of " + std::to_string(size) + " elements");
}
}  // namespace detail

DataArrayBase::DataArrayBase(const DataArrayBase& other) : Collection(other), check_(other.check_) {
  detail::DepthScope depth("clone");
  items_.reserve(other.items_.size());
  try {
    for (const Any* p : other.items_) items_.push_back(CloneOwned(p));
  } catch (...) {
    Clear();
    throw;
  }
}

DataArrayBase::~DataArrayBase() { Clear(); }

unsigned DataArrayBase::SizeOfItems(RoundFn r) const {
  const Type* element = GetElementType();
  return detail::SizeOfItems(this, element && element->IsDataObject() && !element->IsArray(), r);
}

bool DataArrayBase::EqualItems(const Any* other, bool lenient) const {
  if (!other || typeid(*other) != typeid(*this)) return false;
  const auto& theirs = static_cast<const DataArrayBase*>(other)->items_;
  if (theirs.size() != items_.size()) return false;
  detail::DepthScope depth("equality");
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (!AreEqualAnysInt(items_[i], theirs[i], 0, lenient)) return false;
  }
  return true;
}

void DataArrayBase::DiffItems(const Any* other, const std::string& path,
                              PropertyDiffSet& set) const {
  if (!other || typeid(*other) != typeid(*this)) {
    set.Append(path);
    return;
  }
  const auto& theirs = static_cast<const DataArrayBase*>(other)->items_;
  if (theirs.size() != items_.size()) {
    set.Append(path);
    return;
  }
  detail::DepthScope depth("diff");
  for (std::size_t i = 0; i < items_.size(); ++i) {
    DiffAnyPropertiesInt(items_[i], theirs[i], path + "[" + std::to_string(i) + "]", 0, set);
  }
}

void DataArrayBase::CheckIndex(const char* operation, int i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= items_.size()) {
    detail::ThrowIndexOutOfRange(operation, i, items_.size());
  }
}

Any* DataArrayBase::GetAt(int i) const {
  CheckIndex("DataArray::GetAt", i);
  return items_[static_cast<std::size_t>(i)];
}

// The value is held before anything can fail, so a fresh value that is
// refused (wrong class, bad index, no memory) is released rather than leaked.
void DataArrayBase::Append(Any* p) {
  Basekit::Ref<Any> hold(p);
  check_(p);
  items_.push_back(p);
  hold.Release();  // the array's reference now
}

void DataArrayBase::SetAt(int i, Any* p) {
  Basekit::Ref<Any> hold(p);
  CheckIndex("DataArray::SetAt", i);
  check_(p);
  hold.Release();
  Any* old = items_[static_cast<std::size_t>(i)];
  items_[static_cast<std::size_t>(i)] = p;
  if (old) old->DecRef();
}

void DataArrayBase::Erase(int i) {
  CheckIndex("DataArray::Erase", i);
  Any* old = items_[static_cast<std::size_t>(i)];
  items_.erase(items_.begin() + i);
  if (old) old->DecRef();
}

void DataArrayBase::Clear() {
  std::vector<Any*> old;
  old.swap(items_);
  for (Any* p : old) {
    if (p) p->DecRef();
  }
}

}  // namespace Movel
