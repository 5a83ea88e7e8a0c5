// The sample's derived data types (smp.Middle on smp.Base, and
// smp.extra.Leaf on smp.Middle, across modules), its faults, the properties
// whose names are C++ keywords, enumeration value strings and the schema's
// property attributes as the descriptors carry them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probes.h"

namespace sample {
namespace {

using Basekit::Ref;
using Smp::Extra::Leaf;

unsigned Identity(unsigned n) { return n; }

Ref<Leaf> MakeLeaf() {
  Ref<Leaf> l(new Leaf());
  l->key = "leaf-1";
  Movel::SetOptionalString(l->note, "first note");
  l->weight = 10;
  l->depth = 3;
  l->SetFolder(Movel::MakeMoRef(Movel::GetMoType<Smp::Folder>(), "group-1"));
  return l;
}

Ref<Leaf> CloneLeaf(const Leaf& l) { return Ref<Leaf>(static_cast<Leaf*>(l._Clone())); }

TEST(Inheritance, DiffListsInheritedPathsFirstInDeclarationOrder) {
  Ref<Leaf> a = MakeLeaf();
  Ref<Leaf> b = CloneLeaf(*a);
  EXPECT_TRUE(a->_IsEqual(b, false));
  EXPECT_EQ(DiffPaths(*a, *b, "l"), std::vector<std::string>{});
  b->depth = 4;
  b->weight = 11;
  b->key = "leaf-2";
  b->SetFolder(Movel::MakeMoRef(Movel::GetMoType<Smp::Folder>(), "group-2"));
  Movel::SetOptionalString(b->note, "second note");
  EXPECT_EQ(DiffPaths(*a, *b, "l"),
            (std::vector<std::string>{"l.key", "l.note", "l.weight", "l.depth", "l.folder"}));

  // The same through a class one level up.
  Ref<Smp::Middle> m(new Smp::Middle());
  m->key = "m";
  m->weight = 1;
  Ref<Smp::Middle> n(static_cast<Smp::Middle*>(m->_Clone()));
  n->weight = 2;
  Movel::SetOptionalString(n->note, "n");
  EXPECT_EQ(DiffPaths(*m, *n, "m"), (std::vector<std::string>{"m.note", "m.weight"}));
}

TEST(Inheritance, EqualityCoversEveryAncestorsProperties) {
  Ref<Leaf> a = MakeLeaf();
  // One change per level of the chain, each enough to make the objects differ.
  const std::vector<std::pair<const char*, void (*)(Leaf&)>> changes = {
      {"l.key", [](Leaf& l) { l.key = "other"; }},
      {"l.note", [](Leaf& l) { Movel::SetOptionalString(l.note, "other"); }},
      {"l.weight", [](Leaf& l) { l.weight = -1; }},
      {"l.depth", [](Leaf& l) { l.depth = -1; }},
      {"l.folder", [](Leaf& l) { l.SetFolder(nullptr); }},
  };
  for (const auto& change : changes) {
    SCOPED_TRACE(change.first);
    Ref<Leaf> b = CloneLeaf(*a);
    change.second(*b);
    EXPECT_FALSE(a->_IsEqual(b, false));
    EXPECT_FALSE(b->_IsEqual(a, false));
    EXPECT_FALSE(Movel::AreEqualAnysInt(a, b, 0, false));
    EXPECT_EQ(DiffPaths(*a, *b, "l"), std::vector<std::string>{change.first});
  }
  // The lenient rule holds for inherited optionals too.
  Ref<Leaf> unset = CloneLeaf(*a);
  Movel::UnsetOptionalString(unset->note);
  unset->SetFolder(nullptr);
  EXPECT_TRUE(a->_IsEqual(unset, true));
  EXPECT_FALSE(unset->_IsEqual(a, true));
}

TEST(Inheritance, PropertyIndexesCountOnlyEachTypesOwnProperties) {
  Movel::DataObjectType* leafType = Movel::GetDoType<Leaf>();
  Movel::DataObjectType* middleType = Movel::GetDoType<Smp::Middle>();
  Movel::DataObjectType* baseType = Movel::GetDoType<Smp::Base>();
  ASSERT_EQ(leafType->GetParent(), middleType);
  ASSERT_EQ(middleType->GetParent(), baseType);
  EXPECT_TRUE(leafType->IsA(baseType));
  EXPECT_FALSE(baseType->IsA(leafType));

  std::vector<std::string> names;
  for (const Movel::Property* p : leafType->GetAllProperties()) names.push_back(p->GetName());
  ASSERT_GE(names.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(names.end() - 5, names.end()),
            (std::vector<std::string>{"key", "note", "weight", "depth", "folder"}));
  EXPECT_EQ(leafType->FindProperty("weight")->GetOwner(), middleType);
  EXPECT_EQ(leafType->FindProperty("weight")->GetIndex(), 0);

  Ref<Leaf> l = MakeLeaf();
  const Movel::DataTypeInfo* leaf = leafType->GetRecord();
  const Movel::DataTypeInfo* middle = middleType->GetRecord();
  const Movel::DataTypeInfo* base = baseType->GetRecord();
  // Own properties of each level, reached with that level's functions on
  // the derived object.
  EXPECT_EQ(leaf->propPeek(l, 0), &l->depth);
  EXPECT_EQ(leaf->propPeek(l, 1), static_cast<const Movel::Any*>(l->PeekFolder()));
  EXPECT_EQ(leaf->propPeek(l, 2), nullptr);
  EXPECT_TRUE(leaf->propIsSet(l, 2));
  EXPECT_EQ(middle->propPeek(l, 0), &l->weight);
  EXPECT_EQ(middle->propPeek(l, 1), nullptr);
  EXPECT_EQ(base->propPeek(l, 0), &l->key);
  EXPECT_EQ(base->propPeek(l, 1), l->note.Get());
  const std::string key = "set through the base";
  base->propSet(l, 0, &key);
  EXPECT_EQ(l->key, key);
  const int weight = 77;
  middle->propSet(l, 0, &weight);
  EXPECT_EQ(l->weight, 77);
  base->propUnset(l, 1);
  EXPECT_EQ(l->note, nullptr);
  leaf->propUnset(l, 1);
  EXPECT_EQ(l->PeekFolder(), nullptr);
  leaf->propUnset(l, 0);  // required: nothing happens
  EXPECT_EQ(l->depth, 3);
}

TEST(Inheritance, CopyAndSizeCoverTheWholeChain) {
  Ref<Leaf> l = MakeLeaf();
  l->key.assign(100, 'k');
  Ref<Leaf> c = CloneLeaf(*l);
  EXPECT_EQ(c->key, l->key);
  ASSERT_NE(c->note, nullptr);
  EXPECT_NE(c->note.Get(), l->note.Get());
  EXPECT_EQ(*c->note, "first note");
  EXPECT_EQ(c->weight, 10);
  EXPECT_NE(c->PeekFolder(), l->PeekFolder());
  EXPECT_EQ(c->PeekFolder()->GetId(), "group-1");

  EXPECT_EQ(Ref<Leaf>(new Leaf())->_GetSize(&Identity), sizeof(Leaf));
  Ref<Leaf> fresh(new Leaf());
  fresh->key.assign(100, 'k');
  EXPECT_EQ(fresh->_GetSize(&Identity), sizeof(Leaf) + fresh->key.capacity());
  Movel::SetOptionalString(fresh->note, "n");
  EXPECT_EQ(fresh->_GetSize(&Identity),
            sizeof(Leaf) + fresh->key.capacity() + sizeof(std::string));
  Ref<Movel::MoRef> folder = Movel::MakeMoRef(Movel::GetMoType<Smp::Folder>(), "group-1");
  fresh->SetFolder(folder);
  EXPECT_EQ(fresh->_GetSize(&Identity), sizeof(Leaf) + fresh->key.capacity() +
                                            sizeof(std::string) + folder->_GetSize(&Identity));
}

// --- faults -----------------------------------------------------------------

TEST(Faults, CopyEqualityAndDiffIncludeTheRuntimeFaultProperties) {
  Ref<Smp::Extra::DeepFault> f(new Smp::Extra::DeepFault());
  Movel::SetOptionalString(f->reason, "disk full");
  f->code = 28;
  Ref<Smp::Extra::DeepFault> g(static_cast<Smp::Extra::DeepFault*>(f->_Clone()));
  EXPECT_TRUE(f->_IsEqual(g, false));
  EXPECT_EQ(g->code, 28);
  ASSERT_NE(g->reason, nullptr);
  EXPECT_EQ(*g->reason, "disk full");
  g->code = 5;
  Movel::SetOptionalString(g->reason, "quota");
  g->SetFaultCause(new Smp::SampleFault());
  EXPECT_FALSE(f->_IsEqual(g, false));
  EXPECT_EQ(DiffPaths(*f, *g, "f"),
            (std::vector<std::string>{"f.faultCause", "f.reason", "f.code"}));
  // The runtime's fault properties alone make a difference too.
  Ref<Smp::Extra::DeepFault> h(static_cast<Smp::Extra::DeepFault*>(f->_Clone()));
  h->SetFaultCause(new Smp::SampleFault());
  EXPECT_FALSE(f->_IsEqual(h, false));
  EXPECT_EQ(DiffPaths(*f, *h, "f"), std::vector<std::string>{"f.faultCause"});
}

TEST(Faults, AThrownFaultIsCaughtAsItsOwnOrAnyAncestorsException) {
  Ref<Smp::Extra::DeepFault> deep(new Smp::Extra::DeepFault());
  deep->code = 7;
  bool caught = false;
  try {
    deep->Throw();
  } catch (const Smp::SampleFault::Exception& e) {  // the parent fault's, across modules
    caught = true;
    EXPECT_EQ(e.GetFault(), deep.Get());
    EXPECT_NE(dynamic_cast<const Smp::Extra::DeepFault::Exception*>(&e), nullptr);
  }
  EXPECT_TRUE(caught);
  EXPECT_THROW(deep->Throw(), Movel::MethodFault::Exception);
  EXPECT_THROW(deep->Throw(), Basekit::Exception);

  Ref<Smp::BadValue> bad(new Smp::BadValue());
  EXPECT_THROW(bad->Throw(), Movel::Fault::InvalidArgument::Exception);
  EXPECT_THROW(bad->Throw(), Movel::RuntimeFault::Exception);

  // A fault is not caught as a sibling's exception.
  Ref<Smp::StateFault> state(new Smp::StateFault());
  caught = false;
  try {
    try {
      state->Throw();
    } catch (const Smp::SampleFault::Exception&) {
      ADD_FAILURE() << "caught as an unrelated fault";
    }
  } catch (const Movel::RuntimeFault::Exception& e) {
    caught = true;
    EXPECT_EQ(e.GetFault(), state.Get());
  }
  EXPECT_TRUE(caught);

  // The exception rethrows as its most derived class.
  Smp::Extra::DeepFault::Exception ex(deep);
  const Movel::MethodFault::Exception& asBase = ex;
  EXPECT_THROW(asBase.Throw(), Smp::Extra::DeepFault::Exception);
  std::unique_ptr<Basekit::Exception> copy(asBase.Clone());
  EXPECT_THROW(copy->Rethrow(), Smp::Extra::DeepFault::Exception);
  EXPECT_EQ(ex.GetFault()->code, 7);
}

// --- names ------------------------------------------------------------------

TEST(Names, KeywordPropertiesKeepTheirSchemaNamesInDescriptorsAndPaths) {
  const std::vector<std::string> schemaNames = {"class", "delete", "default", "new", "operator",
                                                "int",   "type",   "size",    "state", "states"};
  std::vector<std::string> names;
  for (const Movel::Property& p : Movel::GetDoType<Smp::Machine>()->GetOwnProperties()) {
    names.push_back(p.GetName());
  }
  EXPECT_EQ(names, schemaNames);

  Ref<Smp::Machine> a(new Smp::Machine());
  a->class_ = "c";
  a->SetDelete(MakeBase("d"));
  a->default_ = 1;
  Movel::SetOptionalString(a->new_, "n");
  a->operator_ = Smp::Color::red;
  a->int_ = 2;
  a->SetType(new Movel::Primitive<int>(3));
  a->size = "s";
  a->state = Smp::Machine::State::dash_value;
  a->GetStates()->Append(Smp::Machine::State::private_);
  Ref<Smp::Machine> b(static_cast<Smp::Machine*>(a->_Clone()));
  EXPECT_TRUE(a->_IsEqual(b, false));
  b->class_ = "c2";
  b->SetDelete(nullptr);
  b->default_.Unset();
  Movel::UnsetOptionalString(b->new_);
  b->operator_ = Smp::Color::blue;
  b->int_ = 4;
  b->SetType(new Movel::Primitive<int>(5));
  b->size = "s2";
  b->state = Smp::Machine::State::default_;
  b->GetStates()->Set(0, Smp::Machine::State::_2_5u2);
  std::vector<std::string> expected;
  for (const std::string& n : schemaNames) expected.push_back("m." + n);
  EXPECT_EQ(DiffPaths(*a, *b, "m"), expected);
}

TEST(Enumerations, ValueStringsConstantsAndConversions) {
  EXPECT_STREQ(Smp::COLOR_RED, "red");
  EXPECT_STREQ(Smp::COLOR_BLUE, "blue");
  EXPECT_STREQ(Smp::Machine::STATE_DEFAULT, "default");
  EXPECT_STREQ(Smp::Machine::STATE_2_5U2, "2.5u2");
  EXPECT_STREQ(Smp::Machine::STATE_DASH_VALUE, "dash-value");
  EXPECT_STREQ(Smp::Machine::STATE_PRIVATE, "private");

  Movel::EnumType* state = Movel::GetEnumType<Smp::Machine::State>();
  EXPECT_EQ(state->GetValues(),
            (std::vector<std::string>{"default", "delete", "2.5u2", "dash-value", "private"}));
  EXPECT_EQ(state->ToName(static_cast<int>(Smp::Machine::State::dash_value)), "dash-value");
  EXPECT_EQ(state->FindValue("2.5u2"), static_cast<int>(Smp::Machine::State::_2_5u2));
  EXPECT_EQ(Movel::GetEnumType<Smp::Color>()->GetValues(),
            (std::vector<std::string>{"red", "green", "blue"}));
  EXPECT_EQ(Movel::GetEnumType<Smp::Extra::Level>()->GetWsdlName(), "SampleLevel");
  EXPECT_EQ(Movel::GetEnumType<Smp::Extra::Level>()->GetName(), "smp.extra.Level");

  // Boxes and arrays convert through the type's functions both ways.
  const Movel::EnumFuncs& f = state->GetFuncs();
  for (int i = 0; i < static_cast<int>(state->GetValues().size()); ++i) {
    Ref<Movel::Any> box(f.boxValue(i));
    EXPECT_EQ(box->_GetType(), state);
    EXPECT_EQ(f.unboxValue(box), i);
  }
  Ref<Movel::Array<std::string>> strings(
      new Movel::Array<std::string>{"private", "2.5u2", "default"});
  Ref<Movel::Any> values(f.arrayFromNames(strings, state));
  auto* typed = dynamic_cast<Movel::Array<Smp::Machine::State>*>(values.Get());
  ASSERT_NE(typed, nullptr);
  EXPECT_EQ(typed->GetValues(),
            (std::vector<Smp::Machine::State>{Smp::Machine::State::private_,
                                              Smp::Machine::State::_2_5u2,
                                              Smp::Machine::State::default_}));
  Ref<Movel::Any> back;
  f.namesFromArray(values, back, state);
  EXPECT_TRUE(Movel::AreEqualAnysInt(back, strings, 0, false));
}

// --- descriptors ----------------------------------------------------------------

TEST(Descriptors, PropertyRecordsCarryTheSchemaAttributes) {
  Movel::DataObjectType* flagged = Movel::GetDoType<Smp::Flagged>();
  auto prop = [flagged](const char* name) {
    const Movel::Property* p = flagged->FindProperty(name);
    EXPECT_NE(p, nullptr) << name;
    EXPECT_EQ(p->GetOwner(), flagged) << name;
    return p;
  };
  EXPECT_TRUE(flagged->RedeclaresDynamicProperty());
  EXPECT_FALSE(Movel::GetDoType<Smp::AllKinds>()->RedeclaresDynamicProperty());
  EXPECT_TRUE(prop("dynamicProperty")->IsArray());
  EXPECT_STREQ(prop("dynamicProperty")->GetVersionName(), "tydef.version.version0");
  EXPECT_TRUE(prop("items")->IsLinkable());
  EXPECT_TRUE(prop("items")->IsArray());
  EXPECT_FALSE(prop("items")->IsLink());
  EXPECT_TRUE(prop("current")->IsLink());
  EXPECT_TRUE(prop("current")->IsOptional());
  EXPECT_TRUE(prop("target")->IsLink());
  EXPECT_TRUE(prop("target")->IsReadOnly());
  EXPECT_FALSE(prop("target")->IsOptional());
  EXPECT_TRUE(prop("password")->IsSecret());
  EXPECT_TRUE(prop("password")->IsOptional());
  EXPECT_TRUE(prop("pin")->IsSecret());
  EXPECT_FALSE(prop("pin")->IsOptional());
  EXPECT_TRUE(prop("counter")->IsReadOnly());
  EXPECT_TRUE(prop("counter")->GetFlags() & Movel::kFlagStatistics);
  EXPECT_TRUE(prop("samples")->GetFlags() & Movel::kFlagStatistics);
  EXPECT_TRUE(prop("samples")->IsArray());
  EXPECT_FALSE(prop("label")->GetFlags() & Movel::kFlagStatistics);
  EXPECT_TRUE(prop("label")->IsLocalizable());
  EXPECT_FALSE(prop("owner")->IsLocalizable());
  EXPECT_STREQ(prop("owner")->GetPrivilegeId(), "Sample.Read");
  EXPECT_EQ(prop("label")->GetPrivilegeId(), nullptr);
  EXPECT_TRUE(prop("optLabel")->IsLocalizable());
  EXPECT_STREQ(prop("optLabel")->GetVersionName(), "smp.version.v2");
  EXPECT_STREQ(prop("label")->GetVersionName(), "smp.version.v1");

  // A type marked readonly makes its properties read-only unless they say rw.
  Movel::DataObjectType* info = Movel::GetDoType<Smp::Task::Info>();
  EXPECT_TRUE(info->FindProperty("key")->IsReadOnly());
  EXPECT_TRUE(info->FindProperty("error")->IsReadOnly());
  EXPECT_FALSE(info->FindProperty("progress")->IsReadOnly());
  for (const Movel::Property& p : Movel::GetDoType<Smp::AllKinds>()->GetOwnProperties()) {
    EXPECT_FALSE(p.IsReadOnly()) << p.GetName();
    EXPECT_FALSE(p.IsSecret()) << p.GetName();
  }
}

}  // namespace
}  // namespace sample
