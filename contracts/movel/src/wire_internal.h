// What the XML and JSON codecs share: the per-type plan of members they walk,
// the version gate, the decoding context with its limits and path, and the
// text forms of scalar values.
#pragma once

#include <cstdint>
#include <string>
#include <typeinfo>
#include <string_view>
#include <vector>

#include "basekit/datetime.h"
#include "basekit/ref.h"
#include "movel/array.h"
#include "movel/data_object.h"
#include "movel/fields.h"
#include "movel/moref.h"
#include "movel/primitive.h"
#include "movel/strings.h"
#include "movel/type.h"
#include "movel/version.h"
#include "movel/wire.h"

namespace Movel {
namespace wire {

// One remembered answer of AsA: whether values of class cls are a target.
struct CastMemo {
  const std::type_info* cls;
  const std::type_info* target;
  bool is;
};
constexpr std::size_t kCastMemos = 128;
// The calling thread's kCastMemos cast answers, or null when the thread is
// exiting (see ThreadMemos in wire_common.cpp).
CastMemo* ThreadCastMemos();

// A checked downcast for the codecs' hot paths. Classes of values are
// instantiated in more than one library, so the standard cast compares class
// names as strings at every step; here each thread remembers, per class and
// target, whether the class is a T, and casts statically once that is known.
// Null gives null.
template <class T>
const T* AsA(const Any* v) {
  if (!v) return nullptr;
  const std::type_info* cls = &typeid(*v);
  const std::type_info* target = &typeid(T);
  const std::uintptr_t h = (reinterpret_cast<std::uintptr_t>(cls) >> 4) ^
                           (reinterpret_cast<std::uintptr_t>(target) >> 3);
  CastMemo* memos = ThreadCastMemos();
  if (!memos) return dynamic_cast<const T*>(v);
  CastMemo& e = memos[h & (kCastMemos - 1)];
  if (e.cls != cls || e.target != target) {
    e = CastMemo{cls, target, dynamic_cast<const T*>(v) != nullptr};
  }
  return e.is ? static_cast<const T*>(v) : nullptr;
}

// What one value is, as far as the wire cares.
enum class ValueKind : std::uint8_t {
  kString,
  kBool,
  kByte,
  kShort,
  kInt,
  kLong,
  kFloat,
  kDouble,
  kDateTime,
  kBinary,
  kTypeName,
  kMethodName,
  kPropertyPath,
  kUri,
  kEnum,
  kData,   // a data object or fault
  kMoRef,  // a managed object reference
  kAny,    // any value, naming its type on the wire
};

// True for the kinds held as plain values (everything but objects).
inline bool IsScalar(ValueKind k) { return k <= ValueKind::kEnum; }

// The kind of values of a type record; kAny for an unknown record.
ValueKind KindOfTypeInfo(const TypeInfo* info);

// A declared place: a property, a parameter, a result or an array element.
struct Slot {
  ValueKind kind = ValueKind::kAny;
  const Type* type = nullptr;  // the element type for arrays; null for kAny
  bool array = false;
  bool secret = false;
};
Slot SlotOf(const TypeInfo* info, Word flags);
// The slot a value names itself (its runtime type): a box, an array, a data
// object or a reference.
Slot SlotOfValue(const Any* value);
// What a box of slot's kind holds, as the scalar writers read it (an
// enumeration as its number, kept in enumValue); null when v is not such a box.
const void* BoxedValue(const Slot& slot, const Any* v, int& enumValue);
// The text a fault body carries: the fault's name and its first message.
std::string FaultText(const MethodFault* fault);
// The slot of a method's result; a task method answers with its task.
Slot ResultSlotOf(const ManagedMethod* method);

// One property of a data type, inherited ones included.
struct Member {
  const char* name;
  const FieldInfo* field;
  const Version* version;  // null when the version name is not loaded
  Slot slot;
  bool optional;
};

// The members of a data type in wire order, and the type's lookup by name.
struct Plan {
  const DataObjectType* type = nullptr;
  std::vector<Member> members;
  // Parallel to members: the names' lengths, for quick matching.
  std::vector<std::uint32_t> nameLengths;
  // Parallel to members: "<name>" and "</name>", which the XML writer puts
  // around scalar members in one piece each.
  std::vector<std::string> xmlOpen, xmlClose;
  // The member of a name, or -1.
  int Find(std::string_view name) const;
  // The type's level chain, root first, for copying members across types.
  std::vector<const DataLayout*> levels;
};

// The plan of a data type, made on first use and kept for the process.
// Throws WireError when the type's class has no member table.
const Plan& PlanOf(const DataObjectType* type);

// Decides what a peer of one version may see; remembers its answers.
class VersionGate {
 public:
  explicit VersionGate(const Version* peer) : peer_(peer) {}
  bool Open() const noexcept { return peer_ == nullptr; }
  bool Allows(const Version* item) const {
    if (!peer_ || !item) return true;
    for (int i = 0; i < count_; ++i) {
      if (seen_[i] == item) return allowed_[i];
    }
    const bool ok = IsInVersion(item, peer_);
    if (count_ < kMemo) {
      seen_[count_] = item;
      allowed_[count_] = ok;
      ++count_;
    }
    return ok;
  }
  bool AllowsType(const Type* type) const { return !peer_ || Allows(type->GetVersion()); }
  // The type itself, or its nearest ancestor the peer knows; null when no
  // data type short of the root qualifies, or when that ancestor no longer
  // fits the declared type of the place (when one is given).
  const DataObjectType* WireType(const DataObjectType* type, const Type* declared) const;
  const DataObjectType* WireType(const DataObjectType* type) const;
  const Version* Peer() const noexcept { return peer_; }

