// The per-kind rules of data object members and the table-driven operations
// built on them. Each rule below is the only place its kind's behaviour is
// written: the generated classes and the runtime's own data classes reach
// their members through these.
#include "movel/fields.h"

#include <typeinfo>
#include <utility>

#include "internal.h"
#include "movel/data_object.h"
#include "movel/size.h"
#include "movel/type.h"

namespace Movel {

// ---- depth of descent ----

namespace {
// Levels the calling thread has descended into nested values. Initial-exec:
// the runtime is loaded with the program or its first user, and the counter
// is touched once per nested object.
__attribute__((tls_model("initial-exec"))) thread_local int tDepth = 0;
}  // namespace

GraphDepthException::GraphDepthException(const char* operation)
    : Basekit::Exception(std::string(operation) + ": the value nests deeper than " +
                         std::to_string(kMaxGraphDepth) +
                         " levels or holds itself; nothing was changed") {}
GraphDepthException::GraphDepthException(const GraphDepthException&) = default;
GraphDepthException::~GraphDepthException() = default;
Basekit::Exception* GraphDepthException::Clone() const { return new GraphDepthException(*this); }
void GraphDepthException::Rethrow() const { throw GraphDepthException(*this); }

namespace {
// Kept out of line, so the descent below stays a compare and an increment.
[[noreturn, gnu::noinline, gnu::cold]] void ThrowTooDeep(const char* operation) {
  throw GraphDepthException(operation);
}

// DepthScope inlined into this file's operations: the count is taken once
// per nested object, so a call per level would cost the small operations
// (size, equality) a measurable share of their time.
class Descent {
 public:
  explicit Descent(const char* operation) {
    if (__builtin_expect(tDepth >= kMaxGraphDepth, 0)) ThrowTooDeep(operation);
    ++tDepth;
  }
  ~Descent() { --tDepth; }
  Descent(const Descent&) = delete;
  Descent& operator=(const Descent&) = delete;
};
}  // namespace

detail::DepthScope::DepthScope(const char* operation) {
  if (tDepth >= kMaxGraphDepth) ThrowTooDeep(operation);
  ++tDepth;
}
detail::DepthScope::~DepthScope() { --tDepth; }

namespace {

template <class M>
struct Tag {
  using type = M;
};

// Calls fn with a Tag of the member's C++ type. Inlined into each operation's
// loop, so every rule compiles to one jump table over the kinds.
template <class F>
[[gnu::always_inline]] inline decltype(auto) WithMemberType(const FieldInfo& f, F&& fn) {
#define MOVEL_VALUE_CASE(kind, V) \
  case FieldKind::kind:           \
    return f.optional ? fn(Tag<Basekit::Optional<V>>{}) : fn(Tag<V>{});
  switch (f.kind) {
    case FieldKind::kString:
      return f.optional ? fn(Tag<OptionalString>{}) : fn(Tag<std::string>{});
    MOVEL_VALUE_CASE(kBool, bool)
    MOVEL_VALUE_CASE(kByte, signed char)
    MOVEL_VALUE_CASE(kShort, short)
    MOVEL_VALUE_CASE(kInt, int)
    MOVEL_VALUE_CASE(kLong, long long)
    MOVEL_VALUE_CASE(kFloat, float)
    MOVEL_VALUE_CASE(kDouble, double)
    MOVEL_VALUE_CASE(kEnum, int)
    MOVEL_VALUE_CASE(kDateTime, Basekit::System::DateTime)
    MOVEL_VALUE_CASE(kBinary, std::vector<unsigned char>)
    MOVEL_VALUE_CASE(kTypeName, TypeName)
    MOVEL_VALUE_CASE(kMethodName, MethodName)
    MOVEL_VALUE_CASE(kPropertyPath, PropertyPath)
    MOVEL_VALUE_CASE(kUri, Uri)
    case FieldKind::kObject:
      return fn(Tag<Any*>{});
    case FieldKind::kArray:
    default:
      return fn(Tag<std::atomic<Any*>>{});
  }
#undef MOVEL_VALUE_CASE
}

template <class M>
M& At(void* object, const FieldInfo& f) {
  return *reinterpret_cast<M*>(static_cast<char*>(object) + f.offset);
}
template <class M>
const M& At(const void* object, const FieldInfo& f) {
  return *reinterpret_cast<const M*>(static_cast<const char*>(object) + f.offset);
}

template <class M>
struct IsOptional : std::false_type {};
template <class V>
struct IsOptional<Basekit::Optional<V>> : std::true_type {};

// ---- the rule of each kind ----

// Deep copy into a default-constructed member.
template <class M>
void CopyMember(M& dst, const M& src) {
  if constexpr (std::is_same<M, OptionalString>::value) {
    if (src) dst = *src;
  } else if constexpr (std::is_same<M, Any*>::value) {
    dst = CloneOwned(src);
  } else if constexpr (std::is_same<M, std::atomic<Any*>>::value) {
    dst.store(CloneOwned(src.load(std::memory_order_acquire)), std::memory_order_release);
  } else if constexpr (IsOptional<M>::value) {
    if (src.IsSet()) dst = src.GetValue();
  } else {
    dst = src;
  }
}

template <class M>
void ReleaseMember(M& m) noexcept {
  if constexpr (std::is_same<M, OptionalString>::value) {
    m.Reset();
  } else if constexpr (std::is_same<M, Any*>::value) {
    Any* old = std::exchange(m, nullptr);
    if (old) old->DecRef();
  } else if constexpr (std::is_same<M, std::atomic<Any*>>::value) {
    if (Any* old = m.exchange(nullptr, std::memory_order_acq_rel)) old->DecRef();
  }
}

template <class M>
constexpr bool kOwns = std::is_same<M, OptionalString>::value || std::is_same<M, Any*>::value ||
                       std::is_same<M, std::atomic<Any*>>::value;

const Any* Held(Any* const& m) { return m; }
const Any* Held(const std::atomic<Any*>& m) { return m.load(std::memory_order_acquire); }

// Value equality without leniency; date-times compare their instants.
template <class V>
bool SameValue(const V& a, const V& b) {
  return a == b;
}

// Equality of the two members; with lenient, an optional unset in b agrees
// with anything in a.
template <class M>
bool EqualMember(const M& a, const M& b, Word flags, bool lenient) {
  if constexpr (std::is_same<M, OptionalString>::value) {
    if (a.Get() == b.Get() || (a && b && *a == *b)) return true;
    return lenient && !b;
  } else if constexpr (std::is_same<M, Any*>::value ||
                       std::is_same<M, std::atomic<Any*>>::value) {
    return AreEqualAnysInt(Held(a), Held(b), flags, lenient);
  } else if constexpr (IsOptional<M>::value) {
    if (a.IsSet() == b.IsSet() && (!a.IsSet() || SameValue(a.GetValue(), b.GetValue()))) return true;
    return lenient && !b.IsSet();
  } else {
    return SameValue(a, b);
  }
}

const Any* NonEmpty(const Any* a) {
  return a && static_cast<const Collection*>(a)->GetLength() > 0 ? a : nullptr;
}

Any* Narrow(const FieldInfo& f, Any* value) { return f.narrow ? f.narrow(value) : value; }

// ---- diff paths ----

// One step of a path, kept on the stack while a diff descends: the property
// name, and an element index for elements of arrays of objects. The string
// is only built for a path that is reported.
struct PathNode {
  const PathNode* parent;
  const std::string* prefix;  // the root's: the caller's prefix
  const char* name;
  int index;  // -1, or the element's index in the array named name
};

// The path of node: its length is summed first, then the steps are written
// from the leaf back towards the prefix, so the only allocation is the
// string's own.
std::string Materialize(const PathNode* node) {
  std::size_t length = 0;
  const PathNode* n = node;
  for (; n->parent; n = n->parent) {
    length += 1 + std::char_traits<char>::length(n->name);
    if (n->index >= 0) length += 2 + std::to_string(n->index).size();
  }
  std::string path(n->prefix->size() + length, '\0');
  path.replace(0, n->prefix->size(), *n->prefix);
  std::size_t end = path.size();
  for (n = node; n->parent; n = n->parent) {
    if (n->index >= 0) {
      const std::string digits = std::to_string(n->index);
      path[--end] = ']';
      end -= digits.size();
      path.replace(end, digits.size(), digits);
      path[--end] = '[';
    }
    const std::size_t size = std::char_traits<char>::length(n->name);
    end -= size;
    path.replace(end, size, n->name);
    path[--end] = '.';
  }
  return path;
}

void DiffLevels(const void* a, const void* b, const DataLayout& layout, const PathNode* at,
                PropertyDiffSet& set);

// Two values held at one path: data objects with a layout are walked in
// place; everything else reports itself through its class's own diff.
// True when x and y still need comparing: both present and of one class. A
// value on one side only, or a change of class, is reported as one change.
bool BothOfOneClass(const Any* x, const Any* y, const PathNode* at, PropertyDiffSet& set) {
  if (!x && !y) return false;
  if (!x || !y || typeid(*x) != typeid(*y)) {
    set.Append(PropertyPath(Materialize(at)));
    return false;
  }
  return true;
}

void DiffValues(const Any* x, const Any* y, bool dataObjects, const PathNode* at,
                PropertyDiffSet& set) {
  if (!BothOfOneClass(x, y, at, set)) return;
  // A member typed as any value may still hold a data object: its type says.
  const DataObjectType* type = nullptr;
  if (dataObjects) {
    type = static_cast<const DataObject*>(x)->_GetDataType();
  } else if (const Type* t = x->_GetType(); t && t->IsDataObject() && !t->IsArray()) {
    type = static_cast<const DataObjectType*>(t);
  }
  if (const DataLayout* layout = type ? type->GetLayout() : nullptr) {
    Descent depth("diff");
    DiffLevels(x, y, *layout, at, set);
    return;
  }
  // References, boxes and the like are compared first: most are equal, and
  // their path is only built for one that differs.
  if (x->_IsEqual(y, false)) return;
  x->_DiffProperties(y, Materialize(at), set);
}

void DiffArrays(const Any* x, const Any* y, bool dataObjects, const PathNode* at,
                PropertyDiffSet& set) {
  if (!BothOfOneClass(x, y, at, set)) return;
  // An array member of data objects always holds a DataArray. Any other array
  // is compared whole first; only one that differs needs its class looked up.
  const DataArrayBase* xs = nullptr;
  if (dataObjects) {
    xs = static_cast<const DataArrayBase*>(x);
  } else {
    if (x->_IsEqual(y, false)) return;
    xs = dynamic_cast<const DataArrayBase*>(x);
    if (!xs) {
      // Arrays of values are reported whole.
      set.Append(PropertyPath(Materialize(at)));
      return;
    }
  }
  const auto* ys = static_cast<const DataArrayBase*>(y);
  const auto& xi = xs->GetItems();
  const auto& yi = ys->GetItems();
  if (xi.size() != yi.size()) {
    set.Append(PropertyPath(Materialize(at)));
    return;
  }
  for (std::size_t i = 0; i < xi.size(); ++i) {
    PathNode element{at->parent, at->prefix, at->name, static_cast<int>(i)};
    DiffValues(xi[i], yi[i], dataObjects, &element, set);
  }
}

void DiffLevels(const void* a, const void* b, const DataLayout& layout, const PathNode* at,
                PropertyDiffSet& set) {
  if (layout.parent) DiffLevels(a, b, *layout.parent, at, set);
  for (std::uint32_t i = 0; i < layout.count; ++i) {
    const FieldInfo& f = layout.fields[i];
    PathNode here{at, nullptr, layout.properties[i].name, -1};
    WithMemberType(f, [&](auto tag) {
      using M = typename decltype(tag)::type;
      const M& x = At<M>(a, f);
      const M& y = At<M>(b, f);
      if constexpr (std::is_same<M, Any*>::value) {
        DiffValues(x, y, f.dataObjects, &here, set);
      } else if constexpr (std::is_same<M, std::atomic<Any*>>::value) {
        DiffArrays(Held(x), Held(y), f.dataObjects, &here, set);
      } else {
        if (!EqualMember(x, y, 0, false)) set.Append(PropertyPath(Materialize(&here)));
      }
    });
  }
}

}  // namespace

void CopyFields(DataObject* self, const DataObject* other, const DataLayout& layout) {
  Descent depth("clone");
  try {
    for (std::uint32_t i = 0; i < layout.count; ++i) {
      const FieldInfo& f = layout.fields[i];
      WithMemberType(f, [&](auto tag) {
        using M = typename decltype(tag)::type;
        CopyMember(At<M>(self, f), At<M>(other, f));
      });
    }
  } catch (...) {
    ReleaseFields(self, layout);
    throw;
  }
}

// Calls visit(i) for every member that may own memory: the members past the
// 64th, then the marked ones among the first 64, last first when reverse.
template <class F>
[[gnu::always_inline]] inline void ForSizedFields(const DataLayout& layout, bool reverse, F&& visit) {
  const std::uint32_t marked = layout.count < 64 ? layout.count : 64;
  if (reverse) {
    for (std::uint32_t i = layout.count; i-- > marked;) visit(i);
    for (std::uint64_t bits = layout.sized; bits;) {
      const std::uint32_t i = 63 - static_cast<std::uint32_t>(__builtin_clzll(bits));
      bits &= ~(std::uint64_t{1} << i);
      visit(i);
    }
  } else {
    for (std::uint64_t bits = layout.sized; bits; bits &= bits - 1) {
      visit(static_cast<std::uint32_t>(__builtin_ctzll(bits)));
    }
    for (std::uint32_t i = marked; i < layout.count; ++i) visit(i);
  }
}

void ReleaseFields(DataObject* self, const DataLayout& layout) noexcept {
  // Only the object's last holder (its destructor) or its maker (a copy that
  // failed) releases its members, so no other thread can reach them: an
  // array member is read and cleared without an atomic exchange.
  ForSizedFields(layout, true, [&](std::uint32_t i) {
    const FieldInfo& f = layout.fields[i];
    WithMemberType(f, [&](auto tag) {
      using M = typename decltype(tag)::type;
      if constexpr (std::is_same<M, std::atomic<Any*>>::value) {
        std::atomic<Any*>& m = At<M>(self, f);
        if (Any* old = m.load(std::memory_order_relaxed)) {
          m.store(nullptr, std::memory_order_relaxed);
          old->DecRef();
        }
      } else if constexpr (kOwns<M>) {
        ReleaseMember(At<M>(self, f));
      }
    });
  });
}

bool FieldsEqual(const DataObject* a, const DataObject* b, const DataLayout& layout,
                 bool lenient) {
  if (!b || typeid(*a) != typeid(*b)) return false;
  Descent depth("equality");
  for (const DataLayout* l = &layout; l; l = l->parent) {
    for (std::uint32_t i = 0; i < l->count; ++i) {
      const FieldInfo& f = l->fields[i];
      const Word flags = f.flags;
      const bool equal = WithMemberType(f, [&](auto tag) {
        using M = typename decltype(tag)::type;
        return EqualMember(At<M>(a, f), At<M>(b, f), flags, lenient);
      });
      if (!equal) return false;
    }
  }
  return true;
}

void DiffFields(const DataObject* a, const DataObject* b, const std::string& prefix,
                PropertyDiffSet& set, const DataLayout& layout) {
  if (!b || typeid(*a) != typeid(*b)) {
    set.Append(PropertyPath(prefix));
    return;
  }
  Descent depth("diff");
  PathNode root{nullptr, &prefix, nullptr, -1};
  DiffLevels(a, b, layout, &root, set);
}

namespace {

// One size computation. It walks nested data objects and arrays of data
// objects itself, with their classes' layouts, rather than through each
// value's virtual _GetSize: the answer is the same (a layout-driven class's
// _GetSize is this walk over its layout), without a call into each class and
// back per object. r rounds an allocation's size and depends on nothing but
// that size, so each computation remembers its latest answers: a tree holds
// objects of a handful of classes and texts of a handful of lengths.
class SizeWalk {
 public:
  explicit SizeWalk(RoundFn r) : r_(r) {
    for (Memo& m : memo_) m.size = kNoSize;
    empty_ = Round(0);
    string_ = Round(static_cast<unsigned>(sizeof(std::string)));
  }

