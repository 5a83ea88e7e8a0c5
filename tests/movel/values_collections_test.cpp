// Arrays: copies, equality, diffs and memory accounting.
#include <gtest/gtest.h>

#include <string>

#include "basekit/ref.h"
#include "basekit/throwable.h"
#include "movel/array.h"
#include "movel/data_types.h"
#include "movel/diff.h"
#include "movel/primitive.h"

using Basekit::Ref;
using namespace Movel;

namespace {

// An allocator that charges 8 bytes of overhead per allocation, so R(0) != 0.
unsigned WithHeader(unsigned n) { return n + 8; }

TEST(ValuesArray, StringArrayEqualityIsOrderSensitiveAndDiffNamesArrayOnce) {
  Ref<Array<std::string>> a = new Array<std::string>{"x", "y"};
  Ref<Array<std::string>> same = new Array<std::string>{"x", "y"};
  Ref<Array<std::string>> swapped = new Array<std::string>{"y", "x"};
  EXPECT_TRUE(AreEqualAnysInt(a, same, 0, false));
  EXPECT_FALSE(AreEqualAnysInt(a, swapped, 0, false));

  PropertyDiffSet none;
  DiffAnyPropertiesInt(a, same, "names", 0, none);
  EXPECT_TRUE(none.empty());

  PropertyDiffSet set;
  DiffAnyPropertiesInt(a, swapped, "names", 0, set);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set.GetChanged()[0], PropertyPath("names"));
}

TEST(ValuesArray, ArraysOfDifferentElementClassesAreUnequal) {
  Ref<Array<int>> ints = new Array<int>{1, 2};
  Ref<Array<long long>> longs = new Array<long long>{1, 2};
  EXPECT_FALSE(AreEqualAnysInt(ints, longs, 0, false));
  EXPECT_FALSE(ints->_IsEqual(longs, false));
  PropertyDiffSet set;
  DiffAnyPropertiesInt(ints, longs, "v", 0, set);
  EXPECT_EQ(set.size(), 1u);
}

TEST(ValuesArray, DataArrayCloneIsDeepAndEqual) {
  Ref<DataArray<KeyAnyValue>> original = new DataArray<KeyAnyValue>;
  original->Append(new KeyAnyValue("a", new Primitive<int>(1)));
  original->Append(nullptr);
  original->Append(new KeyAnyValue("b", nullptr));

  Ref<Any> copyAny = original->_Clone();
  auto* copy = dynamic_cast<DataArray<KeyAnyValue>*>(copyAny.Get());
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->GetLength(), 3);
  EXPECT_NE(copy->Get(0), original->Get(0));
  EXPECT_EQ(copy->Get(1), nullptr);
  EXPECT_TRUE(AreEqualAnysInt(original, copy, 0, false));

  copy->Get(2)->SetKey("changed");
  EXPECT_EQ(original->Get(2)->GetKey(), "b");
  EXPECT_FALSE(AreEqualAnysInt(original, copy, 0, false));

  int seen = 0;
  for (KeyAnyValue* kv : *copy) seen += kv ? 1 : 0;
  EXPECT_EQ(seen, 2);
}

TEST(ValuesArray, WrongElementClassThrowsAndLeavesArrayUnchanged) {
  Ref<DataArray<KeyAnyValue>> array = new DataArray<KeyAnyValue>;
  array->Append(new KeyAnyValue("kept", nullptr));
  Ref<Any> box = new Primitive<int>(3);
  Ref<Any> message = new LocalizableMessage("m");

  EXPECT_THROW(array->AppendAny(box), Basekit::TypeMismatchException);
  DataArrayBase* base = array.Get();
  EXPECT_THROW(base->Append(message), Basekit::TypeMismatchException);
  EXPECT_THROW(base->SetAt(0, message), Basekit::TypeMismatchException);
  ASSERT_EQ(array->GetLength(), 1);
  EXPECT_EQ(array->Get(0)->GetKey(), "kept");
  EXPECT_EQ(box->GetRefCount(), 1);

  array->AppendAny(nullptr);
  EXPECT_EQ(array->GetLength(), 2);
}

TEST(ValuesArray, DataArrayHoldsOneReferencePerElement) {
  Ref<KeyAnyValue> kv = new KeyAnyValue("k", nullptr);
  {
    Ref<DataArray<KeyAnyValue>> array = new DataArray<KeyAnyValue>{kv.Get(), kv.Get()};
    EXPECT_EQ(kv->GetRefCount(), 3);
    array->Erase(0);
    EXPECT_EQ(kv->GetRefCount(), 2);
  }
  EXPECT_EQ(kv->GetRefCount(), 1);
}

TEST(ValuesArray, ObjectArrayDiffNamesElementsByIndexOrWholeOnLengthChange) {
  Ref<DataArray<KeyAnyValue>> a = new DataArray<KeyAnyValue>;
  a->Append(new KeyAnyValue("a", nullptr));
  a->Append(new KeyAnyValue("b", nullptr));
  Ref<Any> bAny = a->_Clone();
  auto* b = static_cast<DataArray<KeyAnyValue>*>(bAny.Get());
  b->Get(1)->SetKey("B");

  PropertyDiffSet set;
  DiffAnyPropertiesInt(a, b, "arg", 0, set);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set.GetChanged()[0].str(), "arg[1].key");

  b->Append(nullptr);
  PropertyDiffSet longer;
  DiffAnyPropertiesInt(a, b, "arg", 0, longer);
  ASSERT_EQ(longer.size(), 1u);
  EXPECT_EQ(longer.GetChanged()[0].str(), "arg");
}

TEST(ValuesSize, EmptyArraysAndGrowingStrings) {
  Ref<Array<int>> empty = new Array<int>;
  EXPECT_EQ(empty->_GetSize(&WithHeader), sizeof(Array<int>) + WithHeader(0));

  Ref<Array<int>> three = new Array<int>{1, 2, 3};
  EXPECT_EQ(three->_GetSize(&WithHeader),
            sizeof(Array<int>) + WithHeader(static_cast<unsigned>(3 * sizeof(int))));

  std::string small = "ab";
  std::string large(200, 'x');
  EXPECT_EQ(GetExtraSize(&WithHeader, small), WithHeader(0));
  EXPECT_EQ(GetExtraSize(&WithHeader, large),
            WithHeader(static_cast<unsigned>(large.capacity())));
  EXPECT_GE(GetExtraSize(&WithHeader, large), WithHeader(200));

  Ref<Array<std::string>> texts = new Array<std::string>{small, large};
  unsigned expected = sizeof(Array<std::string>) +
                      WithHeader(static_cast<unsigned>(texts->GetValues().capacity() *
                                                       sizeof(std::string))) +
                      GetExtraSize(&WithHeader, texts->Get(0)) +
                      GetExtraSize(&WithHeader, texts->Get(1));
  EXPECT_EQ(texts->_GetSize(&WithHeader), expected);
}

TEST(ValuesSize, DataArrayCountsItselfSlotsAndElements) {
  Ref<DataArray<KeyAnyValue>> array = new DataArray<KeyAnyValue>;
  EXPECT_EQ(array->_GetSize(&WithHeader), WithHeader(sizeof(DataArrayBase)) + WithHeader(0));
  Ref<KeyAnyValue> kv = new KeyAnyValue("k", nullptr);
  array->Append(kv);
  unsigned slots = WithHeader(static_cast<unsigned>(array->GetItems().capacity() * sizeof(Any*)));
  EXPECT_EQ(array->_GetSize(&WithHeader),
            WithHeader(sizeof(DataArrayBase)) + slots + kv->_GetSize(&WithHeader));
}

}  // namespace
