// Type descriptor records.
//
// Generated bindings describe every type to the runtime with these constant
// records. Each field is one machine word (a pointer, a function pointer, or an
// integer widened to a word), records are contiguous arrays of such words, and
// lists end with the terminator entry given for each list. The layout is
// checked at compile time below.
#pragma once

#include <cstdint>

#include "basekit/ref.h"

namespace Movel {

class Any;
class DataObject;
class ManagedObject;
class ManagedMethod;
class MoRef;
class Stub;
class StubAdapter;
class RequestContext;
class EnumType;
class Type;

using Word = std::uintptr_t;
using SignedWord = std::intptr_t;

// TypeInfo.kind.
enum : Word {
  kTypeKindPrimitive = 1,  // runtime-only: strings, numbers, date-times, ...
  kTypeKindEnum = 15,
  kTypeKindData = 16,
  kTypeKindFault = 17,
  kTypeKindManaged = 18,
};

// Property, parameter and result flags.
enum : Word {
  kFlagArray = 0x001,
  kFlagOptional = 0x002,
  kFlagReadOnly = 0x004,
  kFlagLinkable = 0x010,
  kFlagLink = 0x020,
  kFlagSecret = 0x200,
  kFlagStatistics = 0x400,
  // Terminator of property and parameter lists: all 32 flag bits set.
  kFlagsEndOfList = 0xFFFFFFFFu,
};

// MethodInfo.flags.
enum : Word {
  kMethodTask = 0x001,
  kMethodInternal = 0x100,
};

// Names a type: kind, dotted wire name, flat WSDL name, version introduced.
struct TypeInfo {
  Word kind;
  const char* name;
  const char* wsdlName;
  const char* version;
};

// One own property of a data or managed type. Ends with
// {null, null, null, null, kFlagsEndOfList, null}.
struct PropertyInfo {
  const char* name;
  const char* privilegeId;
  const char* localizable;  // null, or "" for human-readable text
  const TypeInfo* type;     // element type for arrays
  Word flags;
  const char* version;
};

// One parameter of a method, or a method's result. Ends with
// {null, null, null, kFlagsEndOfList, null}.
struct ParamInfo {
  const char* name;
  const char* privilegeId;
  const TypeInfo* type;
  Word flags;
  const char* version;
};

// The privilege a method needs on objects of one type. Ends with a null
// typeName.
struct PrivilegeOverride {
  const char* typeName;
  const char* privilegeId;
};

// One own method of a managed type. The list ends with an all-zero entry.
struct MethodInfo {
  const char* name;
  const char* wsdlName;
  const char* privilegeId;
  const PrivilegeOverride* privilegeOverrides;  // null when none
  ParamInfo result;                             // type null when no result
  const ParamInfo* parameters;
  const TypeInfo* const* faults;  // null-terminated
  Word flags;
  const char* version;
};

// Per-type property functions of a data type; index counts the type's own
// properties from 0. Values travel through typed slots (see the data object
// classes for the slot type of each property kind).
using PropGetFn = void (*)(DataObject* object, int index, void* out);
using PropPeekFn = const void* (*)(const DataObject* object, int index);
using PropSetFn = void (*)(DataObject* object, int index, const void* in);
using PropSwapFn = void (*)(DataObject* object, int index, void* inout);
using PropIsSetFn = bool (*)(const DataObject* object, int index);
using PropUnsetFn = void (*)(DataObject* object, int index);
using CreateObjectFn = DataObject* (*)();
using CreateArrayFn = Any* (*)();

// Registration record of a data or fault type.
struct DataTypeInfo {
  const TypeInfo* typeInfo;
  const TypeInfo* parentTypeInfo;
  const PropertyInfo* properties;
  PropGetFn propGet;
  PropPeekFn propPeek;
  PropSetFn propSet;
  PropSwapFn propSwap;
  PropIsSetFn propIsSet;
  PropUnsetFn propUnset;
  CreateObjectFn createObject;
  CreateArrayFn createArray;
  SignedWord redeclaresDynamicProperty;  // 1 or 0
};

using DispatchFn = void (*)(ManagedObject* target, int index, Basekit::RefVector<Any>& args,
                            Basekit::Ref<Any>& result);
using CreateStubFn = Stub* (*)(MoRef* ref, StubAdapter* adapter, RequestContext* context);

// Registration record of a managed type.
struct ManagedTypeInfo {
  const TypeInfo* typeInfo;
  const TypeInfo* parentTypeInfo;
  const PropertyInfo* properties;
  const MethodInfo* methods;
  DispatchFn dispatch;
  CreateStubFn createStub;
  ManagedMethod** methodObjects;  // own methods, then own properties
};

// Registration record of an enumeration.
struct EnumTypeInfo {
  const TypeInfo* typeInfo;
  const char* const* values;  // null-terminated; position is the value's integer
};

// Per-enumeration conversions, read during CreateEnumTypeImpl only.
struct EnumFuncs {
  int (*unboxValue)(Any* boxed);
  Any* (*boxValue)(int value);
  void (*namesFromArray)(Any* array, Basekit::Ref<Any>& out, const EnumType* type);
  Any* (*arrayFromNames)(Any* names, const EnumType* type);
  Any* (*createEnumArray)();
};

// One version of a namespace.
struct VersionRow {
  const char* name;
  const char* wireNamespace;
  const char* versionId;
  const char* taskType;
  const char* serviceNamespace;
  Word flags;  // byte 0 and byte 1 are flags, the other bytes zero
};

// "version extends parent".
struct VersionParent {
  const char* version;
  const char* parent;
};

// The version table of a namespace. Lists are counted, not terminated.
struct TydefVersions {
  const char* const* imports;
  Word importCount;
  const VersionRow* versions;
  Word versionCount;
  const VersionParent* parents;
  Word parentCount;
};

#define MOVEL_RECORD_WORDS(T, n) \
  static_assert(sizeof(T) == (n) * sizeof(Word), #T " must be " #n " machine words")
MOVEL_RECORD_WORDS(TypeInfo, 4);
MOVEL_RECORD_WORDS(PropertyInfo, 6);
MOVEL_RECORD_WORDS(ParamInfo, 5);
MOVEL_RECORD_WORDS(PrivilegeOverride, 2);
MOVEL_RECORD_WORDS(MethodInfo, 13);
MOVEL_RECORD_WORDS(DataTypeInfo, 12);
MOVEL_RECORD_WORDS(ManagedTypeInfo, 7);
MOVEL_RECORD_WORDS(EnumTypeInfo, 2);
MOVEL_RECORD_WORDS(EnumFuncs, 5);
MOVEL_RECORD_WORDS(VersionRow, 6);
MOVEL_RECORD_WORDS(VersionParent, 2);
MOVEL_RECORD_WORDS(TydefVersions, 6);
#undef MOVEL_RECORD_WORDS

}  // namespace Movel
