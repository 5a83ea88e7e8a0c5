// Runtime type objects, built from the descriptor records at registration.
//
// Type objects live for the life of the process and are immutable once made,
// so they may be read from any thread without locking. Type references inside
// records are TypeInfo pointers; they resolve to type objects on use, so a
// record may name a type registered later or by another module.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "movel/export.h"
#include "movel/records.h"

namespace Movel {

class ArrayType;
class DataObjectType;
struct DataLayout;
class ManagedObjectType;
class Version;

class MOVEL_API Type {
 public:
  Type(const Type&) = delete;
  Type& operator=(const Type&) = delete;
  virtual ~Type();

  Word GetKind() const noexcept { return kind_; }
  bool IsEnum() const noexcept { return kind_ == kTypeKindEnum; }
  bool IsDataObject() const noexcept { return kind_ == kTypeKindData || kind_ == kTypeKindFault; }
  bool IsFault() const noexcept { return kind_ == kTypeKindFault; }
  bool IsManaged() const noexcept { return kind_ == kTypeKindManaged; }
  bool IsPrimitive() const noexcept { return kind_ == kTypeKindPrimitive; }
  virtual bool IsArray() const noexcept { return false; }

  // Dotted wire name ("kor.AboutInfo").
  const std::string& GetName() const noexcept { return name_; }
  const std::string& GetWsdlName() const noexcept { return wsdlName_; }
  // Version name the type was introduced in.
  const std::string& GetVersionName() const noexcept { return *versionName_; }
  // The loaded version of that name, or null when its table is not loaded.
  const Version* GetVersion() const;
  // The record the type was made from; null for array types.
  const TypeInfo* GetTypeInfo() const noexcept { return typeInfo_; }
  // The type "array of this type", made on first use.
  ArrayType* GetArrayType() const;

 protected:
  Type(Word kind, const TypeInfo* info);
  Type(Word kind, std::string name, std::string wsdlName, std::string version);

 private:
  Word kind_;
  const TypeInfo* typeInfo_;
  std::string name_;
  std::string wsdlName_;
  const std::string* versionName_;  // shared: a catalogue names few versions
  mutable std::atomic<ArrayType*> arrayType_{nullptr};
};

// Strings, numbers, date-times, binaries and the other built-in value kinds.
class MOVEL_API PrimitiveType : public Type {
 public:
  explicit PrimitiveType(const TypeInfo* info) : Type(kTypeKindPrimitive, info) {}
};

// "Array of T". Kind and names derive from the element type.
class MOVEL_API ArrayType : public Type {
 public:
  explicit ArrayType(const Type* element);
  bool IsArray() const noexcept override { return true; }
  const Type* GetElementType() const noexcept { return element_; }

 private:
  const Type* element_;
};

// Resolves a TypeInfo to its registered type object, or null.
MOVEL_API Type* GetType(const TypeInfo* info);

// A property of a data or managed type.
class MOVEL_API Property {
 public:
  Property(const PropertyInfo& info, const Type* owner, int index);
  const std::string& GetName() const noexcept { return name_; }
  // Position among the owner's own properties.
  int GetIndex() const noexcept { return index_; }
  const Type* GetOwner() const noexcept { return owner_; }
  const char* GetPrivilegeId() const noexcept { return info_->privilegeId; }
  bool IsLocalizable() const noexcept { return info_->localizable != nullptr; }
  const TypeInfo* GetTypeInfo() const noexcept { return info_->type; }
  // The element type for arrays; null if that type is not registered.
  Type* GetType() const { return Movel::GetType(info_->type); }
  Word GetFlags() const noexcept { return info_->flags; }
  bool IsArray() const noexcept { return info_->flags & kFlagArray; }
  bool IsOptional() const noexcept { return info_->flags & kFlagOptional; }
  bool IsReadOnly() const noexcept { return info_->flags & kFlagReadOnly; }
  bool IsLinkable() const noexcept { return info_->flags & kFlagLinkable; }
  bool IsLink() const noexcept { return info_->flags & kFlagLink; }
  bool IsSecret() const noexcept { return info_->flags & kFlagSecret; }
  const char* GetVersionName() const noexcept { return info_->version; }
  const PropertyInfo& GetRecord() const noexcept { return *info_; }

