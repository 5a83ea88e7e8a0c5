// Random object graphs over the whole catalogue. For every data and fault
// type the library registers, objects are built through the property
// functions alone (the way the runtime and deserialisers reach them): every
// property kind gets random values, nested objects are of the declared type
// or of any registered subtype, arrays get a few elements, to a bounded depth.
// Then: a copy equals its source, their diff is empty and their sizes agree;
// changing one random leaf of the copy makes exactly that leaf's path differ.
//
// The run is reproducible: it prints its seed, and --gtest_random_seed=N
// replays seed N (the default seed is fixed).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kortypes/kortypes.h"

namespace {

using Basekit::Ref;
using Basekit::System::DateTime;

constexpr std::uint32_t kDefaultSeed = 20261205;
constexpr int kRoundsPerType = 3;
// Per graph: one change per kind of leaf it has, plus this many changes of
// leaves below the root object.
constexpr int kNestedChangesPerRound = 3;
constexpr int kMaxDepth = 3;
constexpr int kMaxObjectsPerGraph = 24;
constexpr int kMaxFailuresReported = 20;

std::uint32_t RunSeed() {
  const std::int32_t flag = GTEST_FLAG_GET(random_seed);
  return flag != 0 ? static_cast<std::uint32_t>(flag) : kDefaultSeed;
}

// --- what a property holds -----------------------------------------------------

enum class Kind {
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
  kData,
  kReference,
  kAnyValue,
  kUnknown,
};

const char* KindName(Kind k) {
  static const char* const names[] = {"string", "bool",     "byte",         "short", "int",
                                      "long",   "float",    "double",       "dateTime",
                                      "binary", "typeName", "methodName",   "propertyPath",
                                      "uri",    "enum",     "data object",  "reference",
                                      "any",    "unknown"};
  return names[static_cast<int>(k)];
}

Kind KindOf(const Movel::Property& p) {
  if (p.IsLink()) return Kind::kString;  // the target's key, not the target
  const Movel::TypeInfo* t = p.GetTypeInfo();
  if (t == &gStringTypeInfo) return Kind::kString;
  if (t == &gBoolTypeInfo) return Kind::kBool;
  if (t == &gByteTypeInfo) return Kind::kByte;
  if (t == &gShortTypeInfo) return Kind::kShort;
  if (t == &gIntTypeInfo) return Kind::kInt;
  if (t == &gLongTypeInfo) return Kind::kLong;
  if (t == &gFloatTypeInfo) return Kind::kFloat;
  if (t == &gDoubleTypeInfo) return Kind::kDouble;
  if (t == &gDateTimeTypeInfo) return Kind::kDateTime;
  if (t == &gBinaryTypeInfo) return Kind::kBinary;
  if (t == &gTypeNameTypeInfo) return Kind::kTypeName;
  if (t == &gMethodNameTypeInfo) return Kind::kMethodName;
  if (t == &gPropertyPathTypeInfo) return Kind::kPropertyPath;
  if (t == &gUriTypeInfo) return Kind::kUri;
  if (t == &gAnyTypeInfo) return Kind::kAnyValue;
  const Movel::Type* type = p.GetType();
  if (!type) return Kind::kUnknown;
  if (type->IsEnum()) return Kind::kEnum;
  if (type->IsDataObject()) return Kind::kData;
  if (type->IsManaged()) return Kind::kReference;
  return Kind::kUnknown;
}

bool IsHeld(Kind k) { return k == Kind::kData || k == Kind::kReference || k == Kind::kAnyValue; }

// "int", "int[]", or "reference element" for one element of an array.
std::string Label(Kind k, bool array, bool element) {
  std::string s = KindName(k);
  if (element) return s + " element";
  return array ? s + "[]" : s;
}

const Movel::DataTypeInfo* RecordOf(const Movel::Property& p) {
  return static_cast<const Movel::DataObjectType*>(p.GetOwner())->GetRecord();
}

// --- the registry as the tests see it ------------------------------------------

struct Registry {
  std::vector<Movel::DataObjectType*> libraryDataTypes;  // the roots of the run
  // Every instantiable data type that is the key type or derives from it.
  std::map<const Movel::Type*, std::vector<Movel::DataObjectType*>> subtypes;
  std::vector<Movel::ManagedObjectType*> managedTypes;
  std::vector<Movel::EnumType*> enumTypes;

  static const Registry& Get() {
    static const Registry r = Build();
    return r;
  }