  // A data object of the class that layout describes, with its ancestors'
  // and DynamicData's members.
  unsigned Data(const DynamicData* o, const DataLayout& layout) const {
    Descent depth("size");
    unsigned total = Round(layout.size);
    for (const DataLayout* l = &layout; l; l = l->parent) {
      ForSizedFields(*l, false, [&](std::uint32_t i) {
        const FieldInfo& f = l->fields[i];
        // Only texts and held values own memory outside the object: a
        // binary's bytes, like numbers, count as part of the object's own
        // size.
        switch (f.kind) {
          case FieldKind::kString:
            if (!f.optional) {
              total += Text(At<std::string>(o, f));
            } else if (const std::string* text = At<OptionalString>(o, f).Get()) {
              total += string_ + Text(*text);
            }
            break;
          case FieldKind::kObject:
            if (const Any* held = At<Any*>(o, f)) {
              total += f.dataObjects ? Nested(held) : held->_GetSize(r_);
            }
            break;
          case FieldKind::kArray:
            if (const Any* held = At<std::atomic<Any*>>(o, f).load(std::memory_order_acquire)) {
              total += f.dataObjects ? Items(static_cast<const DataArrayBase*>(held), true)
                                     : held->_GetSize(r_);
            }
            break;
          default:
            break;
        }
      });
    }
    // DynamicData's members are nearly always unset.
    if (At<OptionalString>(o, DynamicData::_fields[0]) ||
        At<std::atomic<Any*>>(o, DynamicData::_fields[1]).load(std::memory_order_acquire)) {
      total += DynamicData::_GetRootMembersSize(o, r_);
    }
    return total;
  }

