// smp.AllKinds holds one property of every kind, required and optional. Each
// test walks every property (see probes.h) through one rule: deep copy,
// equality, diff paths, the lenient rule, the property functions by index,
// type checks on set, and size accounting.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "probes.h"

namespace sample {
namespace {

using Basekit::Ref;

const std::vector<std::unique_ptr<Probe>>& Probes() { return AllKindsProbes(); }

std::vector<std::string> One(const std::string& path) { return {path}; }

unsigned Identity(unsigned n) { return n; }
// Charges whole 16-byte granules.
unsigned Granule(unsigned n) { return (n + 15u) & ~15u; }
// Charges a fixed overhead on every allocation, so that R(0) is not zero and
// a term counted for an empty slot shows up.
unsigned Overhead(unsigned n) { return n + 8u; }

const Movel::RoundFn kRoundings[] = {&Identity, &Granule, &Overhead};

TEST(AllKindsProbes, CoverEveryPropertyInDescriptorOrder) {
  const std::vector<Movel::Property>& props = Movel::GetDoType<Smp::AllKinds>()->GetOwnProperties();
  ASSERT_EQ(props.size(), Probes().size());
  for (size_t i = 0; i < props.size(); ++i) {
    const Probe& p = *Probes()[i];
    SCOPED_TRACE(p.Name());
    EXPECT_EQ(p.Index(), static_cast<int>(i));
    EXPECT_EQ(props[i].GetName(), p.Name());
    EXPECT_EQ(props[i].GetIndex(), p.Index());
    EXPECT_EQ(props[i].IsOptional(), p.IsOptional());
    EXPECT_EQ(props[i].IsArray(), p.GetKind() == Kind::kArray);
  }
}

// --- copy ---------------------------------------------------------------------

TEST(Copy, CloneOfAFullObjectHoldsEqualValuesAndSharesNoObject) {
  for (int v = 0; v < 2; ++v) {
    Ref<Smp::AllKinds> o = Filled(v);
    Ref<Smp::AllKinds> c = CloneOf(*o);
    ASSERT_NE(c.Get(), o.Get());
    EXPECT_EQ(c->_GetType(), Movel::GetDoType<Smp::AllKinds>());
    for (const auto& p : Probes()) {
      SCOPED_TRACE(p->Name());
      EXPECT_TRUE(p->Holds(*c, v));
      if (p->IsObjectOrArray()) {
        const auto& op = static_cast<const ObjectProbe&>(*p);
        if (op.CopiedDeeply()) {
          EXPECT_NE(op.Held(*c), op.Held(*o));
        }
      } else if (p->GetKind() == Kind::kOptionalString) {
        EXPECT_NE(p->Address(*c), p->Address(*o));  // its own string
      }
    }
    EXPECT_TRUE(Movel::AreEqualAnysInt(o, c, 0, false));
    EXPECT_TRUE(o->_IsEqual(c, false));
    EXPECT_TRUE(c->_IsEqual(o, false));
    EXPECT_EQ(DiffPaths(*o, *c, "x"), std::vector<std::string>{});
    EXPECT_EQ(DiffPaths(*c, *o, "x"), std::vector<std::string>{});

    // The copy is independent: changing the objects the source holds in
    // place, then every property of the source, leaves the copy as it was.
    o->GetDataList()->Get(0)->key = "changed";
    const_cast<Smp::Base*>(o->PeekReqData())->key = "changed";
    Movel::SetOptionalString(const_cast<Smp::SampleFault*>(o->PeekOptFault())->reason, "changed");
    const_cast<Movel::LocalizableMessage*>(o->PeekMessage())->SetKey("changed");
    o->GetStringList()->Set(0, "changed");
    o->GetOptDataList()->Get(0)->key = "changed";
    EXPECT_EQ(c->PeekDataList()->Get(0)->key, "first");
    for (const auto& p : Probes()) p->Assign(*o, 1 - v);
    for (const auto& p : Probes()) {
      SCOPED_TRACE(p->Name());
      EXPECT_TRUE(p->Holds(*c, v));
    }
    // The copy holds its own references: it outlives the source.
    o = nullptr;
    for (const auto& p : Probes()) EXPECT_TRUE(p->Holds(*c, v)) << p->Name();
  }
}

TEST(Copy, CloneOfAnEmptyObjectKeepsEveryOptionalAndObjectEmpty) {
  Ref<Smp::AllKinds> o(new Smp::AllKinds());
  Ref<Smp::AllKinds> c = CloneOf(*o);
  for (const auto& p : Probes()) {
    if (p->GetKind() == Kind::kValue || p->GetKind() == Kind::kString) continue;
    EXPECT_TRUE(p->IsClear(*c)) << p->Name();
  }
  // An unset optional number keeps value zero in the copy.
  EXPECT_FALSE(c->optInt.IsSet());
  EXPECT_EQ(c->optInt.GetValue(), 0);
  // An optional that was set once and unset again stays unset in the copy.
  o->optLong = 5;
  o->optLong.Unset();
  EXPECT_FALSE(CloneOf(*o)->optLong.IsSet());
}

// --- difference ---------------------------------------------------------------

TEST(Difference, EachChangedPropertyIsReportedAtItsOwnPathOnly) {
  Ref<Smp::AllKinds> a = Filled(0);
  for (const auto& p : Probes()) {
    SCOPED_TRACE(p->Name());
    Ref<Smp::AllKinds> b = CloneOf(*a);
    p->Assign(*b, 1);
    const std::string path = "x." + p->Name() + p->ChangedSuffix();
    EXPECT_EQ(DiffPaths(*a, *b, "x"), One(path));
    EXPECT_EQ(DiffPaths(*b, *a, "x"), One(path));
    // A differing value is a difference whatever the leniency: both sides
    // say something, and they disagree.
    EXPECT_FALSE(a->_IsEqual(b, false));
    EXPECT_FALSE(b->_IsEqual(a, false));
    EXPECT_FALSE(a->_IsEqual(b, true));
    EXPECT_FALSE(b->_IsEqual(a, true));
    EXPECT_FALSE(Movel::AreEqualAnysInt(a, b, 0, false));
  }
}

TEST(Difference, ThePrefixIsUsedAsGivenAndEveryChangeIsListedInDeclarationOrder) {
  Ref<Smp::AllKinds> a = Filled(0);
  Ref<Smp::AllKinds> b = Filled(1);
  std::vector<std::string> expected;
  for (const auto& p : Probes()) expected.push_back("all.of.it." + p->Name() + p->ChangedSuffix());
  EXPECT_EQ(DiffPaths(*a, *b, "all.of.it"), expected);
}

TEST(Difference, APropertyEmptyOnOneSideIsReportedAtItsPath) {
  Ref<Smp::AllKinds> a = Filled(0);
  for (const auto& p : Probes()) {
    if (!p->IsOptional() && !p->IsObjectOrArray()) continue;
    SCOPED_TRACE(p->Name());
    Ref<Smp::AllKinds> b = CloneOf(*a);
    p->Clear(*b);
    ASSERT_TRUE(p->IsClear(*b));
    EXPECT_EQ(DiffPaths(*a, *b, "x"), One("x." + p->Name()));
    EXPECT_EQ(DiffPaths(*b, *a, "x"), One("x." + p->Name()));
    // Empty on both sides is no difference.
    Ref<Smp::AllKinds> c = CloneOf(*b);
    EXPECT_EQ(DiffPaths(*b, *c, "x"), std::vector<std::string>{});
    EXPECT_TRUE(b->_IsEqual(c, false));
  }
}

TEST(Difference, ANullArrayAndAnEmptyArrayDiffer) {
  for (const auto& p : Probes()) {
    if (p->GetKind() != Kind::kArray) continue;
    SCOPED_TRACE(p->Name());
    Ref<Smp::AllKinds> absent(new Smp::AllKinds());
    Ref<Smp::AllKinds> empty(new Smp::AllKinds());
    Ref<Movel::Any> made;
    AllKindsRecord()->propGet(empty, p->Index(), &made);  // creates the array
    ASSERT_NE(made.Get(), nullptr);
    EXPECT_EQ(static_cast<Movel::Collection*>(made.Get())->GetLength(), 0);
    // Peek and IsSet see no elements...
    EXPECT_TRUE(p->IsClear(*empty));
    EXPECT_FALSE(AllKindsRecord()->propIsSet(empty, p->Index()));
    // ...but comparison and diff tell the empty array from no array.
    EXPECT_FALSE(absent->_IsEqual(empty, false));
    EXPECT_FALSE(empty->_IsEqual(absent, false));
    EXPECT_EQ(DiffPaths(*absent, *empty, "x"), One("x." + p->Name()));
    EXPECT_EQ(DiffPaths(*empty, *absent, "x"), One("x." + p->Name()));
    // Leniently, an absent optional array on the other side agrees.
    EXPECT_EQ(empty->_IsEqual(absent, true), p->IsOptional());
    EXPECT_FALSE(absent->_IsEqual(empty, true));
    // A copy keeps the empty array: it still differs from no array.
    EXPECT_FALSE(CloneOf(*empty)->_IsEqual(absent, false));
  }
}

// --- equality -----------------------------------------------------------------

TEST(Equality, LenientAcceptsAnUnsetOptionalOnTheOtherSideOnly) {
  Ref<Smp::AllKinds> set = Filled(0);
  for (const auto& p : Probes()) {
    if (!p->IsOptional() && !p->IsObjectOrArray()) continue;
    SCOPED_TRACE(p->Name());
    Ref<Smp::AllKinds> unset = CloneOf(*set);
    p->Clear(*unset);
    EXPECT_FALSE(set->_IsEqual(unset, false));
    EXPECT_FALSE(unset->_IsEqual(set, false));
    // "The other side does not say" agrees for optional properties only; a
    // required object or array that is null is a difference even leniently.
    EXPECT_EQ(set->_IsEqual(unset, true), p->IsOptional());
    EXPECT_EQ(Movel::AreEqualAnysInt(set, unset, 0, true), p->IsOptional());
    EXPECT_FALSE(unset->_IsEqual(set, true));
  }
}

TEST(Equality, LeniencyReachesNestedObjectsAndArrayElements) {
  Ref<Smp::AllKinds> a(new Smp::AllKinds());
  Ref<Smp::Base> noted = MakeBase("k");
  Movel::SetOptionalString(noted->note, "remark");
  a->SetOptData(noted);
  a->GetDataList()->Append(MakeBase("k"));
  Movel::SetOptionalString(a->GetDataList()->Get(0)->note, "remark");
  Ref<Smp::AllKinds> b = CloneOf(*a);
  Movel::UnsetOptionalString(const_cast<Smp::Base*>(b->PeekOptData())->note);
  Movel::UnsetOptionalString(b->GetDataList()->Get(0)->note);
  EXPECT_TRUE(a->_IsEqual(b, true));
  EXPECT_FALSE(b->_IsEqual(a, true));
  EXPECT_FALSE(a->_IsEqual(b, false));
  EXPECT_EQ(DiffPaths(*a, *b, "x"),
            (std::vector<std::string>{"x.optData.note", "x.dataList[0].note"}));
}

TEST(Equality, NanNeverEqualsItselfAndOneInstantEqualsItselfAtAnyOffset) {
  Ref<Smp::AllKinds> a = Filled(0);
  a->reqDouble = std::numeric_limits<double>::quiet_NaN();
  a->optFloat = std::numeric_limits<float>::quiet_NaN();
  Ref<Smp::AllKinds> b = CloneOf(*a);
  EXPECT_TRUE(std::isnan(b->reqDouble));
  EXPECT_FALSE(a->_IsEqual(b, false));
  EXPECT_FALSE(a->_IsEqual(b, true));
  EXPECT_EQ(DiffPaths(*a, *b, "x"), (std::vector<std::string>{"x.optFloat", "x.reqDouble"}));

  Ref<Smp::AllKinds> c = Filled(0);
  Ref<Smp::AllKinds> d = CloneOf(*c);
  c->reqTime = Basekit::System::DateTime::FromCivil(2026, 12, 5, 19, 0, 0, 0, 60);
  d->reqTime = Basekit::System::DateTime::FromCivil(2026, 12, 5, 18, 0, 0, 0, 0);
  c->optTime = Basekit::System::DateTime::FromCivil(2026, 12, 5, 12, 30, 0, 0, -330);
  d->optTime = Basekit::System::DateTime::FromCivil(2026, 12, 5, 18, 0, 0, 0, 0);
  EXPECT_TRUE(c->_IsEqual(d, false));
  EXPECT_EQ(DiffPaths(*c, *d, "x"), std::vector<std::string>{});
  d->reqTime = Basekit::System::DateTime::FromCivil(2026, 12, 5, 19, 0, 0, 0, 0);
  EXPECT_FALSE(c->_IsEqual(d, false));
  EXPECT_EQ(DiffPaths(*c, *d, "x"), One("x.reqTime"));
}

// --- property functions by index -----------------------------------------------

TEST(PropertyFunctions, AFreshObjectAnswersIsSetAndPeekByKind) {
  const Movel::DataTypeInfo* rec = AllKindsRecord();
  Ref<Smp::AllKinds> o(new Smp::AllKinds());
  for (const auto& p : Probes()) {
    SCOPED_TRACE(p->Name());
    const bool required = p->GetKind() == Kind::kValue || p->GetKind() == Kind::kString;
    EXPECT_EQ(rec->propIsSet(o, p->Index()), required);
    if (required) {
      // The member itself.
      EXPECT_EQ(rec->propPeek(o, p->Index()), p->Address(*o));
      EXPECT_NE(rec->propPeek(o, p->Index()), nullptr);
    } else {
      EXPECT_EQ(rec->propPeek(o, p->Index()), nullptr);
    }
  }
}

TEST(PropertyFunctions, SetGetAndPeekReachExactlyTheirOwnProperty) {
  const Movel::DataTypeInfo* rec = AllKindsRecord();
  for (const auto& p : Probes()) {
    SCOPED_TRACE(p->Name());
    Ref<Smp::AllKinds> o = Filled(0);
    Ref<Smp::AllKinds> before = CloneOf(*o);
    p->SlotSet(*o, 1);
    EXPECT_TRUE(p->Holds(*o, 1));
    // Nothing else changed.
    EXPECT_EQ(DiffPaths(*before, *o, "x"), One("x." + p->Name() + p->ChangedSuffix()));
    EXPECT_TRUE(rec->propIsSet(o, p->Index()));
    EXPECT_EQ(rec->propPeek(o, p->Index()), p->Address(*o));
    EXPECT_NE(rec->propPeek(o, p->Index()), nullptr);
    EXPECT_TRUE(p->SlotGetGives(*o, 1));
    // Reading changed nothing.
    EXPECT_EQ(DiffPaths(*before, *o, "x"), One("x." + p->Name() + p->ChangedSuffix()));

    // Set also works on an empty property, and makes an optional set.
    Ref<Smp::AllKinds> fresh(new Smp::AllKinds());
    p->SlotSet(*fresh, 0);
    EXPECT_TRUE(p->Holds(*fresh, 0));
    EXPECT_TRUE(rec->propIsSet(fresh, p->Index()));
  }
}

TEST(PropertyFunctions, SwapExchangesTheValueWithTheSlot) {
  for (const auto& p : Probes()) {
    SCOPED_TRACE(p->Name());
    Ref<Smp::AllKinds> o = Filled(0);
    Ref<Smp::AllKinds> before = CloneOf(*o);
    EXPECT_TRUE(p->SlotSwapExchanges(*o));
    EXPECT_EQ(DiffPaths(*before, *o, "x"), One("x." + p->Name() + p->ChangedSuffix()));
  }
}

TEST(PropertyFunctions, SwapOfAnUnsetOptionalMovesTheUnsetStateBothWays) {
  const Movel::DataTypeInfo* rec = AllKindsRecord();
  Ref<Smp::AllKinds> o = Filled(0);
  // Optional values travel as the member's own type, unset included.
  Basekit::Optional<int> unset;
  rec->propSwap(o, 9, &unset);
  EXPECT_FALSE(o->optInt.IsSet());
  ASSERT_TRUE(unset.IsSet());
  EXPECT_EQ(unset.GetValue(), 70000);
  Movel::OptionalString none;
  rec->propSwap(o, 1, &none);
  EXPECT_EQ(o->optString, nullptr);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(*none, "alpha");
  // An empty object slot empties the property and receives the old object.
  Ref<Movel::Any> slot;
  const Movel::Any* held = o->PeekOptData();
  rec->propSwap(o, 31, &slot);
  EXPECT_EQ(o->PeekOptData(), nullptr);
  EXPECT_EQ(slot.Get(), held);
}

TEST(PropertyFunctions, UnsetClearsOptionalPropertiesAndLeavesRequiredOnesAlone) {
  const Movel::DataTypeInfo* rec = AllKindsRecord();
  for (const auto& p : Probes()) {
    SCOPED_TRACE(p->Name());
    Ref<Smp::AllKinds> o = Filled(0);
    Ref<Smp::AllKinds> before = CloneOf(*o);
    rec->propUnset(o, p->Index());
    if (p->IsOptional()) {
      EXPECT_TRUE(p->IsClear(*o));
      EXPECT_FALSE(rec->propIsSet(o, p->Index()));
      EXPECT_EQ(rec->propPeek(o, p->Index()), nullptr);
      EXPECT_EQ(DiffPaths(*before, *o, "x"), One("x." + p->Name()));
    } else {
      // Required objects and arrays too: being required is a statement of
      // the schema, and unset has nothing to do for it.
      EXPECT_TRUE(p->Holds(*o, 0));
      EXPECT_TRUE(rec->propIsSet(o, p->Index()));
      EXPECT_EQ(DiffPaths(*before, *o, "x"), std::vector<std::string>{});
    }
  }
}

TEST(PropertyFunctions, IndexesOutsideTheOwnPropertiesDoNothing) {
  const Movel::DataTypeInfo* rec = AllKindsRecord();
  Ref<Smp::AllKinds> o = Filled(0);
  Ref<Smp::AllKinds> before = CloneOf(*o);
  const int outside[] = {static_cast<int>(Probes().size()), static_cast<int>(Probes().size()) + 1,
                         1000, -1};
  for (int index : outside) {
    SCOPED_TRACE(index);
    // A slot no property has: any write to it would show.
    alignas(16) unsigned char slot[128];
    for (unsigned char& byte : slot) byte = 0xA5;
    rec->propSet(o, index, slot);
    rec->propGet(o, index, slot);
    rec->propSwap(o, index, slot);
    rec->propUnset(o, index);
    for (unsigned char byte : slot) ASSERT_EQ(byte, 0xA5);
    EXPECT_EQ(rec->propPeek(o, index), nullptr);
    EXPECT_TRUE(rec->propIsSet(o, index));
    EXPECT_EQ(DiffPaths(*before, *o, "x"), std::vector<std::string>{});
  }
  // A type without own properties: every index is outside.
  const Movel::DataTypeInfo* none = Movel::GetDoType<Smp::Empty>()->GetRecord();
  Ref<Smp::Empty> e(new Smp::Empty());
  EXPECT_EQ(none->propPeek(e, 0), nullptr);
  EXPECT_TRUE(none->propIsSet(e, 0));
}

TEST(PropertyFunctions, SetOfAnObjectOfTheWrongClassThrowsAndKeepsTheOldValue) {
  const Movel::DataTypeInfo* rec = AllKindsRecord();
  int checked = 0;
  for (const auto& p : Probes()) {
    if (!p->IsObjectOrArray()) continue;
    const auto& op = static_cast<const ObjectProbe&>(*p);
    Ref<Movel::Any> wrong = op.Wrong();
    if (!wrong) continue;
    SCOPED_TRACE(p->Name());
    ++checked;
    Ref<Smp::AllKinds> o = Filled(0);
    const Movel::Any* held = op.Held(*o);
    Movel::Any* in = wrong.Get();
    const int countBefore = wrong->GetRefCount();
    EXPECT_THROW(rec->propSet(o, p->Index(), &in), Basekit::TypeMismatchException);
    EXPECT_EQ(op.Held(*o), held);
    EXPECT_TRUE(p->Holds(*o, 0));
    EXPECT_EQ(wrong->GetRefCount(), countBefore);  // no reference kept
    // An empty property stays empty.
    Ref<Smp::AllKinds> fresh(new Smp::AllKinds());
    EXPECT_THROW(rec->propSet(fresh, p->Index(), &in), Basekit::TypeMismatchException);
    EXPECT_TRUE(p->IsClear(*fresh));
  }
  EXPECT_EQ(checked, 14);  // every object and array property except the two any values
}

TEST(PropertyFunctions, SetAcceptsDerivedClassesAnyValueForAnyAndNullToClear) {
  const Movel::DataTypeInfo* rec = AllKindsRecord();
  Ref<Smp::AllKinds> o = Filled(0);
  Ref<Smp::Middle> middle(new Smp::Middle());
  Movel::Any* in = middle.Get();
  rec->propSet(o, 31, &in);  // optData: Base
  EXPECT_EQ(o->PeekOptData(), middle.Get());
  Ref<Smp::Extra::DeepFault> deep(new Smp::Extra::DeepFault());
  in = deep.Get();
  rec->propSet(o, 32, &in);  // reqFault: SampleFault
  EXPECT_EQ(o->PeekReqFault(), deep.Get());
  // Any values are taken as they come.
  Ref<Movel::MoRef> ref = Movel::MakeMoRef(Movel::GetMoType<Smp::Folder>(), "group-1");
  in = ref.Get();
  rec->propSet(o, 36, &in);
  EXPECT_EQ(o->PeekReqAny(), ref.Get());
  Ref<Movel::Array<int>> numbers(new Movel::Array<int>{1, 2});
  in = numbers.Get();
  rec->propSet(o, 37, &in);
  EXPECT_EQ(o->PeekOptAny(), numbers.Get());
  // Null clears, required or optional.
  for (const auto& p : Probes()) {
    if (!p->IsObjectOrArray()) continue;
    in = nullptr;
    rec->propSet(o, p->Index(), &in);
    EXPECT_TRUE(p->IsClear(*o)) << p->Name();
    EXPECT_FALSE(rec->propIsSet(o, p->Index())) << p->Name();
  }
}

TEST(PropertyFunctions, ObjectsAreStoredAndHandedOutByReferenceNotCopied) {
  const Movel::DataTypeInfo* rec = AllKindsRecord();
  for (const auto& p : Probes()) {
    if (!p->IsObjectOrArray()) continue;
    SCOPED_TRACE(p->Name());
    const auto& op = static_cast<const ObjectProbe&>(*p);
    Ref<Smp::AllKinds> o(new Smp::AllKinds());
    Ref<Movel::Any> value = op.Make(1);
    Movel::Any* in = value.Get();
    rec->propSet(o, p->Index(), &in);
    EXPECT_EQ(op.Held(*o), value.Get());
    EXPECT_EQ(value->GetRefCount(), 2);  // ours and the object's
    rec->propSet(o, p->Index(), &in);    // the object already held
    EXPECT_EQ(value->GetRefCount(), 2);
    {
      Ref<Movel::Any> out;
      rec->propGet(o, p->Index(), &out);
      EXPECT_EQ(out.Get(), value.Get());
      EXPECT_EQ(value->GetRefCount(), 3);
    }
    o = nullptr;  // the object releases what it holds
    EXPECT_EQ(value->GetRefCount(), 1);
  }
}

TEST(PropertyFunctions, GetOfAnAbsentArrayCreatesItOnce) {
  const Movel::DataTypeInfo* rec = AllKindsRecord();
  for (const auto& p : Probes()) {
    if (p->GetKind() != Kind::kArray) continue;
    SCOPED_TRACE(p->Name());
    Ref<Smp::AllKinds> o(new Smp::AllKinds());
    Ref<Movel::Any> first, second;
    rec->propGet(o, p->Index(), &first);
    rec->propGet(o, p->Index(), &second);
    ASSERT_NE(first.Get(), nullptr);
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(first->GetRefCount(), 3);  // the object's and our two
    // Of the array type of the property's element type.
    // Of the array type of the property's element type (references of any
    // managed type are of the runtime's one reference type).
    const Movel::Property& prop = Movel::GetDoType<Smp::AllKinds>()->GetOwnProperties()[p->Index()];
    const Movel::Type* element = prop.GetType()->IsManaged() ? Movel::GetManagedObjectRootType()
                                                            : prop.GetType();
    EXPECT_EQ(first->_GetType(), element->GetArrayType());
  }
  // The typed accessor agrees with the property function.
  Ref<Smp::AllKinds> o(new Smp::AllKinds());
  Movel::DataArray<Smp::Base>* list = o->GetDataList();
  EXPECT_EQ(o->GetDataList(), list);
  EXPECT_EQ(o->PeekDataList(), nullptr);
  Ref<Movel::Any> out;
  rec->propGet(o, 39, &out);
  EXPECT_EQ(out.Get(), list);
}

TEST(Accessors, SetKeepsCountsRightAndSwapMovesOwnership) {
  Ref<Smp::AllKinds> o(new Smp::AllKinds());
  Ref<Smp::Base> b = MakeBase("b");
  o->SetReqData(b);
  EXPECT_EQ(b->GetRefCount(), 2);
  o->SetReqData(b);
  EXPECT_EQ(b->GetRefCount(), 2);
  Ref<Smp::Base> other = MakeBase("other");
  o->SwapReqData(&other);
  EXPECT_EQ(other.Get(), b.Get());
  EXPECT_EQ(o->PeekReqData()->key, "other");
  EXPECT_EQ(b->GetRefCount(), 2);  // moved into `other`, no count change
  Ref<Movel::Array<int>> ints(new Movel::Array<int>{4});
  Ref<Movel::Array<int>> keep = ints;
  o->SwapIntList(&ints);
  EXPECT_EQ(ints.Get(), nullptr);
  EXPECT_EQ(o->PeekIntList(), keep.Get());
  EXPECT_EQ(keep->GetRefCount(), 2);
}

// --- size -------------------------------------------------------------------------

TEST(Size, AnObjectIsChargedOnceAtItsFullSize) {
  EXPECT_EQ(Ref<Smp::Empty>(new Smp::Empty())->_GetSize(&Identity), sizeof(Smp::Empty));
  EXPECT_EQ(Ref<Smp::Base>(new Smp::Base())->_GetSize(&Identity), sizeof(Smp::Base));
  EXPECT_EQ(Ref<Smp::Middle>(new Smp::Middle())->_GetSize(&Identity), sizeof(Smp::Middle));
  EXPECT_EQ(Ref<Smp::AllKinds>(new Smp::AllKinds())->_GetSize(&Identity), sizeof(Smp::AllKinds));
  // With a charge per allocation: the object once, and R(0) for the empty
  // required string.
  EXPECT_EQ(Ref<Smp::AllKinds>(new Smp::AllKinds())->_GetSize(&Overhead),
            Overhead(sizeof(Smp::AllKinds)) + Overhead(0));
}

TEST(Size, StringsAreChargedByTheirHeapBlock) {
  for (Movel::RoundFn r : kRoundings) {
    Ref<Smp::AllKinds> o(new Smp::AllKinds());
    const unsigned empty = o->_GetSize(r);
    o->reqString = "short";  // fits the string's own buffer
    EXPECT_EQ(o->_GetSize(r), empty);
    o->reqString.assign(100, 'x');
    EXPECT_EQ(o->_GetSize(r), empty - r(0) + r(static_cast<unsigned>(o->reqString.capacity())));

    o = new Smp::AllKinds();
    Movel::SetOptionalString(o->optString, "short");
    EXPECT_EQ(o->_GetSize(r), empty + r(sizeof(std::string)) + r(0));
    Movel::SetOptionalString(o->optString, std::string(200, 'y'));
    EXPECT_EQ(o->_GetSize(r),
              empty + r(sizeof(std::string)) + r(static_cast<unsigned>(o->optString->capacity())));
    Movel::UnsetOptionalString(o->optString);
    EXPECT_EQ(o->_GetSize(r), empty);
  }
}

TEST(Size, BinaryBytesAreNotCounted) {
  for (Movel::RoundFn r : kRoundings) {
    Ref<Smp::AllKinds> o(new Smp::AllKinds());
    const unsigned empty = o->_GetSize(r);
    o->reqBinary.assign(4096, 0xAB);
    o->optBinary = std::vector<unsigned char>(4096, 0xCD);
    EXPECT_EQ(o->_GetSize(r), empty);
  }
}

TEST(Size, NumbersEnumsTimesAndStringKindsAreChargedNothingBeyondTheObject) {
  for (Movel::RoundFn r : kRoundings) {
    Ref<Smp::AllKinds> o(new Smp::AllKinds());
    const unsigned empty = o->_GetSize(r);
    for (const auto& p : Probes()) {
      if (p->GetKind() == Kind::kValue || p->GetKind() == Kind::kOptionalValue) p->Assign(*o, 1);
    }
    EXPECT_EQ(o->_GetSize(r), empty);
    const std::string longText(300, 'n');
    o->reqTypeName = longText;
    o->optTypeName = Movel::TypeName(longText);
    o->reqMethodName = longText;
    o->optMethodName = Movel::MethodName(longText);
    o->reqPath = longText;
    o->optPath = Movel::PropertyPath(longText);
    o->reqUri = longText;
    o->optUri = Movel::Uri(longText);
    EXPECT_EQ(o->_GetSize(r), empty);
  }
}

TEST(Size, HeldObjectsAndArraysAddTheirOwnSize) {
  for (Movel::RoundFn r : kRoundings) {
    for (const auto& p : Probes()) {
      if (!p->IsObjectOrArray()) continue;
      SCOPED_TRACE(p->Name());
      const auto& op = static_cast<const ObjectProbe&>(*p);
      Ref<Smp::AllKinds> o(new Smp::AllKinds());
      const unsigned empty = o->_GetSize(r);
      p->Assign(*o, 1);
      EXPECT_EQ(o->_GetSize(r), empty + op.Held(*o)->_GetSize(r));
      p->Clear(*o);
      EXPECT_EQ(o->_GetSize(r), empty);
    }
  }
}

TEST(Size, ACopyHasTheSizeOfItsSource) {
  for (Movel::RoundFn r : kRoundings) {
    for (int v = 0; v < 2; ++v) {
      Ref<Smp::AllKinds> o = Filled(v);
      o->reqString.assign(64, 's');  // a heap block, exactly fitted, as a copy makes it
      o->reqString.shrink_to_fit();
      EXPECT_EQ(CloneOf(*o)->_GetSize(r), o->_GetSize(r));
    }
  }
}

}  // namespace
}  // namespace sample
