// Helpers the generated bindings share beyond the value classes: optional
// string members.
#pragma once

#include <string>

namespace Movel {

// An optional string member is a separately allocated string, null when
// unset. These keep the allocation rules in one place.
inline void SetOptionalString(std::string*& member, const std::string& value) {
  if (member) {
    *member = value;
  } else {
    member = new std::string(value);
  }
}

inline void UnsetOptionalString(std::string*& member) {
  delete member;
  member = nullptr;
}

inline bool OptionalStringsEqual(const std::string* a, const std::string* b) {
  return a == b || (a && b && *a == *b);
}

}  // namespace Movel