  // An array of references: the array, its storage and its elements, which
  // are walked here when they are data objects.
  unsigned Items(const DataArrayBase* a, bool dataObjects) const {
    Descent depth("size");
    const std::vector<Any*>& items = a->GetItems();
    unsigned total = Round(static_cast<unsigned>(sizeof(DataArrayBase))) +
                     Round(static_cast<unsigned>(items.capacity() * sizeof(Any*)));
    for (const Any* p : items) {
      if (p) total += dataObjects ? Nested(p) : p->_GetSize(r_);
    }
    return total;
  }

 private:
  // r(size), from the memo when it was asked lately.
  unsigned Round(unsigned size) const {
    Memo& m = memo_[(size * 0x9E3779B1u) >> (32 - kMemoBits)];
    if (m.size != size) {
      m.rounded = r_(size);
      m.size = size;
    }
    return m.rounded;
  }

  // The heap block of a text: r(capacity) when it owns one, else r(0).
  unsigned Text(const std::string& s) const {
    return OwnsHeapText(s) ? Round(static_cast<unsigned>(s.capacity())) : empty_;
  }

  // A held data object: walked here when its class is described by a layout.
  // DynamicData's own layout describes only the root members, which every
  // walk adds itself.
  unsigned Nested(const Any* held) const {
    const auto* o = static_cast<const DataObject*>(held);
    const DataObjectType* type = o->_GetDataType();
    const DataLayout* layout = type ? type->GetLayout() : nullptr;
    if (!layout || layout == &DynamicData::_layout) return held->_GetSize(r_);
    return Data(static_cast<const DynamicData*>(o), *layout);
  }

