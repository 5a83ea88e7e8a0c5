// Helpers the generated bindings share beyond the value classes: optional
// string members.
#pragma once

#include <string>

#include "movel/data_slots.h"

namespace Movel {

// An optional string member is a separately allocated string, null when
// unset; the allocation rule is the runtime's own optional-value slot.
inline void SetOptionalString(std::string*& member, const std::string& value) {
  slot::SetOptional(member, &value);
}

inline void UnsetOptionalString(std::string*& member) {
  slot::SetOptional<std::string>(member, nullptr);
}

inline bool OptionalStringsEqual(const std::string* a, const std::string* b) {
  return a == b || (a && b && *a == *b);
}

}  // namespace Movel
