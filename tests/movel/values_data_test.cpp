// Data objects: deep copies, equality, leaf-level diffs and the property
// functions registered for them.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "basekit/ref.h"
#include "basekit/throwable.h"
#include "movel/array.h"
#include "movel/data_types.h"
#include "movel/fault.h"
#include "movel/primitive.h"

using Basekit::Ref;
using namespace Movel;

namespace {

// A fault with a cause and two messages, one with an argument.
Ref<MethodFault> MakeTree() {
  Ref<MethodFault> fault = new MethodFault;
  Ref<Fault::InvalidArgument> cause = new Fault::InvalidArgument;
  cause->SetInvalidProperty(PropertyPath("spec.name"));
  fault->SetFaultCause(cause);
  LocalizableMessage* first = new LocalizableMessage("msg.first");
  first->GetOrCreateArg()->Append(new KeyAnyValue("count", new Primitive<int>(1)));
  fault->GetOrCreateFaultMessage()->Append(first);
  fault->GetOrCreateFaultMessage()->Append(new LocalizableMessage("msg.second"));
  return fault;
}

TEST(ValuesData, CloneSharesNothingMutableAndEqualsSource) {
  Ref<MethodFault> a = MakeTree();
  Ref<Any> copyAny = a->_Clone();
  auto* b = dynamic_cast<MethodFault*>(copyAny.Get());
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(AreEqualAnysInt(a, b, 0, false));
  EXPECT_NE(b->GetFaultCause(), a->GetFaultCause());
  EXPECT_NE(b->GetFaultMessage(), a->GetFaultMessage());
  EXPECT_NE(b->GetFaultMessage()->Get(0), a->GetFaultMessage()->Get(0));
  EXPECT_NE(b->GetFaultMessage()->Get(0)->GetArg(), a->GetFaultMessage()->Get(0)->GetArg());
  const MethodFault* copiedCause = b->GetFaultCause();
  EXPECT_EQ(typeid(*copiedCause), typeid(Fault::InvalidArgument));

  b->GetFaultMessage()->Get(0)->GetArg()->Get(0)->SetKey("other");
  EXPECT_EQ(a->GetFaultMessage()->Get(0)->GetArg()->Get(0)->GetKey(), "count");
  EXPECT_FALSE(AreEqualAnysInt(a, b, 0, false));
}

TEST(ValuesData, DiffReportsLeafPathsInMemberOrder) {
  Ref<MethodFault> a = MakeTree();
  Ref<Any> copyAny = a->_Clone();
  auto* b = static_cast<MethodFault*>(copyAny.Get());
  b->GetFaultMessage()->Get(1)->SetMessage(std::string("rendered"));
  b->GetFaultMessage()->Get(0)->GetArg()->Get(0)->SetValue(new Primitive<int>(2));
  static_cast<Fault::InvalidArgument*>(b->GetFaultCause())
      ->SetInvalidProperty(PropertyPath("spec.other"));
  b->SetDynamicType(std::string("kor.fault.Special"));

  PropertyDiffSet set;
  DiffAnyPropertiesInt(a, b, "", 0, set);
  std::vector<std::string> paths;
  for (const PropertyPath& p : set.GetChanged()) paths.push_back(p.str());
  // A path is always prefix + "." + name. The sender's dynamicType is not
  // part of the value, so changing it is no difference.
  EXPECT_EQ(paths, (std::vector<std::string>{".faultCause.invalidProperty",
                                             ".faultMessage[0].arg[0].value",
                                             ".faultMessage[1].message"}));

  PropertyDiffSet nested;
  DiffAnyPropertiesInt(a->GetFaultCause(), b->GetFaultCause(), "fault.faultCause", 0, nested);
  ASSERT_EQ(nested.size(), 1u);
  EXPECT_EQ(nested.GetChanged()[0].str(), "fault.faultCause.invalidProperty");
}

TEST(ValuesData, DiffTreatsOneSidedObjectsAndClassChangesAsOneChange) {
  Ref<MethodFault> a = MakeTree();
  Ref<Any> copyAny = a->_Clone();
  auto* b = static_cast<MethodFault*>(copyAny.Get());
  b->SetFaultCause(nullptr);
  PropertyDiffSet set;
  DiffAnyPropertiesInt(a, b, "f", 0, set);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set.GetChanged()[0].str(), "f.faultCause");