 private:
  static Registry Build() {
    Registry r;
    for (const Movel::LoadedModule& m : Movel::GetLoadedModules()) {
      for (int i = 0; i < m.count; ++i) {
        const Movel::Type* t = m.types[i];
        if (t->IsDataObject()) {
          r.libraryDataTypes.push_back(const_cast<Movel::DataObjectType*>(
              static_cast<const Movel::DataObjectType*>(t)));
        } else if (t->IsManaged()) {
          r.managedTypes.push_back(const_cast<Movel::ManagedObjectType*>(
              static_cast<const Movel::ManagedObjectType*>(t)));
        } else if (t->IsEnum()) {
          r.enumTypes.push_back(
              const_cast<Movel::EnumType*>(static_cast<const Movel::EnumType*>(t)));
        }
      }
    }
    for (Movel::Type* t : Movel::GetAllTypes()) {
      auto* d = dynamic_cast<Movel::DataObjectType*>(t);
      if (!d || !d->GetRecord()->createObject) continue;
      for (const Movel::Type* a = d; a; a = static_cast<const Movel::StructuredType*>(a)->GetParent()) {
        r.subtypes[a].push_back(d);
        if (!a->IsDataObject()) break;
      }
    }
    return r;
  }
};

// Properties of the roots every data object shares (the sender's dynamic
// type and extra properties, a fault's cause and messages) are the
// runtime's, not the library's: graphs leave them alone.
bool IsRootProperty(const Movel::Property& p) {
  const std::string& owner = p.GetOwner()->GetName();
  return owner == "tydef.DynamicData" || owner == "tydef.MethodFault";
}

bool IsLibraryProperty(const Movel::Property& p) {
  return p.GetOwner()->GetName().rfind("kor.", 0) == 0;
}

// --- a place in a graph ---------------------------------------------------------

// One step from an object to one it holds: property `index` of `owner`'s
// own properties, then element `element` when the property is an array.
struct Step {
  const Movel::DataTypeInfo* owner;
  int index;
  int element;  // -1: the property's value itself
};

// A leaf is one property of one object in the graph (or one element of an
// array of references or values): where it is, and the path a diff must
// report when it changes.
struct Leaf {
  std::vector<Step> route;  // from the root to the object holding the leaf
  const Movel::Property* property;
  Kind kind;
  int element;  // -1, or the element of the property's array that is the leaf
  std::string path;
};

const Movel::Any* PeekAny(const Movel::DataObject* o, const Step& s) {
  const auto* held = static_cast<const Movel::Any*>(s.owner->propPeek(o, s.index));
  if (s.element < 0 || !held) return held;
  return static_cast<const Movel::DataArrayBase*>(held)->GetAt(s.element);
}

Movel::DataObject* Walk(Movel::DataObject* root, const std::vector<Step>& route) {
  const Movel::DataObject* o = root;
  for (const Step& s : route) {
    o = dynamic_cast<const Movel::DataObject*>(PeekAny(o, s));
    if (!o) return nullptr;
  }
  return const_cast<Movel::DataObject*>(o);
}

// --- building -------------------------------------------------------------------

class Builder {
 public:
  explicit Builder(std::uint64_t seed) : rng_(seed) {}

  Ref<Movel::DataObject> Build(const Movel::DataObjectType* type) {
    objects_ = 0;
    leaves_.clear();
    Ref<Movel::DataObject> root(type->CreateInstance());
    Populate(root, type, 0, {}, "obj");
    return root;
  }

  const std::vector<Leaf>& Leaves() const { return leaves_; }
  std::mt19937_64& Rng() { return rng_; }

  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int percent) { return Uniform(1, 100) <= percent; }

  // Texts are either short enough for a string's own buffer or at least 30
  // long: a string assigned 16 to 29 characters gets a block of twice its
  // inline capacity, and a copy of it an exactly fitting one, which would
  // make sizes of source and copy differ for reasons of the string class.
  std::string Text() {
    const int n = Chance(70) ? Uniform(0, 12) : Uniform(30, 48);
    std::string s(static_cast<size_t>(n), 'a');
    for (char& c : s) c = static_cast<char>('a' + Uniform(0, 25));
    return s;
  }

  Ref<Movel::DataObject> NewObject(const Movel::Type* declared, int depth,
                                   const std::vector<Step>& route, const std::string& path) {
    const auto& candidates = Registry::Get().subtypes;
    auto it = candidates.find(declared);
    if (it == candidates.end() || it->second.empty()) return nullptr;
    const Movel::DataObjectType* t = it->second[static_cast<size_t>(Uniform(0, static_cast<int>(it->second.size()) - 1))];
    ++objects_;
    Ref<Movel::DataObject> o(t->CreateInstance());
    Populate(o, t, depth, route, path);
    return o;
  }

