// Boxed primitive values, and the runtime types of the primitive kinds.
#pragma once

#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "basekit/datetime.h"
#include "basekit/throwable.h"
#include "movel/any.h"
#include "movel/diff.h"
#include "movel/export.h"
#include "movel/size.h"
#include "movel/strings.h"
#include "movel/type.h"

namespace Movel {

// The runtime type of a primitive C++ type ("int" for int, "long" for long
// long, "binary" for std::vector<unsigned char>, ...). Specialised for each
// primitive kind below; other types have no primitive type.
template <class T>
Type* GetNoType();
template <>
MOVEL_API Type* GetNoType<bool>();
template <>
MOVEL_API Type* GetNoType<signed char>();
template <>
MOVEL_API Type* GetNoType<short>();
template <>
MOVEL_API Type* GetNoType<int>();
template <>
MOVEL_API Type* GetNoType<long long>();
template <>
MOVEL_API Type* GetNoType<float>();
template <>
MOVEL_API Type* GetNoType<double>();
template <>
MOVEL_API Type* GetNoType<std::string>();
template <>
MOVEL_API Type* GetNoType<Basekit::System::DateTime>();
template <>
MOVEL_API Type* GetNoType<std::vector<unsigned char>>();
template <>
MOVEL_API Type* GetNoType<TypeName>();
template <>
MOVEL_API Type* GetNoType<MethodName>();
template <>
MOVEL_API Type* GetNoType<PropertyPath>();
template <>
MOVEL_API Type* GetNoType<Uri>();

// The "anyType" type: the element type of arrays of arbitrary values.
MOVEL_API Type* GetAnyType();

// The type of a value kind: its enumeration type for enums, its primitive
// type otherwise.
template <class T>
Type* GetValueType() {
  if constexpr (std::is_enum<T>::value) {
    return GetEnumType<T>();
  } else {
    return GetNoType<T>();
  }
}

// A box holding one primitive or enumeration value. Boxes never change after
// construction, so copies share them: _Clone returns the box itself.
template <class T>
class Primitive : public Any {
 public:
  explicit Primitive(T v) : value_(std::move(v)) {}

  const T& GetValue() const noexcept { return value_; }

  Type* _GetType() const override { return GetValueType<T>(); }

  unsigned _GetSize(RoundFn r) const override {
    if constexpr (std::is_same<T, std::string>::value ||
                  std::is_same<T, std::vector<unsigned char>>::value ||
                  std::is_same<T, TypeName>::value || std::is_same<T, MethodName>::value) {
      return r(sizeof(*this)) + r(GetPrimitiveExtraSize(value_));
    } else {
      return r(sizeof(*this));
    }
  }

  Any* _Clone() const override { return const_cast<Primitive*>(this); }

  // other must be a box of the same class: comparing a string box with an int
  // box is a caller error and throws TypeMismatchException. Floating NaN is
  // never equal, not even to itself.
  bool _IsEqual(const Any* other, bool /*lenient*/) const override {
    if (!other) return false;
    const auto* o = dynamic_cast<const Primitive*>(other);
    if (!o) Basekit::ThrowTypeMismatchException(typeid(Primitive), typeid(*other));
    return value_ == o->value_;
  }

  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override {
    if (!_IsEqual(other, false)) set.Append(path);
  }

 private:
  const T value_;
};

}  // namespace Movel
