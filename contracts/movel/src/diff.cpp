// The generic equality and diff entry points.
#include "movel/diff.h"

#include <typeinfo>

#include "movel/any.h"

namespace Movel {

bool AreEqualAnysInt(const Any* a, const Any* b, Word flags, bool lenient) {
  if (!a || !b) {
    if (!a && !b) return true;
    // A lenient comparison treats an optional value the second side leaves
    // unset as agreeing with the first.
    return lenient && a && !b && (flags & kFlagOptional);
  }
  if (typeid(*a) != typeid(*b)) return false;
  return a->_IsEqual(b, lenient);
}

void DiffAnyPropertiesInt(const Any* a, const Any* b, const std::string& path, Word /*flags*/,
                          PropertyDiffSet& set) {
  if (!a && !b) return;
  if (!a || !b || typeid(*a) != typeid(*b)) {
    set.Append(path);
    return;
  }
  a->_DiffProperties(b, path, set);
}

std::string JoinPropertyPath(const std::string& prefix, const char* name) {
  std::string path;
  path.reserve(prefix.size() + 1 + std::char_traits<char>::length(name));
  path += prefix;
  path += '.';
  path += name;
  return path;
}

}  // namespace Movel