 private:
  static constexpr int kMemo = 16;
  const Version* peer_;
  mutable const Version* seen_[kMemo] = {};
  mutable bool allowed_[kMemo] = {};
  mutable int count_ = 0;
};

// ---- decoding state ----

class DecodeContext {
 public:
  explicit DecodeContext(const DecodeOptions& options) : options_(options), gate_(options.version) {}

  const DecodeOptions& Options() const noexcept { return options_; }
  const VersionGate& Gate() const noexcept { return gate_; }

  [[noreturn]] void Fail(WireError::Kind kind, const std::string& detail) const;

  // Steps into a named element (or JSON member); checks the depth limit.
  void Enter(std::string_view name, int index = -1) {
    if (static_cast<int>(path_.size()) >= options_.limits.maxDepth) {
      path_.push_back(Seg{std::string(name), index});
      Fail(WireError::Kind::kLimit,
           "nesting deeper than " + std::to_string(options_.limits.maxDepth) + " levels");
    }
    path_.push_back(Seg{std::string(name), index});
  }
  void SetIndex(int index) { path_.back().index = index; }
  void Leave() { path_.pop_back(); }
  int Depth() const { return static_cast<int>(path_.size()); }

  void CountElement() {
    if (++elements_ > options_.limits.maxElements) {
      Fail(WireError::Kind::kLimit,
           "more than " + std::to_string(options_.limits.maxElements) + " elements");
    }
  }
  void CheckString(std::size_t size) const {
    if (size > options_.limits.maxStringBytes) {
      Fail(WireError::Kind::kLimit, "a text longer than " +
                                        std::to_string(options_.limits.maxStringBytes) + " bytes");
    }
  }
  void CheckMessage(std::size_t size) const {
    if (size > options_.limits.maxMessageBytes) {
      Fail(WireError::Kind::kLimit, "a message of " + std::to_string(size) +
                                        " bytes, more than the limit of " +
                                        std::to_string(options_.limits.maxMessageBytes));
    }
  }
  std::string Path() const;

 private:
  struct Seg {
    std::string name;
    int index;
  };
  const DecodeOptions& options_;
  VersionGate gate_;
  std::vector<Seg> path_;
  std::size_t elements_ = 0;
};

// Keeps the path balanced when a step is left by an exception.
class PathStep {
 public:
  PathStep(DecodeContext& ctx, std::string_view name, int index = -1) : ctx_(ctx) {
    ctx_.Enter(name, index);
  }
  ~PathStep() { ctx_.Leave(); }
  PathStep(const PathStep&) = delete;
  PathStep& operator=(const PathStep&) = delete;

 private:
  DecodeContext& ctx_;
};

// ---- scalar values ----

// Appends the text of the scalar at p (a member, a box's value or an array
// element of the kind's C++ type; an int for enumerations) to out, unescaped.
void AppendScalar(std::string& out, ValueKind kind, const void* p, const Type* type);

// Parsed scalars. Each fails through ctx with the path, without quoting the
// text when secret is set.
struct ScalarText {
  std::string_view text;
  bool secret;
};

// Stores the scalar text into a data object's member.
void StoreMember(DecodeContext& ctx, DataObject* object, const Member& m, ScalarText t);
// A new box of the scalar text for a slot of the given kind and type.
Basekit::Ref<Any> BoxScalar(DecodeContext& ctx, ValueKind kind, const Type* type, ScalarText t);
// Fails with kWrongType unless the decoded value v (when both are set) is of
// the declared type: the type itself, a data type deriving from it, or a
// reference for a managed type.
void CheckDeclaredType(DecodeContext& ctx, const Any* v, const Type* declared);

// Builds an array of a slot's element kind one element at a time.
class ArrayBuilder {
 public:
  ArrayBuilder(ValueKind kind, const Type* type) : kind_(kind), type_(type) {}
  void AddScalar(DecodeContext& ctx, ScalarText t);
  // Elements of object kinds; null elements are kept.
  void AddValue(DecodeContext& ctx, Any* value);
  // The array, of the class the slot's member or box requires.
  Basekit::Ref<Any> Finish(DecodeContext& ctx);
  ValueKind Kind() const noexcept { return kind_; }
  const Type* ElementType() const noexcept { return type_; }