 private:
  const PropertyInfo* info_;
  const Type* owner_;
  int index_;
  std::string name_;
};

// A parameter or result of a method.
class MOVEL_API Parameter {
 public:
  explicit Parameter(const ParamInfo& info) : info_(&info) {}
  const char* GetName() const noexcept { return info_->name; }
  const char* GetPrivilegeId() const noexcept { return info_->privilegeId; }
  const TypeInfo* GetTypeInfo() const noexcept { return info_->type; }
  Type* GetType() const { return Movel::GetType(info_->type); }
  Word GetFlags() const noexcept { return info_->flags; }
  bool IsArray() const noexcept { return info_->flags & kFlagArray; }
  bool IsOptional() const noexcept { return info_->flags & kFlagOptional; }
  bool IsSecret() const noexcept { return info_->flags & kFlagSecret; }
  const char* GetVersionName() const noexcept { return info_->version; }
  const ParamInfo& GetRecord() const noexcept { return *info_; }

 private:
  const ParamInfo* info_;
};

// One entry of a managed type's method-object array: an own method, or the
// read of an own property (which travels like a method without parameters).
class MOVEL_API ManagedMethod {
 public:
  ManagedMethod(const ManagedObjectType* owner, int index, const MethodInfo& info);
  ManagedMethod(const ManagedObjectType* owner, int index, const Property& property);
  // The result describes a record the object holds itself: not copyable.
  ManagedMethod(const ManagedMethod&) = delete;
  ManagedMethod& operator=(const ManagedMethod&) = delete;

  const ManagedObjectType* GetOwner() const noexcept { return owner_; }
  // Position in the owner's method-object array.
  int GetIndex() const noexcept { return index_; }
  // Declared name ("retrieveContent", or the property name for a read).
  const std::string& GetName() const noexcept { return name_; }
  // Operation name on the wire ("RetrieveServiceContent").
  const std::string& GetWsdlName() const noexcept { return wsdlName_; }
  // "<owner wire name>.<name>", the text of the METHOD_ constants.
  const std::string& GetFullName() const noexcept { return fullName_; }
  const char* GetPrivilegeId() const noexcept { return privilegeId_; }
  // Privilege needed on objects of typeName, or the method's own privilege.
  const char* GetPrivilegeFor(std::string_view typeName) const;
  const PrivilegeOverride* GetPrivilegeOverrides() const noexcept { return overrides_; }
  bool IsPropertyRead() const noexcept { return property_ != nullptr; }
  const Property* GetProperty() const noexcept { return property_; }
  const std::vector<Parameter>& GetParameters() const noexcept { return parameters_; }
  // The result; its type is null for a method without result.
  const Parameter& GetResult() const noexcept { return result_; }
  // Declared faults.
  std::vector<Type*> GetFaults() const;
  const MethodInfo* GetRecord() const noexcept { return info_; }
  Word GetFlags() const noexcept { return flags_; }
  bool IsTask() const noexcept { return flags_ & kMethodTask; }
  bool IsInternal() const noexcept { return flags_ & kMethodInternal; }
  const char* GetVersionName() const noexcept { return version_; }

 private:
  const ManagedObjectType* owner_;
  int index_;
  const MethodInfo* info_;
  const Property* property_;
  std::string name_, wsdlName_, fullName_;
  const char* privilegeId_;
  const PrivilegeOverride* overrides_;
  std::vector<Parameter> parameters_;
  ParamInfo resultInfo_;
  Parameter result_;
  Word flags_;
  const char* version_;
};

// Types with a parent and own properties: data, fault and managed types.
class MOVEL_API StructuredType : public Type {
 public:
  // The parent type (a runtime root such as tydef.DynamicData at the top).
  Type* GetParent() const { return Movel::GetType(parentInfo_); }
  const TypeInfo* GetParentTypeInfo() const noexcept { return parentInfo_; }
  // Made from the record on first use, so registration itself allocates
  // nothing per property.
  const std::vector<Property>& GetOwnProperties() const;
  // Every property, inherited ones first (root first), then own ones.
  std::vector<const Property*> GetAllProperties() const;
  // Searches own properties, then the parent chain.
  const Property* FindProperty(std::string_view name) const;
  // True when this type is other or derives from it.
  bool IsA(const Type* other) const;

 protected:
  StructuredType(Word kind, const TypeInfo* info, const TypeInfo* parent,
                 const PropertyInfo* properties);

