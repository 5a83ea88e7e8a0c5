// The string kinds: text values that the wire distinguishes from plain
// strings (type names, method names, property paths, URIs). Each kind is its
// own class so that one cannot be passed where another is expected; they
// convert from text implicitly and back through str().
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>

namespace Movel {

// Shared implementation of the string kinds. Comparison operators only accept
// two values of the same kind.
template <class Kind>
class StringValue {
 public:
  StringValue() = default;
  StringValue(std::string s) : s_(std::move(s)) {}     // NOLINT: implicit by design
  StringValue(const char* s) : s_(s ? s : "") {}        // NOLINT: implicit by design

  const std::string& str() const noexcept { return s_; }
  std::string& str() noexcept { return s_; }
  bool empty() const noexcept { return s_.empty(); }

  friend bool operator==(const Kind& a, const Kind& b) noexcept { return a.s_ == b.s_; }
  friend bool operator!=(const Kind& a, const Kind& b) noexcept { return a.s_ != b.s_; }
  friend bool operator<(const Kind& a, const Kind& b) noexcept { return a.s_ < b.s_; }
  friend std::ostream& operator<<(std::ostream& os, const Kind& v) { return os << v.s_; }
  friend void swap(Kind& a, Kind& b) noexcept { a.s_.swap(b.s_); }

 private:
  std::string s_;
};

// A dotted wire type name ("kor.VirtualMachine").
class TypeName : public StringValue<TypeName> {
 public:
  using StringValue<TypeName>::StringValue;
};

// A method name ("kor.VirtualMachine.powerOn").
class MethodName : public StringValue<MethodName> {
 public:
  using StringValue<MethodName>::StringValue;
};

// A path through properties ("config.hardware.device[2].key").
class PropertyPath : public StringValue<PropertyPath> {
 public:
  using StringValue<PropertyPath>::StringValue;
};

// A URI.
class Uri : public StringValue<Uri> {
 public:
  using StringValue<Uri>::StringValue;
};

template <class T>
struct IsStringKind : std::false_type {};
template <>
struct IsStringKind<TypeName> : std::true_type {};
template <>
struct IsStringKind<MethodName> : std::true_type {};
template <>
struct IsStringKind<PropertyPath> : std::true_type {};
template <>
struct IsStringKind<Uri> : std::true_type {};

// std::string or one of the string kinds.
template <class T>
constexpr bool kIsStringLike = std::is_same<T, std::string>::value || IsStringKind<T>::value;

}  // namespace Movel

namespace std {
template <>
struct hash<Movel::TypeName> {
  size_t operator()(const Movel::TypeName& v) const noexcept { return hash<string>()(v.str()); }
};
template <>
struct hash<Movel::MethodName> {
  size_t operator()(const Movel::MethodName& v) const noexcept { return hash<string>()(v.str()); }
};
template <>
struct hash<Movel::PropertyPath> {
  size_t operator()(const Movel::PropertyPath& v) const noexcept {
    return hash<string>()(v.str());
  }
};
template <>
struct hash<Movel::Uri> {
  size_t operator()(const Movel::Uri& v) const noexcept { return hash<string>()(v.str()); }
};
}  // namespace std