 private:
  void Start();
  ValueKind kind_;
  const Type* type_;
  Basekit::Ref<Any> array_;
  Basekit::Ref<Array<std::string>> enumNames_;
};

// Stores a decoded object value or array into a member (checked against the
// member's class).
void StoreObjectMember(DecodeContext& ctx, DataObject* object, const Member& m, Any* value);

// The elements of an array value as a list of scalars or values, for the
// encoders: calls scalar(p) with a pointer to each element of a value array
// (an int for enumerations, through a temporary) or value(Any*) for arrays of
// objects.
template <class OnScalar, class OnValue>
void ForEachElement(const Any* array, const Slot& element, OnScalar&& scalar, OnValue&& value);

// Member access by the member table.
template <class M>
M& MemberAt(void* object, const FieldInfo& f) {
  return *reinterpret_cast<M*>(static_cast<char*>(object) + f.offset);
}
template <class M>
const M& MemberAt(const void* object, const FieldInfo& f) {
  return *reinterpret_cast<const M*>(static_cast<const char*>(object) + f.offset);
}

// The value held by a member, or null when it is unset: the scalar's address
// for value kinds, the object for object kinds and arrays (empty arrays give
// null).
const void* PeekMember(const DataObject* object, const Member& m);

// Base64.
void AppendBase64(std::string& out, const std::vector<unsigned char>& bytes);
bool DecodeBase64(std::string_view text, std::vector<unsigned char>& out);

// Wire names of the values in places of any type.
constexpr const char kMoRefWireName[] = "ManagedObjectReference";
constexpr const char kArrayPrefix[] = "ArrayOf";
// The WSDL name a value of `slot` is named by: the element type's, or
// "ArrayOf" + that for arrays, "ManagedObjectReference" for references.
std::string WireTypeName(const Slot& slot);
// The slot a wire type name stands for; kind kAny with null type when the
// name is unknown.
bool SlotOfWireName(std::string_view name, Slot& out);

template <class OnScalar, class OnValue>
void ForEachElement(const Any* array, const Slot& element, OnScalar&& scalar, OnValue&& value) {
  if (!array) return;
  if (const auto* refs = AsA<DataArrayBase>(array)) {
    for (Any* item : refs->GetItems()) value(item);
    return;
  }
  switch (element.kind) {
#define MOVEL_WIRE_ELEMENTS(K, T)                                        \
  case ValueKind::K:                                                     \
    if (const auto* a = AsA<Array<T>>(array)) {          \
      for (const T& v : a->GetValues()) scalar(static_cast<const void*>(&v)); \
    }                                                                    \
    return;
    MOVEL_WIRE_ELEMENTS(kString, std::string)
    MOVEL_WIRE_ELEMENTS(kByte, signed char)
    MOVEL_WIRE_ELEMENTS(kShort, short)
    MOVEL_WIRE_ELEMENTS(kInt, int)
    MOVEL_WIRE_ELEMENTS(kLong, long long)
    MOVEL_WIRE_ELEMENTS(kFloat, float)
    MOVEL_WIRE_ELEMENTS(kDouble, double)
    MOVEL_WIRE_ELEMENTS(kDateTime, Basekit::System::DateTime)
    MOVEL_WIRE_ELEMENTS(kBinary, std::vector<unsigned char>)
    MOVEL_WIRE_ELEMENTS(kTypeName, TypeName)
    MOVEL_WIRE_ELEMENTS(kMethodName, MethodName)
    MOVEL_WIRE_ELEMENTS(kPropertyPath, PropertyPath)
    MOVEL_WIRE_ELEMENTS(kUri, Uri)
#undef MOVEL_WIRE_ELEMENTS
    case ValueKind::kBool:
      if (const auto* a = AsA<Array<bool>>(array)) {
        for (bool v : a->GetValues()) scalar(static_cast<const void*>(&v));
      }
      return;
    case ValueKind::kEnum: {
      const auto* e = static_cast<const EnumType*>(element.type);
      Basekit::Ref<Any> names;
      e->GetFuncs().namesFromArray(const_cast<Any*>(array), names, e);
      if (const auto* strings = AsA<Array<std::string>>(names.Get())) {
        for (const std::string& name : strings->GetValues()) {
          const int v = e->FindValue(name);
          scalar(static_cast<const void*>(&v));
        }
      }
      return;
    }
    default:
      return;
  }
}

}  // namespace wire
}  // namespace Movel
