// The runtime's own types, as registered when the library loads.
#include <gtest/gtest.h>

#include <string>

#include "basekit/ref.h"
#include "movel/builtin.h"
#include "movel/data_types.h"
#include "movel/enum.h"
#include "movel/errors.h"
#include "movel/fault.h"
#include "movel/primitive.h"
#include "movel/type.h"

using Basekit::Ref;
using namespace Movel;
using Movel::Query::PropertyCollectorChangeOp;

namespace {

TEST(ValuesBuiltin, RuntimeTypesAreRegisteredWithTheirKindsAndParents) {
  struct Expected {
    const char* name;
    Word kind;
    const TypeInfo* info;
  };
  const Expected expected[] = {
      {"string", kTypeKindPrimitive, &gStringTypeInfo},
      {"anyType", kTypeKindPrimitive, &gAnyTypeInfo},
      {"tydef.DynamicData", kTypeKindData, &gTydefDynamicDataTypeInfo},
      {"tydef.KeyAnyValue", kTypeKindData, &gTydefKeyAnyValueTypeInfo},
      {"tydef.LocalizableMessage", kTypeKindData, &gTydefLocalizableMessageTypeInfo},
      {"tydef.ManagedObject", kTypeKindManaged, &gTydefManagedObjectTypeInfo},
      {"tydef.query.PropertyCollector", kTypeKindManaged, &gTydefQueryPropertyCollectorTypeInfo},
      {"tydef.query.PropertyCollector.ChangeOp", kTypeKindEnum,
       &gTydefQueryPropertyCollectorChangeOpTypeInfo},
      {"tydef.reflect.ManagedMethodExecuter", kTypeKindManaged,
       &gTydefReflectManagedMethodExecuterTypeInfo},
      {"tydef.fault.ManagedObjectNotFound", kTypeKindFault,
       &gTydefFaultManagedObjectNotFoundTypeInfo},
  };
  for (const Expected& e : expected) {
    Type* type = FindType(e.name);
    ASSERT_NE(type, nullptr) << e.name;
    EXPECT_EQ(type->GetKind(), e.kind) << e.name;
    EXPECT_EQ(GetType(e.info), type) << e.name;
  }
  EXPECT_EQ(FindTypeByWsdlName("PropertyChangeOp"),
            FindType("tydef.query.PropertyCollector.ChangeOp"));
  EXPECT_EQ(GetAllTypes().front()->GetName(), "string");

  auto* invalidArgument = dynamic_cast<StructuredType*>(FindType("tydef.fault.InvalidArgument"));
  ASSERT_NE(invalidArgument, nullptr);
  EXPECT_TRUE(invalidArgument->IsA(FindType("tydef.RuntimeFault")));
  EXPECT_TRUE(invalidArgument->IsA(FindType("tydef.DynamicData")));
  auto* licenses = dynamic_cast<StructuredType*>(FindType("tydef.fault.NotEnoughLicenses"));
  ASSERT_NE(licenses, nullptr);
  EXPECT_FALSE(licenses->IsA(FindType("tydef.RuntimeFault")));
  ASSERT_NE(invalidArgument->FindProperty("faultMessage"), nullptr);
  EXPECT_TRUE(invalidArgument->FindProperty("faultMessage")->IsArray());

  Ref<KeyAnyValue> kv = new KeyAnyValue;
  EXPECT_EQ(kv->_GetType(), FindType("tydef.KeyAnyValue"));
  EXPECT_EQ(kv->ToString(), "tydef.KeyAnyValue");
}

TEST(ValuesBuiltin, ChangeOpRoundTripsThroughItsEnumFuncs) {
  EnumType* type = GetEnumType<PropertyCollectorChangeOp>();
  ASSERT_NE(type, nullptr);
  const EnumFuncs& f = type->GetFuncs();

  Ref<Any> box = f.boxValue(3);
  EXPECT_EQ(box->_GetType(), type);
  EXPECT_EQ(f.unboxValue(box), 3);
  Ref<Any> notAnEnum = new Primitive<int>(3);
  EXPECT_THROW(f.unboxValue(notAnEnum), Basekit::TypeMismatchException);

  Ref<Array<std::string>> names = new Array<std::string>{"indirectRemove", "add", "assign"};
  Ref<Any> values = f.arrayFromNames(names, type);
  auto* typed = dynamic_cast<Array<PropertyCollectorChangeOp>*>(values.Get());
  ASSERT_NE(typed, nullptr);
  EXPECT_EQ(typed->Get(0), PropertyCollectorChangeOp::indirectRemove);
  EXPECT_EQ(typed->Get(1), PropertyCollectorChangeOp::add);

  Ref<Any> back;
  f.namesFromArray(values, back, type);
  EXPECT_TRUE(AreEqualAnysInt(back, names, 0, false));

  // An array made outside the runtime library narrows there as well.
  Ref<Array<PropertyCollectorChangeOp>> local = new Array<PropertyCollectorChangeOp>{
      PropertyCollectorChangeOp::remove, PropertyCollectorChangeOp::add};
  Ref<Any> localNames;
  f.namesFromArray(local, localNames, type);
  auto* strings = dynamic_cast<Array<std::string>*>(localNames.Get());
  ASSERT_NE(strings, nullptr);
  EXPECT_EQ(strings->GetValues(), (std::vector<std::string>{"remove", "add"}));

  Ref<Array<std::string>> bad = new Array<std::string>{"add", "delete"};
  EXPECT_THROW(f.arrayFromNames(bad, type), InvalidEnumValue);
  Ref<Any> created = f.createEnumArray();
  EXPECT_EQ(created->_GetType(), type->GetArrayType());
}

TEST(ValuesBuiltin, DebugStringWalksRegisteredProperties) {
  Ref<LocalizableMessage> msg = new LocalizableMessage("msg.key");
  msg->GetOrCreateArg()->Append(new KeyAnyValue("count", new Primitive<int>(5)));
  msg->GetArg()->Append(
      new KeyAnyValue("op", new Primitive<PropertyCollectorChangeOp>(
                                PropertyCollectorChangeOp::assign)));
  std::string text = DebugString(msg);
  EXPECT_NE(text.find("(tydef.LocalizableMessage) {"), std::string::npos) << text;
  EXPECT_NE(text.find("   key = \"msg.key\""), std::string::npos) << text;
  EXPECT_NE(text.find("message = unset"), std::string::npos) << text;
  EXPECT_NE(text.find("value = (int) 5"), std::string::npos) << text;
  EXPECT_NE(text.find("value = (tydef.query.PropertyCollector.ChangeOp) assign"),
            std::string::npos)
      << text;
  // Nested objects are indented one level deeper than their parent.
  EXPECT_NE(text.find("\n         key = \"count\""), std::string::npos) << text;
}

}  // namespace