  static constexpr unsigned kMemoBits = 4;
  static constexpr unsigned kNoSize = ~0u;
  struct Memo {
    unsigned size;
    unsigned rounded;
  };

  RoundFn r_;
  mutable Memo memo_[1u << kMemoBits];
  unsigned empty_ = 0;
  unsigned string_ = 0;
};

}  // namespace

unsigned FieldsSize(const DynamicData* self, const DataLayout& layout, RoundFn r) {
  return SizeWalk(r).Data(self, layout);
}

unsigned detail::SizeOfItems(const DataArrayBase* array, bool dataObjects, RoundFn r) {
  return SizeWalk(r).Items(array, dataObjects);
}

namespace {

// Calls fn(f, m) with own member index of o and its description f, where m is
// the member as its own C++ type; answers false, calling nothing, for an
// index outside the class's own members.
template <class Object, class F>
[[gnu::always_inline]] inline bool OnMember(const DataLayout& layout, Object* o, int index, F&& fn) {
  if (index < 0 || static_cast<std::uint32_t>(index) >= layout.count) return false;
  const FieldInfo& f = layout.fields[index];
  WithMemberType(f, [&](auto tag) {
    using M = typename decltype(tag)::type;
    fn(f, At<M>(o, f));
  });
  return true;
}

template <class T>
using Plain = std::remove_const_t<std::remove_reference_t<T>>;

}  // namespace

void FieldGet(const DataLayout& layout, DataObject* o, int index, void* out) {
  OnMember(layout, o, index, [&](const FieldInfo& f, auto& m) {
    using M = Plain<decltype(m)>;
    if constexpr (std::is_same<M, OptionalString>::value) {
      *static_cast<std::string*>(out) = m ? *m : std::string();
    } else if constexpr (std::is_same<M, Any*>::value) {
      *static_cast<Basekit::Ref<Any>*>(out) = m;
    } else if constexpr (std::is_same<M, std::atomic<Any*>>::value) {
      Any* held = m.load(std::memory_order_acquire);
      if (!held) {
        Any* made = f.makeArray();
        made->IncRef();
        if (m.compare_exchange_strong(held, made, std::memory_order_acq_rel)) {
          held = made;
        } else {
          made->DecRef();  // another caller installed one first
        }
      }
      *static_cast<Basekit::Ref<Any>*>(out) = held;
    } else if constexpr (IsOptional<M>::value) {
      using V = Plain<decltype(m.GetValue())>;
      *static_cast<V*>(out) = m.GetValue();
    } else {
      *static_cast<M*>(out) = m;
    }
  });
}

const void* FieldPeek(const DataLayout& layout, const DataObject* o, int index) {
  const void* result = nullptr;
  OnMember(layout, o, index, [&](const FieldInfo&, const auto& m) {
    using M = Plain<decltype(m)>;
    if constexpr (std::is_same<M, OptionalString>::value) {
      result = m.Get();
    } else if constexpr (std::is_same<M, Any*>::value) {
      result = m;
    } else if constexpr (std::is_same<M, std::atomic<Any*>>::value) {
      result = NonEmpty(Held(m));
    } else if constexpr (IsOptional<M>::value) {
      result = m.IsSet() ? &m.GetValue() : nullptr;
    } else {
      result = &m;
    }
  });
  return result;
}

void FieldSet(const DataLayout& layout, DataObject* o, int index, const void* in) {
  OnMember(layout, o, index, [&](const FieldInfo& f, auto& m) {
    using M = Plain<decltype(m)>;
    if constexpr (std::is_same<M, OptionalString>::value) {
      m = *static_cast<const std::string*>(in);
    } else if constexpr (std::is_same<M, Any*>::value) {
      // The class is checked before anything changes. The value is held
      // first, so a fresh value that is refused is released, not leaked.
      Basekit::Ref<Any> hold(*static_cast<Any* const*>(in));
      AssignObject(m, Narrow(f, hold.Get()));
    } else if constexpr (std::is_same<M, std::atomic<Any*>>::value) {
      Basekit::Ref<Any> hold(*static_cast<Any* const*>(in));
      AssignArray(m, Narrow(f, hold.Get()));
    } else if constexpr (IsOptional<M>::value) {
      using V = Plain<decltype(m.GetValue())>;
      m = *static_cast<const V*>(in);
    } else {
      m = *static_cast<const M*>(in);
    }
  });
}

void FieldSwap(const DataLayout& layout, DataObject* o, int index, void* inout) {
  OnMember(layout, o, index, [&](const FieldInfo& f, auto& m) {
    using M = Plain<decltype(m)>;
    if constexpr (std::is_same<M, Any*>::value) {
      auto& slot = *static_cast<Basekit::Ref<Any>*>(inout);
      Any* incoming = Narrow(f, slot.Get());
      slot.ExchangeRaw(std::exchange(m, incoming));
    } else if constexpr (std::is_same<M, std::atomic<Any*>>::value) {
      auto& slot = *static_cast<Basekit::Ref<Any>*>(inout);
      Any* incoming = Narrow(f, slot.Get());
      slot.ExchangeRaw(m.exchange(incoming, std::memory_order_acq_rel));
    } else if constexpr (IsOptional<M>::value) {
      m.Swap(*static_cast<M*>(inout));
    } else {
      using std::swap;
      swap(m, *static_cast<M*>(inout));
    }
  });
}

bool FieldIsSet(const DataLayout& layout, const DataObject* o, int index) {
  bool set = true;
  OnMember(layout, o, index, [&](const FieldInfo&, const auto& m) {
    using M = Plain<decltype(m)>;
    if constexpr (std::is_same<M, OptionalString>::value) {
      set = m.IsSet();
    } else if constexpr (std::is_same<M, Any*>::value) {
      set = m != nullptr;
    } else if constexpr (std::is_same<M, std::atomic<Any*>>::value) {
      set = NonEmpty(Held(m)) != nullptr;
    } else if constexpr (IsOptional<M>::value) {
      set = m.IsSet();
    }
  });
  return set;
}

void FieldUnset(const DataLayout& layout, DataObject* o, int index) {
  OnMember(layout, o, index, [&](const FieldInfo& f, auto& m) {
    using M = Plain<decltype(m)>;
    if (!f.optional) return;  // required properties stay as they are
    if constexpr (kOwns<M>) {
      ReleaseMember(m);
    } else if constexpr (IsOptional<M>::value) {
      m.Unset();
    }
  });
}

}  // namespace Movel
