// The runtime's own type records, their registration at library load, and the
// typed accessors of the registered type objects.
#include <atomic>
#include <string>
#include <vector>

#include "internal.h"
#include "movel/array.h"
#include "movel/builtin.h"
#include "movel/data_object.h"
#include "movel/data_types.h"
#include "movel/enum.h"
#include "movel/fault.h"
#include "movel/moref.h"
#include "movel/primitive.h"
#include "movel/type.h"

using Movel::kTypeKindData;
using Movel::kTypeKindEnum;
using Movel::kTypeKindFault;
using Movel::kTypeKindManaged;
using Movel::kTypeKindPrimitive;

namespace {
constexpr const char kVersion0[] = "tydef.version.version0";
constexpr const char kVersion1[] = "tydef.version.version1";
constexpr const char kQueryVersion1[] = "tydef.query.version.version1";
constexpr const char kReflectVersion1[] = "tydef.reflect.version.version1";
}  // namespace

// ---- records ----

extern "C++" {
const Movel::TypeInfo gStringTypeInfo = {kTypeKindPrimitive, "string", "string", kVersion0};
const Movel::TypeInfo gBoolTypeInfo = {kTypeKindPrimitive, "boolean", "boolean", kVersion0};
const Movel::TypeInfo gByteTypeInfo = {kTypeKindPrimitive, "byte", "byte", kVersion0};
const Movel::TypeInfo gShortTypeInfo = {kTypeKindPrimitive, "short", "short", kVersion0};
const Movel::TypeInfo gIntTypeInfo = {kTypeKindPrimitive, "int", "int", kVersion0};
const Movel::TypeInfo gLongTypeInfo = {kTypeKindPrimitive, "long", "long", kVersion0};
const Movel::TypeInfo gFloatTypeInfo = {kTypeKindPrimitive, "float", "float", kVersion0};
const Movel::TypeInfo gDoubleTypeInfo = {kTypeKindPrimitive, "double", "double", kVersion0};
const Movel::TypeInfo gDateTimeTypeInfo = {kTypeKindPrimitive, "dateTime", "dateTime", kVersion0};
const Movel::TypeInfo gBinaryTypeInfo = {kTypeKindPrimitive, "binary", "binary", kVersion0};
const Movel::TypeInfo gTypeNameTypeInfo = {kTypeKindPrimitive, "typeName", "typeName", kVersion0};
const Movel::TypeInfo gMethodNameTypeInfo = {kTypeKindPrimitive, "methodName", "methodName",
                                             kVersion0};
const Movel::TypeInfo gPropertyPathTypeInfo = {kTypeKindPrimitive, "propertyPath",
                                               "propertyPath", kVersion0};
const Movel::TypeInfo gUriTypeInfo = {kTypeKindPrimitive, "uri", "uri", kVersion0};
const Movel::TypeInfo gAnyTypeInfo = {kTypeKindPrimitive, "anyType", "anyType", kVersion0};

const Movel::TypeInfo gTydefDynamicDataTypeInfo = {kTypeKindData, "tydef.DynamicData",
                                                   "DynamicData", kVersion0};
const Movel::TypeInfo gTydefManagedObjectTypeInfo = {kTypeKindManaged, "tydef.ManagedObject",
                                                     "ManagedObject", kVersion0};
const Movel::TypeInfo gTydefMethodFaultTypeInfo = {kTypeKindFault, "tydef.MethodFault",
                                                   "MethodFault", kVersion0};
const Movel::TypeInfo gTydefRuntimeFaultTypeInfo = {kTypeKindFault, "tydef.RuntimeFault",
                                                    "RuntimeFault", kVersion0};
const Movel::TypeInfo gTydefDynamicPropertyTypeInfo = {kTypeKindData, "tydef.DynamicProperty",
                                                       "DynamicProperty", kVersion0};
const Movel::TypeInfo gTydefKeyAnyValueTypeInfo = {kTypeKindData, "tydef.KeyAnyValue",
                                                   "KeyAnyValue", kVersion0};
const Movel::TypeInfo gTydefLocalizableMessageTypeInfo = {
    kTypeKindData, "tydef.LocalizableMessage", "LocalizableMessage", kVersion0};

const Movel::TypeInfo gTydefQueryPropertyCollectorTypeInfo = {
    kTypeKindManaged, "tydef.query.PropertyCollector", "PropertyCollector", kQueryVersion1};
const Movel::TypeInfo gTydefQueryPropertyCollectorChangeOpTypeInfo = {
    kTypeKindEnum, "tydef.query.PropertyCollector.ChangeOp", "PropertyChangeOp", kQueryVersion1};
const Movel::TypeInfo gTydefReflectDynamicTypeManagerTypeInfo = {
    kTypeKindManaged, "tydef.reflect.DynamicTypeManager", "DynamicTypeManager",
    kReflectVersion1};
const Movel::TypeInfo gTydefReflectManagedMethodExecuterTypeInfo = {
    kTypeKindManaged, "tydef.reflect.ManagedMethodExecuter", "ManagedMethodExecuter",
    kReflectVersion1};

const Movel::TypeInfo gTydefFaultInvalidArgumentTypeInfo = {
    kTypeKindFault, "tydef.fault.InvalidArgument", "InvalidArgument", kVersion0};
const Movel::TypeInfo gTydefFaultInvalidTypeTypeInfo = {kTypeKindFault, "tydef.fault.InvalidType",
                                                        "InvalidType", kVersion0};
const Movel::TypeInfo gTydefFaultManagedObjectNotFoundTypeInfo = {
    kTypeKindFault, "tydef.fault.ManagedObjectNotFound", "ManagedObjectNotFound", kVersion0};
const Movel::TypeInfo gTydefFaultNotEnoughLicensesTypeInfo = {
    kTypeKindFault, "tydef.fault.NotEnoughLicenses", "NotEnoughLicenses", kVersion1};
const Movel::TypeInfo gTydefFaultNotSupportedTypeInfo = {
    kTypeKindFault, "tydef.fault.NotSupported", "NotSupported", kVersion0};
const Movel::TypeInfo gTydefFaultRequestCanceledTypeInfo = {
    kTypeKindFault, "tydef.fault.RequestCanceled", "RequestCanceled", kVersion0};
const Movel::TypeInfo gTydefFaultSecurityErrorTypeInfo = {
    kTypeKindFault, "tydef.fault.SecurityError", "SecurityError", kVersion0};
const Movel::TypeInfo gTydefFaultSystemErrorTypeInfo = {
    kTypeKindFault, "tydef.fault.SystemError", "SystemError", kVersion0};
}