  b->SetFaultCause(new Fault::InvalidType);
  PropertyDiffSet changedClass;
  DiffAnyPropertiesInt(a, b, "f", 0, changedClass);
  ASSERT_EQ(changedClass.size(), 1u);
  EXPECT_EQ(changedClass.GetChanged()[0].str(), "f.faultCause");
}

TEST(ValuesData, LenientEqualityIgnoresOptionalsUnsetOnTheRightOnly) {
  Ref<LocalizableMessage> full = new LocalizableMessage("k");
  full->SetMessage(std::string("text"));
  full->GetOrCreateArg()->Append(new KeyAnyValue("a", nullptr));
  Ref<LocalizableMessage> bare = new LocalizableMessage("k");

  EXPECT_FALSE(AreEqualAnysInt(full, bare, 0, false));
  EXPECT_TRUE(AreEqualAnysInt(full, bare, 0, true));
  EXPECT_FALSE(AreEqualAnysInt(bare, full, 0, true));
  // Required values still count.
  bare->SetKey("other");
  EXPECT_FALSE(AreEqualAnysInt(full, bare, 0, true));
  // An empty array is a value: it differs from none, except where a lenient
  // comparison lets the right side leave it unset.
  Ref<LocalizableMessage> withEmpty = new LocalizableMessage("k");
  withEmpty->GetOrCreateArg();
  Ref<LocalizableMessage> without = new LocalizableMessage("k");
  EXPECT_FALSE(AreEqualAnysInt(withEmpty, without, 0, false));
  EXPECT_FALSE(AreEqualAnysInt(without, withEmpty, 0, true));
  EXPECT_TRUE(AreEqualAnysInt(withEmpty, without, 0, true));
}

TEST(ValuesData, PropertyFunctionsFollowSlotConventions) {
  const DataObjectType* type = GetDoType<LocalizableMessage>();
  ASSERT_NE(type, nullptr);
  const DataTypeInfo& r = *type->GetRecord();
  Ref<LocalizableMessage> msg = new LocalizableMessage("key.one");

  // Required string: always set, unset is a no-op, get/swap by value.
  EXPECT_TRUE(r.propIsSet(msg, 0));
  r.propUnset(msg, 0);
  EXPECT_EQ(msg->GetKey(), "key.one");
  std::string key;
  r.propGet(msg, 0, &key);
  EXPECT_EQ(key, "key.one");
  std::string swapped = "key.two";
  r.propSwap(msg, 0, &swapped);
  EXPECT_EQ(msg->GetKey(), "key.two");
  EXPECT_EQ(swapped, "key.one");

  // Optional string.
  EXPECT_FALSE(r.propIsSet(msg, 2));
  EXPECT_EQ(r.propPeek(msg, 2), nullptr);
  std::string text = "hello";
  r.propSet(msg, 2, &text);
  ASSERT_NE(msg->GetMessage(), nullptr);
  EXPECT_EQ(*static_cast<const std::string*>(r.propPeek(msg, 2)), "hello");
  r.propUnset(msg, 2);
  EXPECT_EQ(msg->GetMessage(), nullptr);

  // Array: get creates, set narrows, swap exchanges without count changes.
  EXPECT_EQ(r.propPeek(msg, 1), nullptr);
  Ref<Any> arg;
  r.propGet(msg, 1, &arg);
  ASSERT_NE(arg.Get(), nullptr);
  EXPECT_EQ(arg.Get(), msg->GetArg());
  EXPECT_FALSE(r.propIsSet(msg, 1));  // present but empty

  Ref<Any> wrong = new Array<std::string>{"x"};
  Any* wrongRaw = wrong.Get();
  EXPECT_THROW(r.propSet(msg, 1, &wrongRaw), Basekit::TypeMismatchException);
  EXPECT_EQ(msg->GetArg(), arg.Get());

  Ref<DataArray<KeyAnyValue>> replacement = new DataArray<KeyAnyValue>;
  replacement->Append(new KeyAnyValue("n", nullptr));
  Ref<Any> inout = replacement.Get();
  r.propSwap(msg, 1, &inout);
  EXPECT_EQ(msg->GetArg(), replacement.Get());
  EXPECT_EQ(inout.Get(), arg.Get());
  EXPECT_EQ(replacement->GetRefCount(), 2);
  EXPECT_TRUE(r.propIsSet(msg, 1));
  EXPECT_EQ(r.propPeek(msg, 1), static_cast<const Any*>(replacement.Get()));

  // Out of range.
  EXPECT_EQ(r.propPeek(msg, 7), nullptr);
  EXPECT_TRUE(r.propIsSet(msg, 7));
  r.propUnset(msg, 7);
}

