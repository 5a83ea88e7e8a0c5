// Conversions between enumeration values, their boxes and arrays, and their
// names, as registered with each enumeration type (EnumFuncs).
//
// E is a C++ enumeration whose enumerators are numbered like the type's
// values: 0 for the first value string, 1 for the next, and so on.
#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>

#include "basekit/ref.h"
#include "movel/any.h"
#include "movel/array.h"
#include "movel/primitive.h"
#include "movel/records.h"
#include "movel/type.h"

namespace Movel {

template <class E>
struct EnumFunctions {
  static_assert(std::is_enum<E>::value, "EnumFunctions is for enumerations");

  // The integer in a box of E; null or another class throws
  // TypeMismatchException.
  static int UnboxValue(Any* boxed) {
    if (!boxed) Basekit::ThrowTypeMismatchException(typeid(Primitive<E>), typeid(std::nullptr_t));
    return static_cast<int>(NarrowAny<Primitive<E>>(boxed)->GetValue());
  }
  // A new box (no reference taken).
  static Any* BoxValue(int value) { return new Primitive<E>(static_cast<E>(value)); }
  // out receives an Array<std::string> of the names of an Array<E>'s values;
  // a null array gives null.
  static void NamesFromArray(Any* array, Basekit::Ref<Any>& out, const EnumType* type) {
    Array<E>* values = NarrowAny<Array<E>>(array);
    if (!values) {
      out = nullptr;
      return;
    }
    Basekit::Ref<Array<std::string>> names(new Array<std::string>);
    names->GetValues().reserve(values->GetValues().size());
    for (E v : values->GetValues()) names->Append(type->ToName(static_cast<int>(v)));
    out = names.Get();
  }
  // A new Array<E> (no reference taken) from an Array<std::string> of
  // names; an unknown name throws InvalidEnumValue. Null gives null.
  static Any* ArrayFromNames(Any* names, const EnumType* type) {
    Array<std::string>* strings = NarrowAny<Array<std::string>>(names);
    if (!strings) return nullptr;
    std::unique_ptr<Array<E>> values(new Array<E>);
    values->GetValues().reserve(strings->GetValues().size());
    for (const std::string& s : strings->GetValues()) {
      values->Append(static_cast<E>(type->ToInt(s)));
    }
    return values.release();
  }
  // A new empty Array<E> (no reference taken).
  static Any* CreateEnumArray() { return new Array<E>; }

  static constexpr EnumFuncs kFuncs = {&UnboxValue, &BoxValue, &NamesFromArray,
                                       &ArrayFromNames, &CreateEnumArray};
};

}  // namespace Movel
