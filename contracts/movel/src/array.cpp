// Arrays of counted references.
#include "movel/array.h"

#include <typeinfo>

namespace Movel {

DataArrayBase::DataArrayBase(const DataArrayBase& other) : Collection(other), check_(other.check_) {
  items_.reserve(other.items_.size());
  try {
    for (const Any* p : other.items_) items_.push_back(CloneOwned(p));
  } catch (...) {
    Clear();
    throw;
  }
}

DataArrayBase::~DataArrayBase() { Clear(); }

unsigned DataArrayBase::_GetSize(RoundFn r) const {
  unsigned total = r(static_cast<unsigned>(sizeof(DataArrayBase))) +
                   r(static_cast<unsigned>(items_.capacity() * sizeof(Any*)));
  for (const Any* p : items_) {
    if (p) total += p->_GetSize(r);
  }
  return total;
}

bool DataArrayBase::_IsEqual(const Any* other, bool lenient) const {
  if (!other || typeid(*other) != typeid(*this)) return false;
  const auto& theirs = static_cast<const DataArrayBase*>(other)->items_;
  if (theirs.size() != items_.size()) return false;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (!AreEqualAnysInt(items_[i], theirs[i], 0, lenient)) return false;
  }
  return true;
}

void DataArrayBase::_DiffProperties(const Any* other, const std::string& path,
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
  for (std::size_t i = 0; i < items_.size(); ++i) {
    DiffAnyPropertiesInt(items_[i], theirs[i], path + "[" + std::to_string(i) + "]", 0, set);
  }
}

Any* DataArrayBase::GetAt(int i) const {
  BASEKIT_VERIFY(i >= 0 && static_cast<std::size_t>(i) < items_.size());
  return items_[static_cast<std::size_t>(i)];
}

void DataArrayBase::Append(Any* p) {
  check_(p);
  items_.push_back(p);  // may throw; nothing is owned yet
  if (p) p->IncRef();
}

void DataArrayBase::SetAt(int i, Any* p) {
  BASEKIT_VERIFY(i >= 0 && static_cast<std::size_t>(i) < items_.size());
  check_(p);
  if (p) p->IncRef();
  Any* old = items_[static_cast<std::size_t>(i)];
  items_[static_cast<std::size_t>(i)] = p;
  if (old) old->DecRef();
}

void DataArrayBase::Erase(int i) {
  BASEKIT_VERIFY(i >= 0 && static_cast<std::size_t>(i) < items_.size());
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