  Ref<Movel::MoRef> NewReference(const Movel::Type* declared) {
    const auto& managed = Registry::Get().managedTypes;
    std::vector<Movel::ManagedObjectType*> fit;
    for (Movel::ManagedObjectType* m : managed) {
      if (m->IsA(declared)) fit.push_back(m);
    }
    Movel::ManagedObjectType* type =
        fit.empty() ? Movel::GetManagedObjectRootType()
                    : fit[static_cast<size_t>(Uniform(0, static_cast<int>(fit.size()) - 1))];
    Ref<Movel::MoRef> r = Movel::MakeMoRef(type, "mo-" + std::to_string(Uniform(1, 99999)));
    return r;
  }

  // A value for an "any" property: a box, a reference or a data object.
  Ref<Movel::Any> NewAnyValue(int depth, const std::vector<Step>& route, const std::string& path) {
    switch (Uniform(0, 4)) {
      case 0:
        return Ref<Movel::Any>(new Movel::Primitive<int>(Uniform(-1000, 1000)));
      case 1:
        return Ref<Movel::Any>(new Movel::Primitive<std::string>(Text()));
      case 2: {
        const auto& enums = Registry::Get().enumTypes;
        Movel::EnumType* e = enums[static_cast<size_t>(Uniform(0, static_cast<int>(enums.size()) - 1))];
        return Ref<Movel::Any>(e->GetFuncs().boxValue(Uniform(0, static_cast<int>(e->GetValues().size()) - 1)));
      }
      case 3:
        return Ref<Movel::Any>(NewReference(Movel::GetManagedObjectRootType()).Get());
      default:
        if (depth >= kMaxDepth || objects_ >= kMaxObjectsPerGraph) {
          return Ref<Movel::Any>(new Movel::Primitive<long long>(Uniform(0, 1 << 30)));
        }
        return Ref<Movel::Any>(
            NewObject(Movel::GetType(&gTydefDynamicDataTypeInfo), depth + 1, route, path).Get());
    }
  }

