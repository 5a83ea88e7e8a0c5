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
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kortypes/kortypes.h"
#include "random_graph.h"

namespace {

using namespace randomgraph;
using Basekit::Ref;
using Basekit::System::DateTime;

// Wire names of the data and fault types the generated catalogue index lists
// (written by the generator from the schema, independently of what the
// runtime registered at load).
std::set<std::string> CatalogueDataTypes() {
  std::set<std::string> names;
  std::ifstream in(KORTYPES_CATALOGUE_INDEX);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t k = line.find('\t');
    const size_t w = line.find('\t', k + 1);
    const size_t end = line.find('\t', w + 1);
    if (k == std::string::npos || w == std::string::npos || end == std::string::npos) continue;
    const std::string kind = line.substr(k + 1, w - k - 1);
    if (kind == "data" || kind == "fault") names.insert(line.substr(w + 1, end - w - 1));
  }
  return names;
}

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
  const std::set<std::string> catalogue = CatalogueDataTypes();
  ASSERT_GT(catalogue.size(), 100u) << "catalogue index missing: " << KORTYPES_CATALOGUE_INDEX;
  std::set<std::string> visited;
  for (const Movel::DataObjectType* type : types) {
    visited.insert(type->GetName());
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
  // The run covered the catalogue: every data and fault type of the index
  // was a root, and nothing else was.
  std::vector<std::string> missing, extra;
  for (const std::string& n : catalogue) {
    if (!visited.count(n)) missing.push_back(n);
  }
  for (const std::string& n : visited) {
    if (!catalogue.count(n)) extra.push_back(n);
  }
  EXPECT_TRUE(missing.empty()) << missing.size() << " catalogue types were never built, e.g. "
                               << missing.front();
  EXPECT_TRUE(extra.empty()) << extra.size() << " roots are not catalogue types, e.g. "
                             << extra.front();
  std::printf("random graphs: %zu data and fault types visited of %zu in the catalogue, %d graphs\n",
              visited.size(), catalogue.size(), t.graphs);
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
