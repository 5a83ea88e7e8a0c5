// Member helpers shared by every data object class, the runtime's own and the
// generated ones.
//
// A data class has one member per own property. The member's C++ type says
// what kind of property it is:
//   V                    required value (std::string, int, DateTime, enum, ...)
//   V*   (V not a value) optional value, null when unset
//   T*   (T an Any)      object kind: data object, MoRef or Any; owns one
//                        reference, null when unset
//   A*   (A a Collection) array (DataArray<T> or Array<T>); owns one reference,
//                        null when absent; replaced by atomic exchange so that
//                        a reader never sees a half-made array
// The functions below do the per-kind work of the property functions, copy
// constructors, destructors, equality, diff and size accounting, so a class
// spells each member once per operation.
//
// Property function slots (void* in/out):
//   value kinds   a pointer to V (for optional values too: Get of an unset
//                 optional gives V(), Swap of an unset one sets it first)
//   object kinds  Get/Swap: Basekit::Ref<Any>*; Set: Any* const*, checked-
//   and arrays    downcast; Peek gives the held const Any* (null for an
//                 empty array); Get of an array creates it when absent
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "basekit/ref.h"
#include "movel/array.h"
#include "movel/collection.h"
#include "movel/diff.h"
#include "movel/records.h"
#include "movel/size.h"