  // Sets a random value of property p on o through the property functions.
  void SetRandomValue(Movel::DataObject* o, const Movel::Property& p, Kind k) {
    const Movel::DataTypeInfo* rec = RecordOf(p);
    const int i = p.GetIndex();
    switch (k) {
      case Kind::kString: {
        const std::string v = Text();
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kBool: {
        const bool v = Chance(50);
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kByte: {
        const auto v = static_cast<signed char>(Uniform(-128, 127));
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kShort: {
        const auto v = static_cast<short>(Uniform(-32768, 32767));
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kInt: {
        const int v = Uniform(-1000000, 1000000);
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kLong: {
        const long long v = static_cast<long long>(rng_() >> 1) - (1LL << 40);
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kFloat: {
        const float v = static_cast<float>(Uniform(-100000, 100000)) / 8.0f;
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kDouble: {
        const double v = std::uniform_real_distribution<double>(-1e9, 1e9)(rng_);
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kDateTime: {
        const DateTime v(static_cast<std::int64_t>(rng_() >> 20), 15 * Uniform(-48, 56));
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kBinary: {
        std::vector<unsigned char> v(static_cast<size_t>(Uniform(0, 8)));
        for (unsigned char& b : v) b = static_cast<unsigned char>(Uniform(0, 255));
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kTypeName: {
        const Movel::TypeName v(Text());
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kMethodName: {
        const Movel::MethodName v(Text());
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kPropertyPath: {
        const Movel::PropertyPath v(Text());
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kUri: {
        const Movel::Uri v(Text());
        rec->propSet(o, i, &v);
        break;
      }
      case Kind::kEnum: {
        // Generated enumerations are `enum class E : int`, numbered from 0.
        const auto* e = static_cast<const Movel::EnumType*>(p.GetType());
        const int v = Uniform(0, static_cast<int>(e->GetValues().size()) - 1);
        rec->propSet(o, i, &v);
        break;
      }
      default:
        break;
    }
  }

  template <class T, class Make>
  Ref<Movel::Any> ValueArray(int n, Make make) {
    std::vector<T> values;
    values.reserve(static_cast<size_t>(n));
    for (int e = 0; e < n; ++e) values.push_back(make());
    return Ref<Movel::Any>(new Movel::Array<T>(std::move(values)));
  }

  // A new array of n random values of a value kind.
  Ref<Movel::Any> NewValueArray(const Movel::Property& p, Kind k, int n) {
    switch (k) {
      case Kind::kString:
        return ValueArray<std::string>(n, [this] { return Text(); });
      case Kind::kBool:
        return ValueArray<bool>(n, [this] { return Chance(50); });
      case Kind::kByte:
        return ValueArray<signed char>(n, [this] { return static_cast<signed char>(Uniform(-128, 127)); });
      case Kind::kShort:
        return ValueArray<short>(n, [this] { return static_cast<short>(Uniform(-999, 999)); });
      case Kind::kInt:
        return ValueArray<int>(n, [this] { return Uniform(-99999, 99999); });
      case Kind::kLong:
        return ValueArray<long long>(n, [this] { return static_cast<long long>(Uniform(0, 1 << 30)) << 8; });
      case Kind::kFloat:
        return ValueArray<float>(n, [this] { return static_cast<float>(Uniform(-999, 999)) / 4.0f; });
      case Kind::kDouble:
        return ValueArray<double>(n, [this] { return static_cast<double>(Uniform(-99999, 99999)) / 16.0; });
      case Kind::kDateTime:
        return ValueArray<DateTime>(n, [this] { return DateTime(static_cast<std::int64_t>(rng_() >> 20)); });
      case Kind::kBinary:
        return ValueArray<std::vector<unsigned char>>(n, [this] {
          return std::vector<unsigned char>(static_cast<size_t>(Uniform(0, 4)), static_cast<unsigned char>(Uniform(0, 255)));
        });
      case Kind::kTypeName:
        return ValueArray<Movel::TypeName>(n, [this] { return Movel::TypeName(Text()); });
      case Kind::kMethodName:
        return ValueArray<Movel::MethodName>(n, [this] { return Movel::MethodName(Text()); });
      case Kind::kPropertyPath:
        return ValueArray<Movel::PropertyPath>(n, [this] { return Movel::PropertyPath(Text()); });
      case Kind::kUri:
        return ValueArray<Movel::Uri>(n, [this] { return Movel::Uri(Text()); });
      case Kind::kEnum: {
        const auto* e = static_cast<const Movel::EnumType*>(p.GetType());
        Ref<Movel::Array<std::string>> names(new Movel::Array<std::string>());
        names->GetValues().reserve(static_cast<size_t>(n));
        for (int x = 0; x < n; ++x) {
          names->Append(e->GetValues()[static_cast<size_t>(Uniform(0, static_cast<int>(e->GetValues().size()) - 1))]);
        }
        return Ref<Movel::Any>(e->GetFuncs().arrayFromNames(names, e));
      }
      default:
        return nullptr;
    }
  }

  // An empty array of the property's array class.
  static Ref<Movel::Any> NewEmptyArray(const Movel::Property& p, Kind k) {
    if (k == Kind::kData) {
      return Ref<Movel::Any>(static_cast<const Movel::DataObjectType*>(p.GetType())->CreateArrayInstance());
    }
    if (k == Kind::kReference) return Ref<Movel::Any>(new Movel::DataArray<Movel::MoRef>());
    if (k == Kind::kAnyValue) return Ref<Movel::Any>(new Movel::DataArray<Movel::Any>());
    return nullptr;  // value arrays: see NewValueArray with n = 0
  }

 private:
  void AddLeaf(const std::vector<Step>& route, const Movel::Property& p, Kind k, int element,
               const std::string& path) {
    if (IsLibraryProperty(p)) leaves_.push_back(Leaf{route, &p, k, element, path});
  }

  void Populate(Movel::DataObject* o, const Movel::DataObjectType* type, int depth,
                const std::vector<Step>& route, const std::string& path) {
    for (const Movel::Property* pp : type->GetAllProperties()) {
      const Movel::Property& p = *pp;
      if (IsRootProperty(p)) continue;
      const Kind k = KindOf(p);
      if (k == Kind::kUnknown) {
        ADD_FAILURE() << "property of an unknown kind: " << type->GetName() << "." << p.GetName();
        continue;
      }
      const Movel::DataTypeInfo* rec = RecordOf(p);
      const int index = p.GetIndex();
      const std::string here = path + "." + p.GetName();
      AddLeaf(route, p, k, -1, here);
      const bool room = depth < kMaxDepth && objects_ < kMaxObjectsPerGraph;
      if (p.IsArray()) {
        if (!Chance(60)) continue;
        // Arrays are filled exactly to the capacity they reserve, as a copy
        // is: sizes charge capacities.
        const int n = k == Kind::kData && !room ? 0 : Uniform(0, 3);
        Ref<Movel::Any> array;
        if (IsHeld(k)) {
          array = NewEmptyArray(p, k);
          auto* items = static_cast<Movel::DataArrayBase*>(array.Get());
          items->Reserve(n);
          for (int e = 0; e < n; ++e) {
            std::vector<Step> inner = route;
            inner.push_back(Step{rec, index, e});
            const std::string at = here + "[" + std::to_string(e) + "]";
            if (k == Kind::kReference) {
              items->Append(NewReference(p.GetType()));
              AddLeaf(route, p, k, e, at);
            } else if (k == Kind::kAnyValue) {
              Ref<Movel::Any> v = NewAnyValue(depth, inner, at);
              items->Append(v);
              if (!dynamic_cast<Movel::DataObject*>(v.Get())) AddLeaf(route, p, k, e, at);
            } else {
              items->Append(NewObject(p.GetType(), depth + 1, inner, at));
            }
          }
        } else {
          array = NewValueArray(p, k, n);
        }
        Movel::Any* in = array.Get();
        rec->propSet(o, index, &in);
      } else if (IsHeld(k)) {
        if (!Chance(p.IsOptional() ? 50 : 85)) continue;
        std::vector<Step> inner = route;
        inner.push_back(Step{rec, index, -1});
        Ref<Movel::Any> v;
        if (k == Kind::kReference) {
          v = NewReference(p.GetType());
        } else if (k == Kind::kAnyValue) {
          v = NewAnyValue(depth, inner, here);
        } else if (room) {
          v = NewObject(p.GetType(), depth + 1, inner, here);
        }
        Movel::Any* in = v.Get();
        rec->propSet(o, index, &in);
      } else if (!p.IsOptional() || Chance(70)) {
        SetRandomValue(o, p, k);
      }
    }
  }

  std::mt19937_64 rng_;
  int objects_ = 0;
  std::vector<Leaf> leaves_;
};

// --- changing one leaf ------------------------------------------------------------

template <class T>
T Other(const T& current, const T& a, const T& b) {
  return current == a ? b : a;
}

// Puts into a value property a value different from the one it has (or a
// value at all when it is unset), or unsets an optional one. False when the
// property cannot change (a required enumeration with a single value).
bool ChangeValue(Movel::DataObject* o, const Movel::Property& p, Kind k, Builder& b) {
  const Movel::DataTypeInfo* rec = RecordOf(p);
  const int i = p.GetIndex();
  const void* now = rec->propPeek(o, i);
  if (p.IsOptional() && now && b.Chance(30)) {
    rec->propUnset(o, i);
    return true;
  }
  auto set = [&](const auto& v) { rec->propSet(o, i, &v); };
  auto cur = [now](auto fallback) { return now ? *static_cast<const decltype(fallback)*>(now) : fallback; };
  switch (k) {
    case Kind::kString:
      set(Other<std::string>(cur(std::string()), "m", "n"));
      return true;
    case Kind::kBool:
      set(!cur(false));
      return true;
    case Kind::kByte:
      set(Other<signed char>(cur(static_cast<signed char>(0)), 1, 2));
      return true;
    case Kind::kShort:
      set(Other<short>(cur(static_cast<short>(0)), 1, 2));
      return true;
    case Kind::kInt:
      set(Other<int>(cur(0), 1, 2));
      return true;
    case Kind::kLong:
      set(Other<long long>(cur(0LL), 1, 2));
      return true;
    case Kind::kFloat:
      set(Other<float>(cur(0.0f), 1.5f, 2.5f));
      return true;
    case Kind::kDouble:
      set(Other<double>(cur(0.0), 1.5, 2.5));
      return true;
    case Kind::kDateTime:
      set(DateTime(cur(DateTime()).GetUtcTime() + 1));
      return true;
    case Kind::kBinary: {
      std::vector<unsigned char> v = cur(std::vector<unsigned char>());
      v.push_back(7);
      set(v);
      return true;
    }
    case Kind::kTypeName:
      set(Other<Movel::TypeName>(cur(Movel::TypeName()), "m", "n"));
      return true;
    case Kind::kMethodName:
      set(Other<Movel::MethodName>(cur(Movel::MethodName()), "m", "n"));
      return true;
    case Kind::kPropertyPath:
      set(Other<Movel::PropertyPath>(cur(Movel::PropertyPath()), "m", "n"));
      return true;
    case Kind::kUri:
      set(Other<Movel::Uri>(cur(Movel::Uri()), "m", "n"));
      return true;
    case Kind::kEnum: {
      const auto* e = static_cast<const Movel::EnumType*>(p.GetType());
      const int count = static_cast<int>(e->GetValues().size());
      int v = 0;
      if (now) std::memcpy(&v, now, sizeof v);
      if (now && count < 2) {
        if (!p.IsOptional()) return false;
        rec->propUnset(o, i);
        return true;
      }
      set(now ? (v + 1) % count : 0);
      return true;
    }
    default:
      return false;
  }
}

template <class T>
bool AppendTo(Movel::Any* array, const T& v) {
  auto* a = dynamic_cast<Movel::Array<T>*>(array);
  if (!a) return false;
  a->Append(v);
  return true;
}

// Lengthens a present array by one element, in place (enumeration arrays
// are of classes named only by their enumeration; ChangeArray handles them).
bool Lengthen(Movel::Any* array, const Movel::Property& p, Kind k, Builder& b) {
  switch (k) {
    case Kind::kString: return AppendTo<std::string>(array, "z");
    case Kind::kBool: return AppendTo<bool>(array, true);
    case Kind::kByte: return AppendTo<signed char>(array, 1);
    case Kind::kShort: return AppendTo<short>(array, 1);
    case Kind::kInt: return AppendTo<int>(array, 1);
    case Kind::kLong: return AppendTo<long long>(array, 1);
    case Kind::kFloat: return AppendTo<float>(array, 1);
    case Kind::kDouble: return AppendTo<double>(array, 1);
    case Kind::kDateTime: return AppendTo<DateTime>(array, DateTime());
    case Kind::kBinary: return AppendTo<std::vector<unsigned char>>(array, {});
    case Kind::kTypeName: return AppendTo<Movel::TypeName>(array, "z");
    case Kind::kMethodName: return AppendTo<Movel::MethodName>(array, "z");
    case Kind::kPropertyPath: return AppendTo<Movel::PropertyPath>(array, "z");
    case Kind::kUri: return AppendTo<Movel::Uri>(array, "z");
    case Kind::kReference:
      static_cast<Movel::DataArrayBase*>(array)->Append(b.NewReference(p.GetType()));
      return true;
    case Kind::kAnyValue:
      static_cast<Movel::DataArrayBase*>(array)->Append(new Movel::Primitive<int>(5));
      return true;
    case Kind::kData: {
      Ref<Movel::DataObject> extra(static_cast<const Movel::DataObjectType*>(p.GetType())->CreateInstance());
      if (!extra) return false;
      static_cast<Movel::DataArrayBase*>(array)->Append(extra);
      return true;
    }
    default:
      return false;
  }
}

// Changes an array property: an absent array becomes an empty one (which
// is a change), a present one is replaced by null or gets one more element.
bool ChangeArray(Movel::DataObject* o, const Movel::Property& p, Kind k, Builder& b) {
  const Movel::DataTypeInfo* rec = RecordOf(p);
  const int i = p.GetIndex();
  Ref<Movel::Any> held;
  {
    // Peek says null for an empty array too; IsSet cannot tell either. Swap
    // the member out and back in to see whether there is an array at all.
    Ref<Movel::Any> probe;
    rec->propSwap(o, i, &probe);
    held = probe;
    rec->propSwap(o, i, &probe);
  }
  if (!held) {
    Ref<Movel::Any> empty = IsHeld(k) ? Builder::NewEmptyArray(p, k) : b.NewValueArray(p, k, 0);
    Movel::Any* in = empty.Get();
    rec->propSet(o, i, &in);
    return true;
  }
  if (b.Chance(30)) {
    Movel::Any* none = nullptr;
    rec->propSet(o, i, &none);
    return true;
  }
  if (k == Kind::kEnum) {
    const auto* e = static_cast<const Movel::EnumType*>(p.GetType());
    Ref<Movel::Any> names;
    e->GetFuncs().namesFromArray(held, names, e);
    static_cast<Movel::Array<std::string>*>(names.Get())->Append(e->GetValues()[0]);
    Ref<Movel::Any> longer(e->GetFuncs().arrayFromNames(names, e));
    Movel::Any* in = longer.Get();
    rec->propSet(o, i, &in);
    return true;
  }
  return Lengthen(held, p, k, b);
}

// Changes an object property: null becomes an object, an object becomes
// null, or a reference or box is replaced by a different one.
bool ChangeHeld(Movel::DataObject* o, const Movel::Property& p, Kind k, Builder& b) {
  const Movel::DataTypeInfo* rec = RecordOf(p);
  const int i = p.GetIndex();
  const auto* now = static_cast<const Movel::Any*>(rec->propPeek(o, i));
  Ref<Movel::Any> next;
  // A held data object becomes null: a fresh object in its place could
  // happen to equal it.
  if (now && (k == Kind::kData || b.Chance(50))) {
    next = nullptr;
  } else if (k == Kind::kReference) {
    next = Movel::MakeMoRef(static_cast<Movel::ManagedObjectType*>(p.GetType()), "changed-ref");
  } else if (k == Kind::kAnyValue) {
    next = new Movel::Primitive<std::string>("changed-box");
  } else {
    next = static_cast<const Movel::DataObjectType*>(p.GetType())->CreateInstance();
    if (!next) return false;
  }
  if (!now && !next) return false;
  Movel::Any* in = next.Get();
  rec->propSet(o, i, &in);
  return true;
}

// Replaces element e of an array of references or values by a different one.
bool ChangeElement(Movel::DataObject* o, const Movel::Property& p, Kind k, int e) {
  const auto* array = static_cast<const Movel::DataArrayBase*>(RecordOf(p)->propPeek(o, p.GetIndex()));
  if (!array || e >= array->GetLength()) return false;
  Ref<Movel::Any> next;
  if (k == Kind::kReference) {
    next = Movel::MakeMoRef(Movel::GetManagedObjectRootType(), "changed-element");
  } else {
    next = new Movel::Primitive<std::string>("changed-element");
  }
  const_cast<Movel::DataArrayBase*>(array)->SetAt(e, next);
  return true;
}

bool Change(Movel::DataObject* root, const Leaf& leaf, Builder& b) {
  Movel::DataObject* o = Walk(root, leaf.route);
  if (!o) return false;
  const Movel::Property& p = *leaf.property;
  if (leaf.element >= 0) return ChangeElement(o, p, leaf.kind, leaf.element);
  if (p.IsArray()) return ChangeArray(o, p, leaf.kind, b);
  if (IsHeld(leaf.kind)) return ChangeHeld(o, p, leaf.kind, b);
  return ChangeValue(o, p, leaf.kind, b);
}

// --- the checks -----------------------------------------------------------------

unsigned Identity(unsigned n) { return n; }

std::vector<std::string> Paths(const Movel::PropertyDiffSet& set) {
  std::vector<std::string> out;
  for (const Movel::PropertyPath& p : set.GetChanged()) out.push_back(p.str());
  return out;
}

std::string Join(const std::vector<std::string>& v) {
  std::string s = "{";
  for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + v[i];
  return s + "}";
}

std::uint64_t TypeSeed(std::uint32_t run, const std::string& type, int round) {
  std::uint64_t h = 1469598103934665603ull ^ run;
  for (char c : type) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h ^ (static_cast<std::uint64_t>(round) << 56);
}

struct Tally {
  int failures = 0;
  std::map<std::string, int> changed;  // by leaf label
  int nestedChanges = 0;               // leaves below the root object
  int elementPaths = 0;                // changed paths through an array index
  int changes = 0;
  int graphs = 0;
};

class RandomGraphs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::printf("random graphs: seed %u (replay with --gtest_random_seed=%u)\n", RunSeed(),
                RunSeed());
  }

  // Reports one failure with what is needed to replay it.
  void Fail(Tally& t, const std::string& type, int round, const std::string& what) {
    if (++t.failures <= kMaxFailuresReported) {
      ADD_FAILURE() << what << "\n  type " << type << ", round " << round << ", seed "
                    << RunSeed();
    }
  }
};

TEST_F(RandomGraphs, ACopyEqualsItsSourceHasNoDiffAndTheSameSize) {
  Tally t;
  const auto& types = Registry::Get().libraryDataTypes;
  ASSERT_GT(types.size(), 100u);
  for (const Movel::DataObjectType* type : types) {
    for (int round = 0; round < kRoundsPerType; ++round) {
      Builder b(TypeSeed(RunSeed(), type->GetName(), round));
      Ref<Movel::DataObject> a = b.Build(type);
      ++t.graphs;
      Ref<Movel::Any> c(a->_Clone());
      if (!c || c.Get() == a.Get() || c->_GetType() != type) {
        Fail(t, type->GetName(), round, "the copy is not a new object of the same type");
        continue;
      }
      if (!Movel::AreEqualAnysInt(a, c, 0, false) || !Movel::AreEqualAnysInt(c, a, 0, false)) {
        Fail(t, type->GetName(), round, "a copy does not equal its source");
      }
      Movel::PropertyDiffSet diff;
      Movel::DiffAnyPropertiesInt(a, c, "obj", 0, diff);
      if (!diff.empty()) {
        Fail(t, type->GetName(), round, "a copy differs from its source at " + Join(Paths(diff)));
      }
      if (a->_GetSize(&Identity) != c->_GetSize(&Identity)) {
        Fail(t, type->GetName(), round,
             "sizes differ: source " + std::to_string(a->_GetSize(&Identity)) + ", copy " +
                 std::to_string(c->_GetSize(&Identity)));
      }
      // A copy of the copy is equal too: copying loses nothing.
      Ref<Movel::Any> cc(c->_Clone());
      if (!Movel::AreEqualAnysInt(a, cc, 0, false)) {
        Fail(t, type->GetName(), round, "a copy of a copy does not equal the source");
      }
    }
  }
  EXPECT_EQ(t.failures, 0) << "see the first " << kMaxFailuresReported << " failures above";
  EXPECT_EQ(t.graphs, static_cast<int>(types.size()) * kRoundsPerType);
}

TEST_F(RandomGraphs, ChangingOneLeafOfACopyIsReportedAtExactlyThatPath) {
  Tally t;
  std::set<std::string> declared;  // labels of every library property
  for (const Movel::DataObjectType* type : Registry::Get().libraryDataTypes) {
    for (const Movel::Property& p : type->GetOwnProperties()) {
      if (IsLibraryProperty(p)) declared.insert(Label(KindOf(p), p.IsArray(), false));
    }
  }
  std::map<std::string, int> built;
  for (const Movel::DataObjectType* type : Registry::Get().libraryDataTypes) {
    for (int round = 0; round < kRoundsPerType; ++round) {
      Builder b(TypeSeed(RunSeed(), type->GetName(), round));
      Ref<Movel::DataObject> a = b.Build(type);
      const std::vector<Leaf> leaves = b.Leaves();
      // The leaves to change: in the first round every property of the root
      // object, so that each property of each type is changed at least once;
      // in later rounds one leaf of each label, so that rare kinds are
      // changed as often as common ones. In every round, a few leaves below
      // the root.
      std::map<std::string, std::vector<const Leaf*>> byLabel;
      std::vector<const Leaf*> nested;
      for (const Leaf& leaf : leaves) {
        const std::string label = Label(leaf.kind, leaf.property->IsArray(), leaf.element >= 0);
        byLabel[label].push_back(&leaf);
        ++built[label];
        if (!leaf.route.empty()) nested.push_back(&leaf);
      }
      std::vector<const Leaf*> chosen;
      if (round == 0) {
        for (const Leaf& leaf : leaves) {
          if (leaf.route.empty()) chosen.push_back(&leaf);
        }
      } else {
        for (const auto& kv : byLabel) {
          chosen.push_back(kv.second[static_cast<size_t>(b.Uniform(0, static_cast<int>(kv.second.size()) - 1))]);
        }
      }
      for (int n = 0; n < kNestedChangesPerRound && !nested.empty(); ++n) {
        chosen.push_back(nested[static_cast<size_t>(b.Uniform(0, static_cast<int>(nested.size()) - 1))]);
      }
      for (const Leaf* leaf : chosen) {
        Ref<Movel::DataObject> c(static_cast<Movel::DataObject*>(a->_Clone()));
        if (!Change(c, *leaf, b)) continue;
        ++t.changes;
        const std::string label = Label(leaf->kind, leaf->property->IsArray(), leaf->element >= 0);
        ++t.changed[label];
        if (!leaf->route.empty()) ++t.nestedChanges;
        if (leaf->path.find('[') != std::string::npos) ++t.elementPaths;

        Movel::PropertyDiffSet diff;
        Movel::DiffAnyPropertiesInt(a, c, "obj", 0, diff);
        const std::vector<std::string> got = Paths(diff);
        if (got != std::vector<std::string>{leaf->path}) {
          Fail(t, type->GetName(), round,
               "changed " + leaf->path + " (" + label + "), diff gave " + Join(got));
        }
        Movel::PropertyDiffSet back;
        Movel::DiffAnyPropertiesInt(c, a, "obj", 0, back);
        if (Paths(back) != std::vector<std::string>{leaf->path}) {
          Fail(t, type->GetName(), round,
               "changed " + leaf->path + " (" + label + "), the reverse diff gave " +
                   Join(Paths(back)));
        }
        if (Movel::AreEqualAnysInt(a, c, 0, false) || Movel::AreEqualAnysInt(c, a, 0, false)) {
          Fail(t, type->GetName(), round, "changed " + leaf->path + " (" + label + "), still equal");
        }
      }
    }
  }
  EXPECT_EQ(t.failures, 0) << "see the first " << kMaxFailuresReported << " failures above";

  // The checks above prove something only for what the graphs contained:
  // every kind of property the catalogue declares was built and changed
  // (a kind the builder skipped, or whose change silently did nothing, would
  // otherwise go untested), and changes reached nested objects and arrays.
  ASSERT_GT(declared.size(), 10u);
  for (const std::string& label : declared) {
    EXPECT_GT(built[label], 0) << "no " << label << " property was built";
    EXPECT_GT(t.changed[label], 0) << "no " << label << " property was changed";
  }
  EXPECT_GT(t.nestedChanges, t.changes / 10);
  EXPECT_GT(t.elementPaths, 50);
  std::string summary;
  for (const auto& kv : t.changed) summary += " " + kv.first + "=" + std::to_string(kv.second);
  std::printf("random graphs: %d changes (%d nested, %d through arrays):%s\n", t.changes,
              t.nestedChanges, t.elementPaths, summary.c_str());
}

}  // namespace
