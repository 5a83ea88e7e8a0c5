// Memory accounting of values. Every value reports the bytes it owns through
// _GetSize(R), where R rounds one allocation's size the way the caller's
// allocator would (R(0) may be non-zero: it stands for an allocation's
// overhead, or for a slot that holds nothing).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "movel/export.h"
#include "movel/strings.h"

namespace Movel {

using RoundFn = unsigned (*)(unsigned);

// True when the string's text lives outside the string object, i.e. it has
// outgrown the inline buffer and owns a heap block.
inline bool OwnsHeapText(const std::string& s) noexcept {
  const char* begin = reinterpret_cast<const char*>(&s);
  const char* data = s.data();
  return std::less<const char*>()(data, begin) ||
         !std::less<const char*>()(data, begin + sizeof(std::string));
}

// The heap block of a string: R(capacity) when it owns one, else R(0).
inline unsigned GetExtraSize(RoundFn r, const std::string& s) {
  return r(OwnsHeapText(s) ? static_cast<unsigned>(s.capacity()) : 0u);
}
template <class Kind>
inline unsigned GetExtraSize(RoundFn r, const StringValue<Kind>& s) {
  return GetExtraSize(r, s.str());
}

// A vector's storage block, R(0) when it has none.
template <class T>
inline unsigned GetVectorStorageSize(RoundFn r, const std::vector<T>& v) {
  return r(static_cast<unsigned>(v.capacity() * sizeof(T)));
}

// A vector of strings or string kinds: its storage plus each element's text.
template <class T, class = std::enable_if_t<kIsStringLike<T>>>
inline unsigned GetExtraSize(RoundFn r, const std::vector<T>& v) {
  unsigned total = GetVectorStorageSize(r, v);
  for (const T& s : v) total += GetExtraSize(r, s);
  return total;
}

// A vector of binaries: its storage plus each element's bytes.
inline unsigned GetExtraSize(RoundFn r, const std::vector<std::vector<unsigned char>>& v) {
  unsigned total = GetVectorStorageSize(r, v);
  for (const auto& b : v) total += GetVectorStorageSize(r, b);
  return total;
}

// Bytes a boxed value owns outside the box, before rounding.
inline unsigned GetPrimitiveExtraSize(const std::string& s) noexcept {
  return OwnsHeapText(s) ? static_cast<unsigned>(s.capacity()) : 0u;
}
inline unsigned GetPrimitiveExtraSize(const std::vector<unsigned char>& v) noexcept {
  return static_cast<unsigned>(v.capacity());
}
inline unsigned GetPrimitiveExtraSize(const TypeName& s) noexcept {
  return GetPrimitiveExtraSize(s.str());
}
inline unsigned GetPrimitiveExtraSize(const MethodName& s) noexcept {
  return GetPrimitiveExtraSize(s.str());
}

}  // namespace Movel