namespace Movel {

namespace slot {

template <class M>
struct Kind {
  using Pointee = std::remove_pointer_t<M>;
  static constexpr bool kPointer = std::is_pointer<M>::value;
  static constexpr bool kArray = kPointer && std::is_base_of<Collection, Pointee>::value;
  static constexpr bool kObject = kPointer && !kArray && std::is_base_of<Any, Pointee>::value;
  static constexpr bool kOptionalValue = kPointer && !kArray && !kObject;
};

// --- owned pointers (object kinds and arrays) ---

template <class T>
T* Load(T* const& m) noexcept {
  return __atomic_load_n(&m, __ATOMIC_ACQUIRE);
}

// Puts p in m without count changes and returns the previous pointer.
template <class T>
T* Exchange(T*& m, T* p) noexcept {
  return __atomic_exchange_n(&m, p, __ATOMIC_ACQ_REL);
}

// Takes a reference on p, puts it in m and releases the previous value.
template <class T>
void Assign(T*& m, T* p) noexcept {
  if (p) p->IncRef();
  T* old = Exchange(m, p);
  if (old) old->DecRef();
}

// The array held in m, made empty first when absent. Two threads racing here
// both get the same array.
template <class A>
A* GetOrCreate(A*& m) {
  A* current = Load(m);
  if (current) return current;
  A* fresh = new A;
  fresh->IncRef();
  A* expected = nullptr;
  if (__atomic_compare_exchange_n(&m, &expected, fresh, false, __ATOMIC_ACQ_REL,
                                  __ATOMIC_ACQUIRE)) {
    return fresh;
  }
  fresh->DecRef();
  return expected;
}

// --- construction and destruction ---

// Deep copy of src into a default-initialised dst (copy constructors).
template <class M>
void Copy(M& dst, const M& src) {
  if constexpr (Kind<M>::kArray || Kind<M>::kObject) {
    dst = CloneOwned(Load(src));
  } else if constexpr (Kind<M>::kOptionalValue) {
    dst = src ? new std::remove_pointer_t<M>(*src) : nullptr;
  } else {
    dst = src;
  }
}

// Frees what the member owns (destructors).
template <class M>
void Release(M& m) noexcept {
  if constexpr (Kind<M>::kArray || Kind<M>::kObject) {
    auto* old = Exchange(m, static_cast<M>(nullptr));
    if (old) old->DecRef();
  } else if constexpr (Kind<M>::kOptionalValue) {
    delete m;
    m = nullptr;
  }
}

// Replaces an optional value: a copy of *v, or unset when v is null.
template <class V>
void SetOptional(V*& m, const V* v) {
  V* fresh = v ? new V(*v) : nullptr;
  delete m;
  m = fresh;
}

// --- property functions ---

template <class M>
void Get(M& m, void* out) {
  if constexpr (Kind<M>::kArray) {
    *static_cast<Basekit::Ref<Any>*>(out) = GetOrCreate(m);
  } else if constexpr (Kind<M>::kObject) {
    *static_cast<Basekit::Ref<Any>*>(out) = Load(m);
  } else if constexpr (Kind<M>::kOptionalValue) {
    using V = std::remove_pointer_t<M>;
    *static_cast<V*>(out) = m ? *m : V();
  } else {
    *static_cast<M*>(out) = m;
  }
}

template <class M>
const void* Peek(const M& m) {
  if constexpr (Kind<M>::kArray) {
    const auto* a = Load(m);
    return a && a->GetLength() > 0 ? static_cast<const Any*>(a) : nullptr;
  } else if constexpr (Kind<M>::kObject) {
    return static_cast<const Any*>(Load(m));
  } else if constexpr (Kind<M>::kOptionalValue) {
    return m;
  } else {
    return &m;
  }
}

template <class M>
void Set(M& m, const void* in) {
  if constexpr (Kind<M>::kArray || Kind<M>::kObject) {
    Assign(m, NarrowAny<std::remove_pointer_t<M>>(*static_cast<Any* const*>(in)));
  } else if constexpr (Kind<M>::kOptionalValue) {
    SetOptional(m, static_cast<const std::remove_pointer_t<M>*>(in));
  } else {
    m = *static_cast<const M*>(in);
  }
}

template <class M>
void Swap(M& m, void* inout) {
  if constexpr (Kind<M>::kArray || Kind<M>::kObject) {
    auto& ref = *static_cast<Basekit::Ref<Any>*>(inout);
    M incoming = NarrowAny<std::remove_pointer_t<M>>(ref.Get());
    ref.ExchangeRaw(Exchange(m, incoming));
  } else if constexpr (Kind<M>::kOptionalValue) {
    using V = std::remove_pointer_t<M>;
    if (!m) m = new V();
    using std::swap;
    swap(*m, *static_cast<V*>(inout));
  } else {
    using std::swap;
    swap(m, *static_cast<M*>(inout));
  }
}

template <class M>
bool IsSet(const M& m) {
  if constexpr (Kind<M>::kArray) {
    const auto* a = Load(m);
    return a && a->GetLength() > 0;
  } else if constexpr (Kind<M>::kObject) {
    return Load(m) != nullptr;
  } else if constexpr (Kind<M>::kOptionalValue) {
    return m != nullptr;
  } else {
    return true;
  }
}

// Unsets an optional member; required members are left alone.
template <class M>
void Unset(M& m, Word flags) {
  if constexpr (Kind<M>::kOptionalValue) {
    Release(m);
  } else if constexpr (Kind<M>::kArray || Kind<M>::kObject) {
    if (flags & kFlagOptional) Release(m);
  }
}

// --- comparison, diff, size ---

// An empty array counts as absent.
template <class A>
const Any* NonEmpty(const A* a) {
  return a && a->GetLength() > 0 ? a : nullptr;
}

template <class M>
bool Equal(const M& a, const M& b, Word flags, bool lenient) {
  if constexpr (Kind<M>::kArray) {
    return AreEqualAnysInt(NonEmpty(Load(a)), NonEmpty(Load(b)), flags, lenient);
  } else if constexpr (Kind<M>::kObject) {
    return AreEqualAnysInt(Load(a), Load(b), flags, lenient);
  } else if constexpr (Kind<M>::kOptionalValue) {
    if (a && b) return *a == *b;
    if (a && !b) return lenient && (flags & kFlagOptional);
    return !a && !b;
  } else {
    return a == b;
  }
}

template <class M>
void Diff(const M& a, const M& b, const std::string& path, Word flags, PropertyDiffSet& set) {
  if constexpr (Kind<M>::kArray) {
    DiffAnyPropertiesInt(NonEmpty(Load(a)), NonEmpty(Load(b)), path, flags, set);
  } else if constexpr (Kind<M>::kObject) {
    DiffAnyPropertiesInt(Load(a), Load(b), path, flags, set);
  } else if constexpr (Kind<M>::kOptionalValue) {
    if ((a == nullptr) != (b == nullptr) || (a && !(*a == *b))) set.Append(path);
  } else {
    if (!(a == b)) set.Append(path);
  }
}

// Bytes a value of type V owns outside itself.
template <class V>
unsigned ValueExtraSize(RoundFn r, const V& v) {
  if constexpr (kIsStringLike<V>) {
    return GetExtraSize(r, v);
  } else if constexpr (std::is_same<V, std::vector<unsigned char>>::value) {
    return GetVectorStorageSize(r, v);
  } else {
    (void)r;
    (void)v;
    return 0;
  }
}

// Bytes the member owns outside the object that holds it.
template <class M>
unsigned OwnedSize(RoundFn r, const M& m) {
  if constexpr (Kind<M>::kArray || Kind<M>::kObject) {
    const auto* p = Load(m);
    return p ? p->_GetSize(r) : 0u;
  } else if constexpr (Kind<M>::kOptionalValue) {
    using V = std::remove_pointer_t<M>;
    return m ? r(static_cast<unsigned>(sizeof(V))) + ValueExtraSize(r, *m) : 0u;
  } else {
    return ValueExtraSize(r, m);
  }
}

}  // namespace slot

}  // namespace Movel
