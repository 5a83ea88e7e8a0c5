"""The runtime's own types, which the schema may name but never declares."""
from dataclasses import dataclass
from typing import Optional


@dataclass(frozen=True)
class Builtin:
    name: str  # as written in the schema
    kind: str  # "primitive", "data", "fault", "managed", "enum"
    symbol: str  # the runtime's exported TypeInfo record
    cpp: str  # C++ value class
    wsdl: str
    parent: Optional[str] = None


def _b(name, kind, symbol, cpp, wsdl, parent=None):
    return Builtin(name, kind, symbol, cpp, wsdl, parent)


BUILTINS = {b.name: b for b in [
    _b("string", "primitive", "gStringTypeInfo", "std::string", "string"),
    _b("boolean", "primitive", "gBoolTypeInfo", "bool", "boolean"),
    _b("byte", "primitive", "gByteTypeInfo", "signed char", "byte"),
    _b("short", "primitive", "gShortTypeInfo", "short", "short"),
    _b("int", "primitive", "gIntTypeInfo", "int", "int"),
    _b("long", "primitive", "gLongTypeInfo", "long long", "long"),
    _b("float", "primitive", "gFloatTypeInfo", "float", "float"),
    _b("double", "primitive", "gDoubleTypeInfo", "double", "double"),
    _b("dateTime", "primitive", "gDateTimeTypeInfo", "Basekit::System::DateTime", "dateTime"),
    _b("binary", "primitive", "gBinaryTypeInfo", "std::vector<unsigned char>", "binary"),
    _b("typeName", "primitive", "gTypeNameTypeInfo", "Movel::TypeName", "typeName"),
    _b("methodName", "primitive", "gMethodNameTypeInfo", "Movel::MethodName", "methodName"),
    _b("propertyPath", "primitive", "gPropertyPathTypeInfo", "Movel::PropertyPath", "propertyPath"),
    _b("uri", "primitive", "gUriTypeInfo", "Movel::Uri", "uri"),
    _b("anyType", "any", "gAnyTypeInfo", "Movel::Any", "anyType"),
    _b("tydef.DynamicData", "data", "gTydefDynamicDataTypeInfo", "Movel::DynamicData", "DynamicData"),
    _b("tydef.DynamicProperty", "data", "gTydefDynamicPropertyTypeInfo", "Movel::DynamicProperty",
       "DynamicProperty", "tydef.DynamicData"),
    _b("tydef.KeyAnyValue", "data", "gTydefKeyAnyValueTypeInfo", "Movel::KeyAnyValue", "KeyAnyValue",
       "tydef.DynamicData"),
    _b("tydef.LocalizableMessage", "data", "gTydefLocalizableMessageTypeInfo",
       "Movel::LocalizableMessage", "LocalizableMessage", "tydef.DynamicData"),
    _b("tydef.ManagedObject", "managed", "gTydefManagedObjectTypeInfo", "Movel::MoRef",
       "ManagedObject"),
    _b("tydef.query.PropertyCollector", "managed", "gTydefQueryPropertyCollectorTypeInfo",
       "Movel::MoRef", "PropertyCollector", "tydef.ManagedObject"),
    _b("tydef.reflect.DynamicTypeManager", "managed", "gTydefReflectDynamicTypeManagerTypeInfo",
       "Movel::MoRef", "DynamicTypeManager", "tydef.ManagedObject"),
    _b("tydef.reflect.ManagedMethodExecuter", "managed",
       "gTydefReflectManagedMethodExecuterTypeInfo", "Movel::MoRef", "ManagedMethodExecuter",
       "tydef.ManagedObject"),
    _b("tydef.query.PropertyCollector.ChangeOp", "enum",
       "gTydefQueryPropertyCollectorChangeOpTypeInfo", "Movel::PropertyChangeOp", "PropertyChangeOp"),
    _b("tydef.MethodFault", "fault", "gTydefMethodFaultTypeInfo", "Movel::MethodFault", "MethodFault",
       "tydef.DynamicData"),
    _b("tydef.RuntimeFault", "fault", "gTydefRuntimeFaultTypeInfo", "Movel::RuntimeFault",
       "RuntimeFault", "tydef.MethodFault"),
]}

for _name, _parent in [("InvalidArgument", "tydef.RuntimeFault"), ("InvalidType", "tydef.RuntimeFault"),
                       ("ManagedObjectNotFound", "tydef.RuntimeFault"),
                       ("NotEnoughLicenses", "tydef.MethodFault"), ("NotSupported", "tydef.RuntimeFault"),
                       ("RequestCanceled", "tydef.RuntimeFault"), ("SecurityError", "tydef.RuntimeFault"),
                       ("SystemError", "tydef.RuntimeFault")]:
    BUILTINS["tydef.fault." + _name] = Builtin(
        "tydef.fault." + _name, "fault", "gTydefFault" + _name + "TypeInfo", "Movel::Fault::" + _name,
        _name, _parent)

# Parents that make a type a fault.
FAULT_ROOTS = frozenset(n for n, b in BUILTINS.items() if b.kind == "fault")

# Versions that belong to the runtime rather than to a loaded table.
RUNTIME_VERSIONS = frozenset([
    "tydef.version.version0", "tydef.version.version1",
    "tydef.query.version.version1", "tydef.query.version.version2", "tydef.query.version.version3",
    "tydef.query.version.version4", "tydef.reflect.version.version1", "tydef.reflect.version.version2",
])
RUNTIME_NAMESPACES = frozenset(["tydef", "tydef.query", "tydef.reflect"])

# Own properties of the runtime's data and fault types, as (name, type, array,
# secret), for the checks that follow property paths through inherited
# properties (message templates).
BUILTIN_PROPERTIES = {
    "tydef.DynamicData": [("dynamicType", "string", False, False),
                          ("dynamicProperty", "tydef.DynamicProperty", True, False)],
    "tydef.DynamicProperty": [("name", "string", False, False), ("val", "anyType", False, False)],
    "tydef.KeyAnyValue": [("key", "string", False, False), ("value", "anyType", False, False)],
    "tydef.LocalizableMessage": [("key", "string", False, False), ("arg", "tydef.KeyAnyValue", True, False),
                                 ("message", "string", False, False)],
    "tydef.MethodFault": [("faultCause", "tydef.MethodFault", False, False),
                          ("faultMessage", "tydef.LocalizableMessage", True, False)],
    "tydef.fault.InvalidArgument": [("invalidProperty", "propertyPath", False, False)],
    "tydef.fault.InvalidType": [("argument", "propertyPath", False, False)],
    "tydef.fault.ManagedObjectNotFound": [("obj", "tydef.ManagedObject", False, False)],
    "tydef.fault.SystemError": [("reason", "string", False, False)],
}
