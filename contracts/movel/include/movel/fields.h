// How data object classes hold their properties, and the operations every
// data object needs, written once and driven by a per-class table.
//
// A data class has one member per own property, in property order. The
// member's C++ type follows from the property's kind:
//
//   kind                          required            optional
//   string                        std::string         OptionalString: one pointer,
//                                                     null when unset
//   bool, numbers, enums,         V                   Basekit::Optional<V>
//   date-times, binaries,
//   type/method names, paths, URIs
//   data object, MoRef, Any       T*, owning one reference, null when unset
//   array                         std::atomic<A*>, A a DataArray<T> or Array<T>,
//                                 owning one reference, null when absent
//
// Each class describes its own members once, in a constant DataLayout: where
// each member lives, its kind, and (for objects and arrays) how to check a
// value's class and make an empty array. Copying, releasing, equality,
// difference, size and property access by index all run from that table here
// and in fields.cpp, so the rule of each kind has one owner.
//
// Property access slots (the void* of the property functions):
//   value kinds    Get/Set: a V (optional values too: Get of an unset one
//                  gives its zero value; Set makes it set). Peek: the V, or
//                  null when an optional is unset. Swap: the member's own type
//                  (V, Basekit::Optional<V>, or OptionalString).
//   objects and    Get/Swap: a Basekit::Ref<Any>. Set: an Any* const, checked
//   arrays         against the member's class. Peek: the held const Any*
//                  (null for an empty array). Get of an absent array creates
//                  it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "basekit/datetime.h"
#include "basekit/optional.h"
#include "basekit/ref.h"
#include "basekit/throwable.h"
#include "movel/any.h"
#include "movel/array.h"
#include "movel/export.h"
#include "movel/optional_string.h"
#include "movel/records.h"
#include "movel/strings.h"