namespace Movel {
namespace {

using Query::PropertyCollectorChangeOp;

constexpr PropertyInfo kEndOfProperties = {nullptr, nullptr, nullptr, nullptr, kFlagsEndOfList,
                                           nullptr};

const PropertyInfo kNoProperties[] = {kEndOfProperties};

const PropertyInfo kDynamicDataProperties[] = {
    {"dynamicType", nullptr, nullptr, &gStringTypeInfo, kFlagOptional, kVersion0},
    {"dynamicProperty", nullptr, nullptr, &gTydefDynamicPropertyTypeInfo,
     kFlagArray | kFlagOptional, kVersion0},
    kEndOfProperties,
};
const PropertyInfo kDynamicPropertyProperties[] = {
    {"name", nullptr, nullptr, &gStringTypeInfo, 0, kVersion0},
    {"val", nullptr, nullptr, &gAnyTypeInfo, 0, kVersion0},
    kEndOfProperties,
};
const PropertyInfo kKeyAnyValueProperties[] = {
    {"key", nullptr, nullptr, &gStringTypeInfo, 0, kVersion0},
    {"value", nullptr, nullptr, &gAnyTypeInfo, 0, kVersion0},
    kEndOfProperties,
};
const PropertyInfo kLocalizableMessageProperties[] = {
    {"key", nullptr, nullptr, &gStringTypeInfo, 0, kVersion0},
    {"arg", nullptr, nullptr, &gTydefKeyAnyValueTypeInfo, kFlagArray | kFlagOptional, kVersion0},
    {"message", nullptr, "", &gStringTypeInfo, kFlagOptional, kVersion0},
    kEndOfProperties,
};
const PropertyInfo kMethodFaultProperties[] = {
    {"faultCause", nullptr, nullptr, &gTydefMethodFaultTypeInfo, kFlagOptional, kVersion0},
    {"faultMessage", nullptr, nullptr, &gTydefLocalizableMessageTypeInfo,
     kFlagArray | kFlagOptional, kVersion0},
    kEndOfProperties,
};
const PropertyInfo kInvalidArgumentProperties[] = {
    {"invalidProperty", nullptr, nullptr, &gPropertyPathTypeInfo, kFlagOptional, kVersion0},
    kEndOfProperties,
};
const PropertyInfo kInvalidTypeProperties[] = {
    {"argument", nullptr, nullptr, &gPropertyPathTypeInfo, kFlagOptional, kVersion0},
    kEndOfProperties,
};
const PropertyInfo kManagedObjectNotFoundProperties[] = {
    {"obj", nullptr, nullptr, &gTydefManagedObjectTypeInfo, 0, kVersion0},
    kEndOfProperties,
};
const PropertyInfo kSystemErrorProperties[] = {
    {"reason", nullptr, nullptr, &gStringTypeInfo, 0, kVersion0},
    kEndOfProperties,
};

}  // namespace

// ---- layouts of the runtime's own data classes ----

const FieldInfo DynamicData::_fields[] = {
    {offsetof(DynamicData, dynamicType_), kFlagOptional, FieldKind::kString, true, false, nullptr, nullptr},
    {offsetof(DynamicData, dynamicProperty_), kFlagOptional | kFlagArray, FieldKind::kArray, true, true,
     &NarrowField<DataArray<DynamicProperty>>, &MakeArrayField<DataArray<DynamicProperty>>},
};
const DataLayout DynamicData::_layout = {nullptr, kDynamicDataProperties, DynamicData::_fields, 2,
                                         sizeof(DynamicData), 0x3};

const FieldInfo DynamicProperty::_fields[] = {
    {offsetof(DynamicProperty, name_), 0, FieldKind::kString, false, false, nullptr, nullptr},
    {offsetof(DynamicProperty, val_), 0, FieldKind::kObject, false, false, nullptr, nullptr},
};
const DataLayout DynamicProperty::_layout = {nullptr, kDynamicPropertyProperties,
                                             DynamicProperty::_fields, 2, sizeof(DynamicProperty), 0x3};

const FieldInfo KeyAnyValue::_fields[] = {
    {offsetof(KeyAnyValue, key_), 0, FieldKind::kString, false, false, nullptr, nullptr},
    {offsetof(KeyAnyValue, value_), 0, FieldKind::kObject, false, false, nullptr, nullptr},
};
const DataLayout KeyAnyValue::_layout = {nullptr, kKeyAnyValueProperties, KeyAnyValue::_fields, 2,
                                         sizeof(KeyAnyValue), 0x3};

const FieldInfo LocalizableMessage::_fields[] = {
    {offsetof(LocalizableMessage, key_), 0, FieldKind::kString, false, false, nullptr, nullptr},
    {offsetof(LocalizableMessage, arg_), kFlagOptional | kFlagArray, FieldKind::kArray, true, true,
     &NarrowField<DataArray<KeyAnyValue>>, &MakeArrayField<DataArray<KeyAnyValue>>},
    {offsetof(LocalizableMessage, message_), kFlagOptional, FieldKind::kString, true, false, nullptr, nullptr},
};
const DataLayout LocalizableMessage::_layout = {nullptr, kLocalizableMessageProperties,
                                                LocalizableMessage::_fields, 3,
                                                sizeof(LocalizableMessage), 0x7};

const FieldInfo MethodFault::_fields[] = {
    {offsetof(MethodFault, faultCause_), kFlagOptional, FieldKind::kObject, true, true, &NarrowField<MethodFault>,
     nullptr},
    {offsetof(MethodFault, faultMessage_), kFlagOptional | kFlagArray, FieldKind::kArray, true, true,
     &NarrowField<DataArray<LocalizableMessage>>, &MakeArrayField<DataArray<LocalizableMessage>>},
};
const DataLayout MethodFault::_layout = {nullptr, kMethodFaultProperties, MethodFault::_fields, 2,
                                         sizeof(MethodFault), 0x3};
const DataLayout RuntimeFault::_layout = {&MethodFault::_layout, kNoProperties, nullptr, 0,
                                          sizeof(RuntimeFault), 0x0};

namespace Fault {
const DataLayout NotEnoughLicenses::_layout = {&MethodFault::_layout, kNoProperties, nullptr, 0,
                                               sizeof(NotEnoughLicenses), 0x0};
const DataLayout NotSupported::_layout = {&RuntimeFault::_layout, kNoProperties, nullptr, 0,
                                          sizeof(NotSupported), 0x0};
const DataLayout RequestCanceled::_layout = {&RuntimeFault::_layout, kNoProperties, nullptr, 0,
                                             sizeof(RequestCanceled), 0x0};
const DataLayout SecurityError::_layout = {&RuntimeFault::_layout, kNoProperties, nullptr, 0,
                                           sizeof(SecurityError), 0x0};

const FieldInfo InvalidArgument::_fields[] = {
    {offsetof(InvalidArgument, invalidProperty_), kFlagOptional, FieldKind::kPropertyPath, true, false, nullptr,
     nullptr},
};
const DataLayout InvalidArgument::_layout = {&RuntimeFault::_layout, kInvalidArgumentProperties,
                                             InvalidArgument::_fields, 1, sizeof(InvalidArgument), 0x0};

const FieldInfo InvalidType::_fields[] = {
    {offsetof(InvalidType, argument_), kFlagOptional, FieldKind::kPropertyPath, true, false, nullptr, nullptr},
};
const DataLayout InvalidType::_layout = {&RuntimeFault::_layout, kInvalidTypeProperties,
                                         InvalidType::_fields, 1, sizeof(InvalidType), 0x0};

const FieldInfo ManagedObjectNotFound::_fields[] = {
    {offsetof(ManagedObjectNotFound, obj_), 0, FieldKind::kObject, false, false, &NarrowField<MoRef>,
     nullptr},
};
const DataLayout ManagedObjectNotFound::_layout = {&RuntimeFault::_layout,
                                                   kManagedObjectNotFoundProperties,
                                                   ManagedObjectNotFound::_fields, 1,
                                                   sizeof(ManagedObjectNotFound), 0x1};

const FieldInfo SystemError::_fields[] = {
    {offsetof(SystemError, reason_), 0, FieldKind::kString, false, false, nullptr, nullptr},
};
const DataLayout SystemError::_layout = {&RuntimeFault::_layout, kSystemErrorProperties,
                                         SystemError::_fields, 1, sizeof(SystemError), 0x1};
}  // namespace Fault

namespace {

template <class C>
DataObject* CreateDataObject() {
  return new C();
}

// The record of a data or fault class C.
template <class C>
constexpr DataTypeInfo MakeDataRecord(const TypeInfo* type, const TypeInfo* parent,
                                      const PropertyInfo* properties) {
  using F = LayoutFunctions<C>;
  return DataTypeInfo{type,
                      parent,
                      properties,
                      &F::Get,
                      &F::Peek,
                      &F::Set,
                      &F::Swap,
                      &F::IsSet,
                      &F::Unset,
                      &CreateDataObject<C>,
                      &MakeArrayField<DataArray<C>>,
                      0};
}

// The root is not created on its own (its constructor is protected), so its
// record has no object creator.
const DataTypeInfo kDynamicDataRecord = {
    &gTydefDynamicDataTypeInfo,
    nullptr,
    kDynamicDataProperties,
    &LayoutFunctions<DynamicData>::Get,
    &LayoutFunctions<DynamicData>::Peek,
    &LayoutFunctions<DynamicData>::Set,
    &LayoutFunctions<DynamicData>::Swap,
    &LayoutFunctions<DynamicData>::IsSet,
    &LayoutFunctions<DynamicData>::Unset,
    nullptr,
    &MakeArrayField<DataArray<DynamicData>>,
    0};

const DataTypeInfo kDataRecords[] = {
    MakeDataRecord<DynamicProperty>(&gTydefDynamicPropertyTypeInfo, &gTydefDynamicDataTypeInfo,
                                    kDynamicPropertyProperties),
    MakeDataRecord<KeyAnyValue>(&gTydefKeyAnyValueTypeInfo, &gTydefDynamicDataTypeInfo,
                                kKeyAnyValueProperties),
    MakeDataRecord<LocalizableMessage>(&gTydefLocalizableMessageTypeInfo,
                                       &gTydefDynamicDataTypeInfo, kLocalizableMessageProperties),
    MakeDataRecord<MethodFault>(&gTydefMethodFaultTypeInfo, &gTydefDynamicDataTypeInfo,
                                kMethodFaultProperties),
    MakeDataRecord<RuntimeFault>(&gTydefRuntimeFaultTypeInfo, &gTydefMethodFaultTypeInfo,
                                 kNoProperties),
    MakeDataRecord<Fault::InvalidArgument>(&gTydefFaultInvalidArgumentTypeInfo,
                                           &gTydefRuntimeFaultTypeInfo,
                                           kInvalidArgumentProperties),
    MakeDataRecord<Fault::InvalidType>(&gTydefFaultInvalidTypeTypeInfo,
                                       &gTydefRuntimeFaultTypeInfo, kInvalidTypeProperties),
    MakeDataRecord<Fault::ManagedObjectNotFound>(&gTydefFaultManagedObjectNotFoundTypeInfo,
                                                 &gTydefRuntimeFaultTypeInfo,
                                                 kManagedObjectNotFoundProperties),
    MakeDataRecord<Fault::NotEnoughLicenses>(&gTydefFaultNotEnoughLicensesTypeInfo,
                                             &gTydefMethodFaultTypeInfo, kNoProperties),
    MakeDataRecord<Fault::NotSupported>(&gTydefFaultNotSupportedTypeInfo,
                                        &gTydefRuntimeFaultTypeInfo, kNoProperties),
    MakeDataRecord<Fault::RequestCanceled>(&gTydefFaultRequestCanceledTypeInfo,
                                           &gTydefRuntimeFaultTypeInfo, kNoProperties),
    MakeDataRecord<Fault::SecurityError>(&gTydefFaultSecurityErrorTypeInfo,
                                         &gTydefRuntimeFaultTypeInfo, kNoProperties),
    MakeDataRecord<Fault::SystemError>(&gTydefFaultSystemErrorTypeInfo,
                                       &gTydefRuntimeFaultTypeInfo, kSystemErrorProperties),
};

// Managed types of the runtime have no methods or properties of their own
// here; their calls are served elsewhere.
const MethodInfo kNoMethods[] = {MethodInfo{}};

void DispatchNothing(ManagedObject*, int, Basekit::RefVector<Any>&, Basekit::Ref<Any>& result) {
  result = nullptr;
}

ManagedMethod* gManagedObjectMethods[1];
ManagedMethod* gPropertyCollectorMethods[1];
ManagedMethod* gDynamicTypeManagerMethods[1];
ManagedMethod* gManagedMethodExecuterMethods[1];

const ManagedTypeInfo kManagedRecords[] = {
    {&gTydefManagedObjectTypeInfo, nullptr, kNoProperties, kNoMethods, &DispatchNothing, nullptr,
     gManagedObjectMethods},
    {&gTydefQueryPropertyCollectorTypeInfo, &gTydefManagedObjectTypeInfo, kNoProperties,
     kNoMethods, &DispatchNothing, nullptr, gPropertyCollectorMethods},
    {&gTydefReflectDynamicTypeManagerTypeInfo, &gTydefManagedObjectTypeInfo, kNoProperties,
     kNoMethods, &DispatchNothing, nullptr, gDynamicTypeManagerMethods},
    {&gTydefReflectManagedMethodExecuterTypeInfo, &gTydefManagedObjectTypeInfo, kNoProperties,
     kNoMethods, &DispatchNothing, nullptr, gManagedMethodExecuterMethods},
};

const char* const kChangeOpValues[] = {"add", "remove", "assign", "indirectRemove", nullptr};
const EnumTypeInfo kChangeOpRecord = {&gTydefQueryPropertyCollectorChangeOpTypeInfo,
                                      kChangeOpValues};

const TypeInfo* const kPrimitiveInfos[] = {
    &gStringTypeInfo,   &gBoolTypeInfo,         &gByteTypeInfo,     &gShortTypeInfo,
    &gIntTypeInfo,      &gLongTypeInfo,         &gFloatTypeInfo,    &gDoubleTypeInfo,
    &gDateTimeTypeInfo, &gBinaryTypeInfo,       &gTypeNameTypeInfo, &gMethodNameTypeInfo,
    &gPropertyPathTypeInfo, &gUriTypeInfo,      &gAnyTypeInfo,
};

// Registers every runtime type, primitives first, when the library loads.
// The registry is created on first use, so running from a static initializer
// is safe.
struct BuiltinTypeRegistration {
  BuiltinTypeRegistration() {
    for (const TypeInfo* info : kPrimitiveInfos) detail::RegisterType(new PrimitiveType(info));
    CreateDataObjectType(&kDynamicDataRecord, &DynamicData::_layout);
    static const DataLayout* const kLayouts[] = {
        &DynamicProperty::_layout,        &KeyAnyValue::_layout,
        &LocalizableMessage::_layout,     &MethodFault::_layout,
        &RuntimeFault::_layout,           &Fault::InvalidArgument::_layout,
        &Fault::InvalidType::_layout,     &Fault::ManagedObjectNotFound::_layout,
        &Fault::NotEnoughLicenses::_layout, &Fault::NotSupported::_layout,
        &Fault::RequestCanceled::_layout, &Fault::SecurityError::_layout,
        &Fault::SystemError::_layout,
    };
    static_assert(sizeof(kLayouts) / sizeof(kLayouts[0]) == sizeof(kDataRecords) / sizeof(kDataRecords[0]),
                  "one layout per runtime data record, in record order");
    for (std::size_t i = 0; i < sizeof(kLayouts) / sizeof(kLayouts[0]); ++i) {
      CreateDataObjectType(&kDataRecords[i], kLayouts[i]);
    }
    for (const ManagedTypeInfo& record : kManagedRecords) CreateManagedObjectType(&record);
    CreateEnumTypeImpl(&kChangeOpRecord, EnumFunctions<PropertyCollectorChangeOp>::kFuncs);
  }
};
const BuiltinTypeRegistration gRegistration;

// The type object of a record, remembered once it is registered.
template <class T>
T* Lookup(std::atomic<T*>& cache, const TypeInfo* info) {
  T* type = cache.load(std::memory_order_acquire);
  if (!type) {
    type = static_cast<T*>(GetType(info));
    if (type) cache.store(type, std::memory_order_release);
  }
  return type;
}

}  // namespace

#define MOVEL_NO_TYPE(T, info)             \
  template <>                              \
  Type* GetNoType<T>() {                   \
    static std::atomic<Type*> cache{};     \
    return Lookup(cache, &info);           \
  }
MOVEL_NO_TYPE(bool, gBoolTypeInfo)
MOVEL_NO_TYPE(signed char, gByteTypeInfo)
MOVEL_NO_TYPE(short, gShortTypeInfo)
MOVEL_NO_TYPE(int, gIntTypeInfo)
MOVEL_NO_TYPE(long long, gLongTypeInfo)
MOVEL_NO_TYPE(float, gFloatTypeInfo)
MOVEL_NO_TYPE(double, gDoubleTypeInfo)
MOVEL_NO_TYPE(std::string, gStringTypeInfo)
MOVEL_NO_TYPE(Basekit::System::DateTime, gDateTimeTypeInfo)
MOVEL_NO_TYPE(std::vector<unsigned char>, gBinaryTypeInfo)
MOVEL_NO_TYPE(TypeName, gTypeNameTypeInfo)
MOVEL_NO_TYPE(MethodName, gMethodNameTypeInfo)
MOVEL_NO_TYPE(PropertyPath, gPropertyPathTypeInfo)
MOVEL_NO_TYPE(Uri, gUriTypeInfo)
#undef MOVEL_NO_TYPE

Type* GetAnyType() {
  static std::atomic<Type*> cache{};
  return Lookup(cache, &gAnyTypeInfo);
}

#define MOVEL_DO_TYPE(C, info)                \
  template <>                                 \
  DataObjectType* GetDoType<C>() {            \
    static std::atomic<DataObjectType*> cache{}; \
    return Lookup(cache, &info);              \
  }
MOVEL_DO_TYPE(DynamicData, gTydefDynamicDataTypeInfo)
MOVEL_DO_TYPE(DynamicProperty, gTydefDynamicPropertyTypeInfo)
MOVEL_DO_TYPE(KeyAnyValue, gTydefKeyAnyValueTypeInfo)
MOVEL_DO_TYPE(LocalizableMessage, gTydefLocalizableMessageTypeInfo)
MOVEL_DO_TYPE(MethodFault, gTydefMethodFaultTypeInfo)
MOVEL_DO_TYPE(RuntimeFault, gTydefRuntimeFaultTypeInfo)
MOVEL_DO_TYPE(Fault::InvalidArgument, gTydefFaultInvalidArgumentTypeInfo)
MOVEL_DO_TYPE(Fault::InvalidType, gTydefFaultInvalidTypeTypeInfo)
MOVEL_DO_TYPE(Fault::ManagedObjectNotFound, gTydefFaultManagedObjectNotFoundTypeInfo)
MOVEL_DO_TYPE(Fault::NotEnoughLicenses, gTydefFaultNotEnoughLicensesTypeInfo)
MOVEL_DO_TYPE(Fault::NotSupported, gTydefFaultNotSupportedTypeInfo)
MOVEL_DO_TYPE(Fault::RequestCanceled, gTydefFaultRequestCanceledTypeInfo)
MOVEL_DO_TYPE(Fault::SecurityError, gTydefFaultSecurityErrorTypeInfo)
MOVEL_DO_TYPE(Fault::SystemError, gTydefFaultSystemErrorTypeInfo)
#undef MOVEL_DO_TYPE

template <>
EnumType* GetEnumType<Query::PropertyCollectorChangeOp>() {
  static std::atomic<EnumType*> cache{};
  return Lookup(cache, &gTydefQueryPropertyCollectorChangeOpTypeInfo);
}

ManagedObjectType* GetManagedObjectRootType() {
  static std::atomic<ManagedObjectType*> cache{};
  return Lookup(cache, &gTydefManagedObjectTypeInfo);
}
ManagedObjectType* GetQueryPropertyCollectorType() {
  static std::atomic<ManagedObjectType*> cache{};
  return Lookup(cache, &gTydefQueryPropertyCollectorTypeInfo);
}
ManagedObjectType* GetReflectDynamicTypeManagerType() {
  static std::atomic<ManagedObjectType*> cache{};
  return Lookup(cache, &gTydefReflectDynamicTypeManagerTypeInfo);
}
ManagedObjectType* GetReflectManagedMethodExecuterType() {
  static std::atomic<ManagedObjectType*> cache{};
  return Lookup(cache, &gTydefReflectManagedMethodExecuterTypeInfo);
}

}  // namespace Movel
