// Boxing and unboxing of method arguments and results, shared by the
// generated dispatch functions and stubs.
//
// Pointer kinds travel as themselves (the vector or slot takes a reference);
// scalars travel in a Primitive<T> of their exact type, enumerations in their
// own Primitive<E>; an unset optional travels as null.
#pragma once

#include <cstddef>
#include <typeinfo>

#include "basekit/optional.h"
#include "basekit/ref.h"
#include "basekit/throwable.h"
#include "movel/array.h"
#include "movel/export.h"
#include "movel/primitive.h"

namespace Movel {

// The argument at index i, or null when the vector is shorter.
inline Any* ArgAt(Basekit::RefVector<Any>& args, std::size_t i) {
  return i < args.size() ? args[i].Get() : nullptr;
}

// A required scalar: the slot must hold a box of exactly T.
template <class T>
T UnboxValue(Any* slot) {
  if (!slot) Basekit::ThrowTypeMismatchException(typeid(Primitive<T>), typeid(std::nullptr_t));
  return NarrowAny<Primitive<T>>(slot)->GetValue();
}

// An optional scalar: unset for a null slot.
template <class T>
Basekit::Optional<T> UnboxOptional(Any* slot) {
  if (!slot) return Basekit::Optional<T>();
  return Basekit::Optional<T>(NarrowAny<Primitive<T>>(slot)->GetValue());
}

template <class T>
Any* BoxValue(const T& value) {
  return new Primitive<T>(value);
}

template <class T>
Any* BoxOptional(const Basekit::Optional<T>& value) {
  return value.IsSet() ? new Primitive<T>(value.GetValue()) : nullptr;
}

// Clears a result slot: takes the value out, leaves the slot null, then
// releases the old value.
inline void ClearResult(Basekit::Ref<Any>& result) {
  Basekit::Ref<Any> old;
  old.Swap(result);
}

// The target of a dispatch, narrowed to the interface; a target of another
// class throws the type-mismatch exception.
template <class I, class M>
I* NarrowTarget(M* target) {
  if (!target) return nullptr;
  I* typed = dynamic_cast<I*>(target);
  if (!typed) Basekit::ThrowTypeMismatchException(typeid(I), typeid(*target));
  return typed;
}

// An array answer: null becomes a new empty array of the declared class.
template <class A>
A* NarrowArray(Any* answer) {
  A* array = NarrowAny<A>(answer);
  return array ? array : new A();
}

}  // namespace Movel

namespace Movel {

// Answers an operation an implementation does not serve: throws the
// NotSupported fault, naming the operation in its message.
[[noreturn]] MOVEL_API void ThrowNotImplemented(const char* operation);

}  // namespace Movel
