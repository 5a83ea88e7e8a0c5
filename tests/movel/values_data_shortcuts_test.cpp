// Diffs that compare held values before building their paths, and sizes
// whose common roundings are asked of the rounding function once per
// computation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basekit/ref.h"
#include "movel/array.h"
#include "movel/data_types.h"
#include "movel/fault.h"
#include "movel/primitive.h"

using Basekit::Ref;
using namespace Movel;

namespace {

// ---- diff of values held as any value ----

std::vector<std::string> Paths(const Any* a, const Any* b, const std::string& prefix) {
  PropertyDiffSet set;
  DiffAnyPropertiesInt(a, b, prefix, 0, set);
  std::vector<std::string> paths;
  for (const PropertyPath& p : set.GetChanged()) paths.push_back(p.str());
  return paths;
}

// A message whose arguments hold a box, a value array, an array of any
// values with a data object in it, and a fault.
Ref<LocalizableMessage> MakeHeld(const std::string& text, int number, int element,
                                 const std::string& nestedKey) {
  Ref<LocalizableMessage> m = new LocalizableMessage("held");
  DataArray<KeyAnyValue>* args = m->GetOrCreateArg();
  args->Append(new KeyAnyValue("text", new Primitive<std::string>(text)));
  args->Append(new KeyAnyValue("numbers", new Array<int>({1, number, 3})));
  auto* anys = new DataArray<Any>();
  anys->Append(new Primitive<int>(element));
  anys->Append(new KeyAnyValue(nestedKey, nullptr));
  args->Append(new KeyAnyValue("anys", anys));
  auto* fault = new MethodFault();
  fault->GetOrCreateFaultMessage()->Append(new LocalizableMessage(nestedKey));
  args->Append(new KeyAnyValue("fault", fault));
  return m;
}

TEST(ValuesDataDiff, HeldValuesReportNothingWhenEqualAndTheirOwnPathsWhenNot) {
  Ref<LocalizableMessage> a = MakeHeld("same", 2, 5, "inner");
  EXPECT_TRUE(Paths(a, MakeHeld("same", 2, 5, "inner"), "m").empty());

  EXPECT_EQ(Paths(a, MakeHeld("other", 2, 5, "inner"), "m"),
            std::vector<std::string>{"m.arg[0].value"});
  // Value arrays are reported whole.
  EXPECT_EQ(Paths(a, MakeHeld("same", 9, 5, "inner"), "m"),
            std::vector<std::string>{"m.arg[1].value"});
  // Arrays of any values are reported by element, and data objects in them
  // by leaf.
  EXPECT_EQ(Paths(a, MakeHeld("same", 2, 6, "inner"), "m"),
            std::vector<std::string>{"m.arg[2].value[0]"});
  EXPECT_EQ(Paths(a, MakeHeld("same", 2, 5, "outer"), "m"),
            (std::vector<std::string>{"m.arg[2].value[1].key",
                                      "m.arg[3].value.faultMessage[0].key"}));
  EXPECT_EQ(Paths(a, MakeHeld("x", 8, 7, "y"), ""),
            (std::vector<std::string>{".arg[0].value", ".arg[1].value", ".arg[2].value[0]",
                                      ".arg[2].value[1].key", ".arg[3].value.faultMessage[0].key"}));
}

TEST(ValuesDataDiff, HeldValuesOfAnotherClassOrLengthAreOneChange) {
  Ref<LocalizableMessage> a = MakeHeld("same", 2, 5, "inner");
  Ref<LocalizableMessage> b = MakeHeld("same", 2, 5, "inner");
  b->GetArg()->Get(0)->SetValue(new Primitive<int>(1));  // a box of another class
  static_cast<DataArray<Any>*>(b->GetArg()->Get(2)->GetValue())->Append(nullptr);
  b->GetArg()->Get(1)->SetValue(new Array<int>({1, 2}));
  EXPECT_EQ(Paths(a, b, "m"),
            (std::vector<std::string>{"m.arg[0].value", "m.arg[1].value", "m.arg[2].value"}));
  // A null array and an empty one differ.
  Ref<LocalizableMessage> none = new LocalizableMessage("k");
  Ref<LocalizableMessage> empty = new LocalizableMessage("k");
  empty->GetOrCreateArg();
  EXPECT_EQ(Paths(none, empty, "m"), std::vector<std::string>{"m.arg"});
  EXPECT_FALSE(AreEqualAnysInt(none, empty, 0, false));
}

// ---- sizes with more than one rounding ----

unsigned Plus8(unsigned n) { return n + 8; }
unsigned Granule64(unsigned n) { return (n + 63u) & ~63u; }
unsigned Header24(unsigned n) { return n + 24; }

// The size of an argument array and of a message, summed from the parts.
unsigned ExpectedArgs(const DataArray<KeyAnyValue>* args, RoundFn r) {
  unsigned total = r(sizeof(DataArrayBase)) +
                   r(static_cast<unsigned>(args->GetItems().capacity() * sizeof(Any*)));
  for (const KeyAnyValue* kv : *args) {
    total += r(sizeof(KeyAnyValue)) + GetExtraSize(r, kv->GetKey());
    if (kv->GetValue()) total += kv->GetValue()->_GetSize(r);
  }
  return total;
}

unsigned ExpectedSize(const LocalizableMessage* m, RoundFn r) {
  unsigned total = r(sizeof(LocalizableMessage)) + GetExtraSize(r, m->GetKey());
  if (m->GetMessage()) total += r(sizeof(std::string)) + GetExtraSize(r, *m->GetMessage());
  if (m->GetArg()) total += ExpectedArgs(m->GetArg(), r);
  return total;
}

TEST(ValuesDataSize, EachComputationUsesItsOwnRounding) {
  Ref<LocalizableMessage> m = new LocalizableMessage(std::string(90, 'k'));
  m->SetMessage(std::string("short"));
  m->GetOrCreateArg()->Append(new KeyAnyValue("a", new Primitive<int>(1)));
  m->GetOrCreateArg()->Append(new KeyAnyValue(std::string(33, 'b'), nullptr));
  const KeyAnyValue* first = m->GetArg()->Get(0);
  // Consecutive roundings differ in what an empty text costs.
  const std::vector<RoundFn> roundings = {&Plus8, &Granule64, &Header24, &Plus8, &Header24, &Granule64};
  for (std::size_t i = 0; i < roundings.size(); ++i) {
    const RoundFn r = roundings[i];
    const RoundFn next = roundings[(i + 1) % roundings.size()];
    EXPECT_EQ(m->_GetSize(r), ExpectedSize(m, r));
    // Right after, with another rounding: the array, and an object in it,
    // asked on their own.
    EXPECT_EQ(m->GetArg()->_GetSize(next), ExpectedArgs(m->GetArg(), next));
    EXPECT_EQ(first->_GetSize(r), r(sizeof(KeyAnyValue)) + r(0) + first->GetValue()->_GetSize(r));
  }
}

// A size walks nested data objects with their own classes' layouts: a
// subclass held in a member declared as its base, dynamic members on a nested
// object, and arrays with empty slots each count as that value's own class
// counts itself.
TEST(ValuesDataSize, NestedValuesCountAsTheirOwnClassesDo) {
  Ref<MethodFault> root = new MethodFault();
  Ref<Fault::InvalidArgument> cause = new Fault::InvalidArgument();
  cause->SetInvalidProperty(PropertyPath("spec.name"));
  Ref<MethodFault> inner = new Fault::NotSupported();
  const std::string dynamicType(30, 't');
  inner->SetDynamicType(dynamicType);
  inner->GetOrCreateDynamicProperty()->Append(
      new DynamicProperty("extra", new Primitive<std::string>(std::string(50, 'v'))));
  cause->SetFaultCause(inner.Get());
  root->SetFaultCause(cause.Get());
  DataArray<LocalizableMessage>* messages = root->GetOrCreateFaultMessage();
  messages->Append(new LocalizableMessage(std::string(70, 'm')));
  messages->Append(nullptr);
  messages->Append(new LocalizableMessage("k"));

  for (RoundFn r : {&Plus8, &Granule64, &Header24}) {
    SCOPED_TRACE(r(0));
    const unsigned innerOwn = r(sizeof(Fault::NotSupported)) + r(sizeof(std::string)) +
                              GetExtraSize(r, dynamicType) +
                              inner->GetDynamicProperty()->_GetSize(r);
    EXPECT_EQ(inner->_GetSize(r), innerOwn);
    EXPECT_EQ(cause->_GetSize(r), r(sizeof(Fault::InvalidArgument)) + innerOwn);
    unsigned items = r(sizeof(DataArrayBase)) +
                     r(static_cast<unsigned>(messages->GetItems().capacity() * sizeof(Any*)));
    for (const Any* m : messages->GetItems()) {
      if (m) items += ExpectedSize(static_cast<const LocalizableMessage*>(m), r);
    }
    EXPECT_EQ(messages->_GetSize(r), items);
    EXPECT_EQ(root->_GetSize(r), r(sizeof(MethodFault)) + cause->_GetSize(r) + items);
  }
}

// ---- equality of nested data objects ----

// A fault whose cause is a subclass held in a member declared as the base,
// with messages, one of which may be missing.
Ref<MethodFault> MakeFault(bool causeIsSubclass, const std::string& deepKey, bool withCause,
                           bool nullMessage) {
  Ref<MethodFault> root = new MethodFault();
  if (withCause) {
    Ref<MethodFault> cause = causeIsSubclass ? new Fault::InvalidArgument() : new MethodFault();
    Ref<MethodFault> inner = new Fault::NotSupported();
    inner->GetOrCreateFaultMessage()->Append(new LocalizableMessage(deepKey));
    cause->SetFaultCause(inner.Get());
    root->SetFaultCause(cause.Get());
  }
  DataArray<LocalizableMessage>* messages = root->GetOrCreateFaultMessage();
  messages->Append(new LocalizableMessage("first"));
  messages->Append(nullMessage ? nullptr : new LocalizableMessage("second"));
  return root;
}

TEST(ValuesDataEquality, NestedObjectsCompareAsTheirOwnClasses) {
  const Ref<MethodFault> a = MakeFault(true, "deep", true, false);
  EXPECT_TRUE(a->_IsEqual(MakeFault(true, "deep", true, false).Get(), false));
  // A change three levels down, inside an array element.
  EXPECT_FALSE(a->_IsEqual(MakeFault(true, "deeper", true, false).Get(), false));
  // The cause of the base class where the other holds the subclass: another
  // class, though every member it has is equal.
  EXPECT_FALSE(a->_IsEqual(MakeFault(false, "deep", true, false).Get(), false));
  EXPECT_FALSE(MakeFault(false, "deep", true, false)->_IsEqual(a.Get(), false));
  // An element missing on one side only.
  EXPECT_FALSE(a->_IsEqual(MakeFault(true, "deep", true, true).Get(), false));
  EXPECT_FALSE(MakeFault(true, "deep", true, true)->_IsEqual(a.Get(), false));
  EXPECT_TRUE(MakeFault(true, "deep", true, true)->_IsEqual(MakeFault(true, "deep", true, true).Get(), false));
  // The optional cause left unset by the second side agrees only when lenient,
  // and only that way round.
  const Ref<MethodFault> noCause = MakeFault(true, "deep", false, false);
  EXPECT_FALSE(a->_IsEqual(noCause.Get(), false));
  EXPECT_TRUE(a->_IsEqual(noCause.Get(), true));
  EXPECT_FALSE(noCause->_IsEqual(a.Get(), true));
  // Leniency reaches nested levels: the inner fault's messages unset on the
  // second side.
  const Ref<MethodFault> bare = MakeFault(true, "deep", true, false);
  bare->GetFaultCause()->GetFaultCause()->SetFaultMessage(nullptr);
  EXPECT_FALSE(a->_IsEqual(bare.Get(), false));
  EXPECT_TRUE(a->_IsEqual(bare.Get(), true));
  // An empty array is not an absent one.
  const Ref<MethodFault> empty = MakeFault(true, "deep", true, false);
  empty->GetFaultCause()->GetFaultCause()->SetFaultMessage(new DataArray<LocalizableMessage>());
  EXPECT_FALSE(empty->_IsEqual(bare.Get(), false));
  EXPECT_FALSE(bare->_IsEqual(empty.Get(), false));
  EXPECT_FALSE(bare->_IsEqual(empty.Get(), true));
  EXPECT_TRUE(empty->_IsEqual(bare.Get(), true));
}

}  // namespace
