// Boxed primitives, managed object references and the comparison rules of
// the generic entry points.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "basekit/ref.h"
#include "basekit/throwable.h"
#include "movel/builtin.h"
#include "movel/data_types.h"
#include "movel/moref.h"
#include "movel/primitive.h"
#include "movel/type.h"

using Basekit::Ref;
using namespace Movel;

namespace {

unsigned Exact(unsigned n) { return n; }

TEST(ValuesBox, ComparingBoxesOfDifferentClassesThrows) {
  Ref<Primitive<std::string>> text = new Primitive<std::string>("5");
  Ref<Primitive<int>> number = new Primitive<int>(5);
  EXPECT_THROW(text->_IsEqual(number, false), Basekit::TypeMismatchException);
  // The generic entry point checks classes first and just answers.
  EXPECT_FALSE(AreEqualAnysInt(text, number, 0, false));
}

TEST(ValuesBox, CloneSharesTheImmutableBox) {
  Ref<Primitive<std::string>> box = new Primitive<std::string>("shared");
  Ref<Any> clone = box->_Clone();
  EXPECT_EQ(clone.Get(), box.Get());
  EXPECT_EQ(box->GetRefCount(), 2);
}

TEST(ValuesBox, FloatingEqualityFollowsIeee) {
  Ref<Primitive<double>> nan = new Primitive<double>(std::numeric_limits<double>::quiet_NaN());
  EXPECT_FALSE(nan->_IsEqual(nan, false));
  EXPECT_FALSE(AreEqualAnysInt(nan, nan, 0, false));
  Ref<Primitive<double>> a = new Primitive<double>(1.5);
  Ref<Primitive<double>> b = new Primitive<double>(1.5);
  Ref<Primitive<double>> c = new Primitive<double>(2.5);
  EXPECT_TRUE(AreEqualAnysInt(a, b, 0, false));
  EXPECT_FALSE(AreEqualAnysInt(a, c, 0, false));
}

TEST(ValuesBox, BoxesReportTheirPrimitiveType) {
  ASSERT_NE(GetNoType<int>(), nullptr);
  EXPECT_EQ(GetNoType<int>(), FindType("int"));
  EXPECT_EQ(GetNoType<long long>()->GetName(), "long");
  EXPECT_EQ(GetNoType<std::vector<unsigned char>>()->GetName(), "binary");
  EXPECT_EQ(GetNoType<PropertyPath>()->GetName(), "propertyPath");
  Ref<Primitive<signed char>> byte = new Primitive<signed char>(7);
  EXPECT_EQ(byte->_GetType(), FindType("byte"));
  Ref<Array<Basekit::System::DateTime>> times = new Array<Basekit::System::DateTime>;
  ASSERT_NE(times->_GetType(), nullptr);
  EXPECT_EQ(times->_GetType()->GetName(), "dateTime[]");
}

TEST(ValuesBox, SizeCountsHeapTextOfStringBoxes) {
  Ref<Primitive<std::string>> small = new Primitive<std::string>("a");
  Ref<Primitive<std::string>> large = new Primitive<std::string>(std::string(300, 'z'));
  EXPECT_EQ(small->_GetSize(&Exact), sizeof(Primitive<std::string>));
  EXPECT_GE(large->_GetSize(&Exact), sizeof(Primitive<std::string>) + 300);
  Ref<Primitive<int>> number = new Primitive<int>(1);
  EXPECT_EQ(number->_GetSize(&Exact), sizeof(Primitive<int>));
}

TEST(ValuesCompare, NullAndLenientRules) {
  Ref<Primitive<int>> one = new Primitive<int>(1);
  EXPECT_TRUE(AreEqualAnysInt(nullptr, nullptr, 0, false));
  EXPECT_FALSE(AreEqualAnysInt(one, nullptr, 0, false));
  EXPECT_FALSE(AreEqualAnysInt(one, nullptr, 0, true));
  EXPECT_FALSE(AreEqualAnysInt(one, nullptr, kFlagOptional, false));
  // Lenient: an optional value the second side leaves unset agrees...
  EXPECT_TRUE(AreEqualAnysInt(one, nullptr, kFlagOptional, true));
  // ...but not the other way round.
  EXPECT_FALSE(AreEqualAnysInt(nullptr, one, kFlagOptional, true));

  PropertyDiffSet set;
  DiffAnyPropertiesInt(one, nullptr, "left", 0, set);
  DiffAnyPropertiesInt(nullptr, one, "right", 0, set);
  DiffAnyPropertiesInt(nullptr, nullptr, "neither", 0, set);
  ASSERT_EQ(set.size(), 2u);
  EXPECT_EQ(set.GetChanged()[0].str(), "left");
  EXPECT_EQ(set.GetChanged()[1].str(), "right");
}

TEST(ValuesMoRef, EqualityByTypeAndId) {
  ManagedObjectType* collector = GetQueryPropertyCollectorType();
  ManagedObjectType* root = GetManagedObjectRootType();
  ASSERT_NE(collector, nullptr);
  ASSERT_NE(root, nullptr);
  Ref<MoRef> a = MakeMoRef(collector, "pc-1");
  Ref<MoRef> same = new MoRef(collector, "pc-1", "guid-9");
  Ref<MoRef> otherId = MakeMoRef(collector, "pc-2");
  Ref<MoRef> otherType = MakeMoRef(root, "pc-1");

  EXPECT_EQ(a->GetRefCount(), 1);
  EXPECT_TRUE(AreEqualAnysInt(a, same, 0, false));
  EXPECT_FALSE(AreEqualAnysInt(a, otherId, 0, false));
  EXPECT_FALSE(AreEqualAnysInt(a, otherType, 0, false));
  EXPECT_EQ(a->ToString(), "tydef.query.PropertyCollector:pc-1");
  EXPECT_EQ(a->_GetType(), FindType("tydef.ManagedObject"));
  ASSERT_NE(same->GetServerGuid(), nullptr);
  EXPECT_EQ(*same->GetServerGuid(), "guid-9");

  Ref<Any> clone = same->_Clone();
  EXPECT_NE(clone.Get(), same.Get());
  EXPECT_TRUE(AreEqualAnysInt(clone, same, 0, false));

  PropertyDiffSet set;
  DiffAnyPropertiesInt(a, otherId, "obj", 0, set);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set.GetChanged()[0].str(), "obj");
}

}  // namespace