TEST(ValuesData, ObjectSlotsNarrowAndKeepOldValueOnMismatch) {
  const DataTypeInfo& r = *GetDoType<MethodFault>()->GetRecord();
  Ref<MethodFault> fault = new MethodFault;
  Ref<MethodFault> cause = new Fault::NotSupported;
  Any* in = cause.Get();
  r.propSet(fault, 0, &in);
  EXPECT_EQ(fault->GetFaultCause(), cause.Get());

  Ref<Any> notAFault = new KeyAnyValue("k", nullptr);
  Any* bad = notAFault.Get();
  EXPECT_THROW(r.propSet(fault, 0, &bad), Basekit::TypeMismatchException);
  EXPECT_EQ(fault->GetFaultCause(), cause.Get());
  Ref<Any> badRef = notAFault;
  EXPECT_THROW(r.propSwap(fault, 0, &badRef), Basekit::TypeMismatchException);
  EXPECT_EQ(fault->GetFaultCause(), cause.Get());
  EXPECT_EQ(badRef.Get(), notAFault.Get());

  // The root's properties are reached through the root's record.
  const DataTypeInfo& root = *GetDoType<DynamicData>()->GetRecord();
  std::string dynamicType = "kor.fault.Custom";
  root.propSet(fault, 0, &dynamicType);
  ASSERT_NE(fault->GetDynamicType(), nullptr);
  EXPECT_EQ(*fault->GetDynamicType(), "kor.fault.Custom");

  Any* none = nullptr;
  r.propSet(fault, 0, &none);
  EXPECT_EQ(fault->GetFaultCause(), nullptr);
  EXPECT_EQ(cause->GetRefCount(), 1);
}

TEST(ValuesData, CreatorsMakeInstancesOfTheRegisteredClass) {
  DataObjectType* type = GetDoType<Fault::SystemError>();
  ASSERT_NE(type, nullptr);
  Ref<DataObject> made = type->CreateInstance();
  ASSERT_NE(made.Get(), nullptr);
  EXPECT_NE(dynamic_cast<Fault::SystemError*>(made.Get()), nullptr);
  Ref<Any> array = type->CreateArrayInstance();
  EXPECT_NE(dynamic_cast<DataArray<Fault::SystemError>*>(array.Get()), nullptr);
  EXPECT_EQ(array->_GetType(), type->GetArrayType());
}

TEST(ValuesData, ConcurrentGetOrCreateInstallsOneArray) {
  for (int round = 0; round < 50; ++round) {
    Ref<LocalizableMessage> msg = new LocalizableMessage("k");
    std::vector<DataArray<KeyAnyValue>*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < seen.size(); ++t) {
      threads.emplace_back([&msg, &seen, t] { seen[t] = msg->GetOrCreateArg(); });
    }
    for (std::thread& t : threads) t.join();
    for (DataArray<KeyAnyValue>* a : seen) EXPECT_EQ(a, msg->GetArg());
    EXPECT_EQ(msg->GetArg()->GetRefCount(), 1);
  }
}

unsigned Rounded16(unsigned n) { return (n + 15u) & ~15u; }

TEST(ValuesData, SizeCountsTheObjectAndWhatItsMembersOwn) {
  Ref<KeyAnyValue> kv = new KeyAnyValue(std::string(100, 'k'), nullptr);
  unsigned bare = kv->_GetSize(&Rounded16);
  EXPECT_EQ(bare, Rounded16(sizeof(KeyAnyValue)) + GetExtraSize(&Rounded16, kv->GetKey()));

  Ref<Primitive<std::string>> box = new Primitive<std::string>(std::string(64, 'v'));
  kv->SetValue(box);
  kv->SetDynamicType(std::string(40, 't'));
  unsigned dynamicType =
      Rounded16(sizeof(std::string)) + GetExtraSize(&Rounded16, *kv->GetDynamicType());
  EXPECT_EQ(kv->_GetSize(&Rounded16), bare + box->_GetSize(&Rounded16) + dynamicType);
}

}  // namespace
