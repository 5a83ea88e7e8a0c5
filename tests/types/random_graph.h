// The random object graphs of the catalogue-wide tests: a registry of the
// library's types as the tests see them, and a builder that fills objects of
// any registered data type through the property functions alone (see
// random_graph_test.cpp for how they are used).
#pragma once

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

namespace randomgraph {

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

inline std::uint32_t RunSeed() {
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

inline const char* KindName(Kind k) {
  static const char* const names[] = {"string", "bool",     "byte",         "short", "int",
                                      "long",   "float",    "double",       "dateTime",
                                      "binary", "typeName", "methodName",   "propertyPath",
                                      "uri",    "enum",     "data object",  "reference",
                                      "any",    "unknown"};
  return names[static_cast<int>(k)];
}

inline Kind KindOf(const Movel::Property& p) {
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

inline bool IsHeld(Kind k) { return k == Kind::kData || k == Kind::kReference || k == Kind::kAnyValue; }

// "int", "int[]", or "reference element" for one element of an array.
inline std::string Label(Kind k, bool array, bool element) {
  std::string s = KindName(k);
  if (element) return s + " element";
  return array ? s + "[]" : s;
}

inline const Movel::DataTypeInfo* RecordOf(const Movel::Property& p) {
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
inline bool IsRootProperty(const Movel::Property& p) {
  const std::string& owner = p.GetOwner()->GetName();
  return owner == "tydef.DynamicData" || owner == "tydef.MethodFault";
}

inline bool IsLibraryProperty(const Movel::Property& p) {
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

inline const Movel::Any* PeekAny(const Movel::DataObject* o, const Step& s) {
  const auto* held = static_cast<const Movel::Any*>(s.owner->propPeek(o, s.index));
  if (s.element < 0 || !held) return held;
  return static_cast<const Movel::DataArrayBase*>(held)->GetAt(s.element);
}

inline Movel::DataObject* Walk(Movel::DataObject* root, const std::vector<Step>& route) {
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
  // A full builder sets every property it can: each optional value, each
  // object while the graph has room, and 1 to 3 elements in every array.
  explicit Builder(std::uint64_t seed, bool full = false) : rng_(seed), full_(full) {}

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
        if (!full_ && !Chance(60)) continue;
        if (full_ && k == Kind::kData && !room) continue;
        // Arrays are filled exactly to the capacity they reserve, as a copy
        // is: sizes charge capacities.
        const int n = full_ ? Uniform(1, 3) : k == Kind::kData && !room ? 0 : Uniform(0, 3);
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
        if (!full_ && !Chance(p.IsOptional() ? 50 : 85)) continue;
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
      } else if (full_ || !p.IsOptional() || Chance(70)) {
        SetRandomValue(o, p, k);
      }
    }
  }

  std::mt19937_64 rng_;
  bool full_ = false;
  int objects_ = 0;
  std::vector<Leaf> leaves_;
};

}  // namespace randomgraph
