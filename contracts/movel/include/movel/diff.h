// Comparing values and listing what differs between two of them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "movel/export.h"
#include "movel/records.h"
#include "movel/strings.h"

namespace Movel {

class Any;

// The property paths that differ between two values, in the order they were
// found (inherited properties before own ones, array elements by index).
class MOVEL_API PropertyDiffSet {
 public:
  void Append(PropertyPath path) { changed_.push_back(std::move(path)); }
  const std::vector<PropertyPath>& GetChanged() const noexcept { return changed_; }
  std::size_t size() const noexcept { return changed_.size(); }
  bool empty() const noexcept { return changed_.empty(); }
  void clear() noexcept { changed_.clear(); }

 private:
  std::vector<PropertyPath> changed_;
};

// Deep equality of two values. Null equals null only, except that with
// lenient set, an unset b compares equal to anything when flags has
// kFlagOptional: "b does not say" counts as agreement. Values of different
// dynamic classes are unequal; otherwise a->_IsEqual(b, lenient) decides.
MOVEL_API bool AreEqualAnysInt(const Any* a, const Any* b, Word flags, bool lenient);

// Appends to set the paths under path at which a and b differ. A value on one
// side only, or values of different classes, count as one change at path;
// data objects report their differing leaves, arrays of objects their
// differing elements by index, other arrays, boxes and references themselves.
MOVEL_API void DiffAnyPropertiesInt(const Any* a, const Any* b, const std::string& path, Word flags,
                                    PropertyDiffSet& set);

// The path of a property below prefix: always "prefix.name", so an empty
// prefix gives ".name".
MOVEL_API std::string JoinPropertyPath(const std::string& prefix, const char* name);

}  // namespace Movel