namespace Movel {

class DataObject;
class DynamicData;

// The value kind of a member; with FieldInfo::optional it fixes the member's
// C++ type (see the table above).
enum class FieldKind : std::uint8_t {
  kString,
  kBool,
  kByte,
  kShort,
  kInt,
  kLong,
  kFloat,
  kDouble,
  kEnum,  // held as its enumeration type, an int underneath
  kDateTime,
  kBinary,
  kTypeName,
  kMethodName,
  kPropertyPath,
  kUri,
  kObject,  // data object, fault, MoRef or Any
  kArray,
};

// One member of a data class.
struct FieldInfo {
  std::uint32_t offset;  // of the member within the class
  // The property's flags without the read-only bit, as comparisons and
  // diffs hand them to the runtime.
  std::uint16_t flags;
  FieldKind kind;
  bool optional : 1;
  // Objects and arrays: the values are data objects (their type is a data or
  // fault type), so diffs descend into them.
  bool dataObjects : 1;
  // Objects and arrays: checks that a value is of the member's class and
  // returns it (null passes); throws the type-mismatch exception otherwise.
  // Null for a member that accepts any value.
  Any* (*narrow)(Any* value);
  // Arrays: a new empty array of the member's class, no reference taken.
  Any* (*makeArray)();
};
static_assert(sizeof(FieldInfo) == 3 * sizeof(void*), "a member is described in three words");

// The members a data class adds to its base, and the base's own layout.
struct DataLayout {
  // The layout of the nearest ancestor whose members count in comparisons,
  // sizes and diffs; null for a class directly on DynamicData.
  const DataLayout* parent;
  const PropertyInfo* properties;  // own property list: names and flags
  const FieldInfo* fields;         // one per own property, in order
  std::uint32_t count;
  std::uint32_t size;  // sizeof the class
  // Bit i set when member i (of the first 64) is a string, an object or an
  // array: the only members that own memory outside the object. Sizes and
  // releases visit just these; members past the 64th are always visited.
  std::uint64_t sized;
};

// How deep copying, equality, diff and size descend into nested values (data
// objects and arrays held by data objects and arrays). A deeper graph, and
// any graph that holds itself, makes these operations throw
// GraphDepthException instead of exhausting the stack; both values are left
// as they were. Releasing never fails: deep chains are released iteratively
// (see Any::DecRef).
constexpr int kMaxGraphDepth = 10000;

// A value nests deeper than kMaxGraphDepth levels, or holds itself.
class MOVEL_API GraphDepthException : public Basekit::Exception {
 public:
  // operation names what was refused: "clone", "equality", "diff", "size".
  explicit GraphDepthException(const char* operation);
  GraphDepthException(const GraphDepthException&);
  ~GraphDepthException() override;
  Basekit::Exception* Clone() const override;
  [[noreturn]] void Rethrow() const override;
};

namespace detail {
// One level of descent of the calling thread; throws GraphDepthException,
// changing nothing, when it would pass kMaxGraphDepth.
class MOVEL_API DepthScope {
 public:
  explicit DepthScope(const char* operation);
  ~DepthScope();
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;
};
}  // namespace detail

// ---- the table-driven operations (fields.cpp) ----

// Deep copy of the class's own members from other into self, whose members
// are freshly default-constructed (copy constructors). On failure, whatever
// was copied is released and the exception propagates.
MOVEL_API void CopyFields(DataObject* self, const DataObject* other, const DataLayout& layout);
// Releases the class's own members that own something (destructors), last
// member first.
MOVEL_API void ReleaseFields(DataObject* self, const DataLayout& layout) noexcept;
// Equality over the layout and its ancestors' (see AreEqualAnysInt for
// lenient). A null b, or a b of another class than a, is not equal.
MOVEL_API bool FieldsEqual(const DataObject* a, const DataObject* b, const DataLayout& layout,
                           bool lenient);
// Appends the paths of every differing leaf over the layout and its
// ancestors': prefix + "." + name, base class first. A null b, or a b of
// another class than a, is reported as one change at prefix.
MOVEL_API void DiffFields(const DataObject* a, const DataObject* b, const std::string& prefix,
                          PropertyDiffSet& set, const DataLayout& layout);
// r(size of the object) plus what its members own, over the layout and its
// ancestors', plus DynamicData's own members.
MOVEL_API unsigned FieldsSize(const DynamicData* self, const DataLayout& layout, RoundFn r);

// Property functions over the class's own members; an index outside them
// does nothing (Peek gives null, IsSet true).
MOVEL_API void FieldGet(const DataLayout& layout, DataObject* o, int index, void* out);
MOVEL_API const void* FieldPeek(const DataLayout& layout, const DataObject* o, int index);
MOVEL_API void FieldSet(const DataLayout& layout, DataObject* o, int index, const void* in);
MOVEL_API void FieldSwap(const DataLayout& layout, DataObject* o, int index, void* inout);
MOVEL_API bool FieldIsSet(const DataLayout& layout, const DataObject* o, int index);
MOVEL_API void FieldUnset(const DataLayout& layout, DataObject* o, int index);

// The eight functions of a data type record for a class C with a static
// DataLayout C::_layout.
// The generated classes keep their layout and creators private and befriend
// this template, so only the runtime and the descriptors reach them.
template <class C>
struct LayoutFunctions {
  static constexpr const DataLayout* kLayout = &C::_layout;
  static constexpr DataObject* (*kCreateObject)() = &C::_CreateObject;
  static constexpr Any* (*kCreateArray)() = &C::_CreateArray;
  static void Get(DataObject* o, int i, void* out) { FieldGet(C::_layout, o, i, out); }
  static const void* Peek(const DataObject* o, int i) { return FieldPeek(C::_layout, o, i); }
  static void Set(DataObject* o, int i, const void* in) { FieldSet(C::_layout, o, i, in); }
  static void Swap(DataObject* o, int i, void* inout) { FieldSwap(C::_layout, o, i, inout); }
  static bool IsSet(const DataObject* o, int i) { return FieldIsSet(C::_layout, o, i); }
  static void Unset(DataObject* o, int i) { FieldUnset(C::_layout, o, i); }
};

// ---- typed member helpers (constructors and accessors) ----

// The checked downcast and array maker a FieldInfo points at.
template <class T>
Any* NarrowField(Any* value) {
  return NarrowAny<T>(value);
}
template <class A>
Any* MakeArrayField() {
  return new A();
}

// Takes a reference on value, stores it and releases what was held, in that
// order, so storing the value already held is safe.
template <class T>
void AssignObject(T*& member, T* value) noexcept {
  if (value) value->IncRef();
  T* old = member;
  member = value;
  if (old) old->DecRef();
}

// The held object, made empty (and held) when absent: nested edits such as
// info->EditSpec()->name = "x" need no copy and no release by the caller.
template <class T>
T* GetOrCreateObject(T*& member) {
  if (!member) {
    T* made = new T();
    made->IncRef();
    member = made;
  }
  return member;
}

// The same for an array member, exchanged atomically.
template <class A>
void AssignArray(std::atomic<A*>& member, A* value) noexcept {
  if (value) value->IncRef();
  if (A* old = member.exchange(value, std::memory_order_acq_rel)) old->DecRef();
}

// The held array, or null when it is absent or empty.
template <class A>
const A* PeekArray(const std::atomic<A*>& member) noexcept {
  const A* held = member.load(std::memory_order_acquire);
  return held && held->GetLength() > 0 ? held : nullptr;
}

// Exchanges the member with the reference's pointer; no count changes.
template <class A>
void SwapArray(std::atomic<A*>& member, Basekit::Ref<A>* ref) noexcept {
  ref->ExchangeRaw(member.exchange(ref->Get(), std::memory_order_acq_rel));
}

// The held array, made empty and installed by compare-and-swap when absent;
// racing callers end up sharing one array.
template <class A>
A* GetOrCreateArray(std::atomic<A*>& member) {
  A* held = member.load(std::memory_order_acquire);
  if (held) return held;
  A* made = new A();
  made->IncRef();
  if (member.compare_exchange_strong(held, made, std::memory_order_acq_rel)) return made;
  made->DecRef();  // another caller installed one first
  return held;
}

// Full-constructor initialisation of one freshly default-constructed member.
inline void InitField(std::string& member, const std::string& value) { member = value; }
inline void InitField(OptionalString& member, const Basekit::Optional<std::string>& value) {
  if (value.IsSet()) member = value.GetValue();
}
template <class V>
void InitField(Basekit::Optional<V>& member, const Basekit::Optional<V>& value) {
  if (value.IsSet()) member = value.GetValue();
}
template <class T>
void InitField(T*& member, T* value) noexcept {
  AssignObject(member, value);
}
template <class A>
void InitField(std::atomic<A*>& member, A* value) noexcept {
  AssignArray(member, value);
}
template <class V>
void InitField(V& member, const V& value) {
  member = value;
}

// Optional string members: the same as assigning value or nullptr.
inline void SetOptionalString(OptionalString& member, const std::string& value) { member = value; }
inline void UnsetOptionalString(OptionalString& member) noexcept { member.Reset(); }

}  // namespace Movel
