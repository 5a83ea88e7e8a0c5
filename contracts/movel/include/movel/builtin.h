// The runtime's own types: the primitive kinds, the roots of data, fault and
// managed types, the runtime faults and the query and reflection services.
// They are registered when the runtime library loads, before any generated
// module.
#pragma once

#include "movel/export.h"
#include "movel/records.h"
#include "movel/type.h"

extern "C++" {
// Primitive kinds.
MOVEL_API extern const Movel::TypeInfo gStringTypeInfo;
MOVEL_API extern const Movel::TypeInfo gBoolTypeInfo;
MOVEL_API extern const Movel::TypeInfo gByteTypeInfo;
MOVEL_API extern const Movel::TypeInfo gShortTypeInfo;
MOVEL_API extern const Movel::TypeInfo gIntTypeInfo;
MOVEL_API extern const Movel::TypeInfo gLongTypeInfo;
MOVEL_API extern const Movel::TypeInfo gFloatTypeInfo;
MOVEL_API extern const Movel::TypeInfo gDoubleTypeInfo;
MOVEL_API extern const Movel::TypeInfo gDateTimeTypeInfo;
MOVEL_API extern const Movel::TypeInfo gBinaryTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTypeNameTypeInfo;
MOVEL_API extern const Movel::TypeInfo gMethodNameTypeInfo;
MOVEL_API extern const Movel::TypeInfo gPropertyPathTypeInfo;
MOVEL_API extern const Movel::TypeInfo gUriTypeInfo;
MOVEL_API extern const Movel::TypeInfo gAnyTypeInfo;

// Roots and runtime data types.
MOVEL_API extern const Movel::TypeInfo gTydefDynamicDataTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefManagedObjectTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefMethodFaultTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefRuntimeFaultTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefDynamicPropertyTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefKeyAnyValueTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefLocalizableMessageTypeInfo;

// Services.
MOVEL_API extern const Movel::TypeInfo gTydefQueryPropertyCollectorTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefQueryPropertyCollectorChangeOpTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefReflectDynamicTypeManagerTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefReflectManagedMethodExecuterTypeInfo;

// Runtime faults.
MOVEL_API extern const Movel::TypeInfo gTydefFaultInvalidArgumentTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefFaultInvalidTypeTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefFaultManagedObjectNotFoundTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefFaultNotEnoughLicensesTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefFaultNotSupportedTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefFaultRequestCanceledTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefFaultSecurityErrorTypeInfo;
MOVEL_API extern const Movel::TypeInfo gTydefFaultSystemErrorTypeInfo;
}

namespace Movel {
namespace Query {

// How a property collector filter changes a property ("add", "remove",
// "assign", "indirectRemove"); tydef.query.PropertyCollector.ChangeOp.
enum class PropertyCollectorChangeOp : int {
  add = 0,
  remove = 1,
  assign = 2,
  indirectRemove = 3,
};

}  // namespace Query

template <>
MOVEL_API EnumType* GetEnumType<Query::PropertyCollectorChangeOp>();

// "tydef.query.PropertyCollector" and the other managed service types.
MOVEL_API ManagedObjectType* GetQueryPropertyCollectorType();
MOVEL_API ManagedObjectType* GetReflectDynamicTypeManagerType();
MOVEL_API ManagedObjectType* GetReflectManagedMethodExecuterType();

}  // namespace Movel