 private:
  const TypeInfo* parentInfo_;
  const PropertyInfo* propertyRecords_;
  mutable std::once_flag propertiesMade_;
  mutable std::vector<Property> properties_;
};

class MOVEL_API DataObjectType : public StructuredType {
 public:
  explicit DataObjectType(const DataTypeInfo* record, const DataLayout* layout = nullptr);
  const DataTypeInfo* GetRecord() const noexcept { return record_; }
  // How the type's class holds its members (see movel/fields.h); null for a
  // class that does not describe them.
  const DataLayout* GetLayout() const noexcept { return layout_; }
  bool RedeclaresDynamicProperty() const noexcept { return record_->redeclaresDynamicProperty; }
  // A new default instance (no reference taken), or null when the record has
  // no creator.
  DataObject* CreateInstance() const;
  // A new empty array of this type (no reference taken).
  Any* CreateArrayInstance() const;

 private:
  const DataTypeInfo* record_;
  const DataLayout* layout_;
};

class MOVEL_API ManagedObjectType : public StructuredType {
 public:
  explicit ManagedObjectType(const ManagedTypeInfo* record);
  ~ManagedObjectType() override;
  const ManagedTypeInfo* GetRecord() const noexcept { return record_; }
  // The method-object array entries: own methods, then own property reads.
  const std::vector<ManagedMethod*>& GetMethodObjects() const noexcept { return methods_; }
  int GetOwnMethodCount() const noexcept { return ownMethodCount_; }
  // Searches own entries by declared or WSDL name, then the parent chain.
  const ManagedMethod* FindMethod(std::string_view name) const;

 private:
  const ManagedTypeInfo* record_;
  std::vector<ManagedMethod*> methods_;
  int ownMethodCount_;
};

class MOVEL_API EnumType : public Type {
 public:
  EnumType(const EnumTypeInfo* record, const EnumFuncs& funcs);
  const EnumTypeInfo* GetRecord() const noexcept { return record_; }
  const std::vector<std::string>& GetValues() const noexcept { return values_; }
  // The integer of a value string, or -1 when it is not a value.
  int FindValue(std::string_view name) const noexcept;
  // Like FindValue, but an unknown string throws Movel::InvalidEnumValue.
  int ToInt(std::string_view name) const;
  // The string of a value; an integer outside the values throws.
  const std::string& ToName(int value) const;
  const EnumFuncs& GetFuncs() const noexcept { return funcs_; }

 private:
  const EnumTypeInfo* record_;
  EnumFuncs funcs_;
  std::vector<std::string> values_;
};

// Registration calls of the generated loaders. Each makes the type object,
// enters it in the registry and returns it; a managed type also fills its
// record's method-object array.
// A data type's record with the layout of its class.
struct DataRegistration {
  const DataTypeInfo* record;
  const DataLayout* layout;
};
// An enumeration's record with its conversions.
struct EnumRegistration {
  const EnumTypeInfo* record;
  EnumFuncs funcs;
};

// Creates a module's types in slot order, managed types first, then data and
// fault types, then enumerations, storing each type object in the next slot as
// soon as it exists; sets count and returns slots. The body of every
// generated module loader.
MOVEL_API Type const* const* LoadModuleTypes(const ManagedTypeInfo* const* managed, int managedCount,
                                             const DataRegistration* const* data, int dataCount,
                                             const EnumRegistration* const* enums, int enumCount,
                                             Type** slots, int& count);

MOVEL_API DataObjectType* CreateDataObjectType(const DataTypeInfo* record,
                                               const DataLayout* layout = nullptr);
MOVEL_API ManagedObjectType* CreateManagedObjectType(const ManagedTypeInfo* record);
MOVEL_API EnumType* CreateEnumTypeImpl(const EnumTypeInfo* record, const EnumFuncs& funcs);

// Lookup. Names are exact; unknown names give null.
MOVEL_API Type* FindType(std::string_view wireName);
MOVEL_API Type* FindTypeByWsdlName(std::string_view wsdlName);
// Every registered type, in registration order (the runtime's own first).
MOVEL_API std::vector<Type*> GetAllTypes();

// Registers one module of types. Loads the version table when one is given,
// then calls the loader function, which creates the module's types.
class MOVEL_API TypeInfoLoader {
 public:
  using LoaderFunction = Type const* const* (*)(int& count);
  TypeInfoLoader(const char* ns, const TydefVersions* versions, LoaderFunction loader);
};

// What each constructed TypeInfoLoader registered, in construction order.
struct LoadedModule {
  std::string ns;
  const Type* const* types;  // null when the loader registered nothing
  int count;
};
MOVEL_API std::vector<LoadedModule> GetLoadedModules();

// Typed access to registered types; the generated bindings specialise these
// for each of their classes.
template <class T>
DataObjectType* GetDoType();
template <class T>
ManagedObjectType* GetMoType();
template <class T>
EnumType* GetEnumType();

}  // namespace Movel
