// Type objects built from descriptor records.
#include "movel/type.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "internal.h"
#include "movel/errors.h"
#include "movel/version.h"

namespace Movel {
namespace detail {
void AddLoadedModule(LoadedModule module);
}  // namespace detail

// ---------------------------------------------------------------------------
// Type

namespace {
// One shared string per version name: thousands of types name a handful of
// versions, so registration should not copy the name each time.
const std::string* InternVersionName(std::string_view name) {
  static std::mutex* mutex = new std::mutex;
  static auto* names = new std::unordered_map<std::string_view, std::unique_ptr<std::string>>;
  std::lock_guard<std::mutex> lock(*mutex);
  auto it = names->find(name);
  if (it != names->end()) return it->second.get();
  auto owned = std::make_unique<std::string>(name);
  const std::string* result = owned.get();
  names->emplace(std::string_view(*owned), std::move(owned));
  return result;
}
}  // namespace

Type::Type(Word kind, const TypeInfo* info)
    : kind_(kind),
      typeInfo_(info),
      name_(info->name),
      wsdlName_(info->wsdlName),
      versionName_(InternVersionName(info->version ? info->version : "")) {}

Type::Type(Word kind, std::string name, std::string wsdlName, std::string version)
    : kind_(kind),
      typeInfo_(nullptr),
      name_(std::move(name)),
      wsdlName_(std::move(wsdlName)),
      versionName_(InternVersionName(version)) {}

Type::~Type() { delete arrayType_.load(std::memory_order_acquire); }

const Version* Type::GetVersion() const { return FindVersion(*versionName_); }

ArrayType* Type::GetArrayType() const {
  ArrayType* existing = arrayType_.load(std::memory_order_acquire);
  if (existing) return existing;
  auto* made = new ArrayType(this);
  if (arrayType_.compare_exchange_strong(existing, made, std::memory_order_acq_rel)) {
    return made;
  }
  delete made;  // another thread installed one first
  return existing;
}

namespace {
std::string ArrayWsdlName(const std::string& element) {
  std::string name = element;
  if (!name.empty()) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  return "ArrayOf" + name;
}
}  // namespace

ArrayType::ArrayType(const Type* element)
    : Type(element->GetKind(), element->GetName() + "[]", ArrayWsdlName(element->GetWsdlName()),
           element->GetVersionName()),
      element_(element) {}

// ---------------------------------------------------------------------------
// Members

Property::Property(const PropertyInfo& info, const Type* owner, int index)
    : info_(&info), owner_(owner), index_(index), name_(info.name) {}

ManagedMethod::ManagedMethod(const ManagedObjectType* owner, int index, const MethodInfo& info)
    : owner_(owner),
      index_(index),
      info_(&info),
      property_(nullptr),
      name_(info.name),
      wsdlName_(info.wsdlName),
      fullName_(owner->GetName() + "." + info.name),
      privilegeId_(info.privilegeId),
      overrides_(info.privilegeOverrides),
      resultInfo_(info.result),
      result_(resultInfo_),
      flags_(info.flags),
      version_(info.version) {
  for (const ParamInfo* p = info.parameters; p && p->name; ++p) parameters_.emplace_back(*p);
}

ManagedMethod::ManagedMethod(const ManagedObjectType* owner, int index, const Property& property)
    : owner_(owner),
      index_(index),
      info_(nullptr),
      property_(&property),
      name_(property.GetName()),
      wsdlName_(property.GetName()),
      fullName_(owner->GetName() + "." + property.GetName()),
      privilegeId_(property.GetPrivilegeId()),
      overrides_(nullptr),
      resultInfo_{"result", nullptr, property.GetTypeInfo(),
                  property.GetFlags() & (kFlagArray | kFlagOptional | kFlagSecret),
                  property.GetVersionName()},
      result_(resultInfo_),
      flags_(0),
      version_(property.GetVersionName()) {}

const char* ManagedMethod::GetPrivilegeFor(std::string_view typeName) const {
  for (const PrivilegeOverride* o = overrides_; o && o->typeName; ++o) {
    if (typeName == o->typeName) return o->privilegeId;
  }
  return privilegeId_;
}

std::vector<Type*> ManagedMethod::GetFaults() const {
  std::vector<Type*> faults;
  if (info_) {
    for (const TypeInfo* const* f = info_->faults; f && *f; ++f) faults.push_back(GetType(*f));
  }
  return faults;
}

// ---------------------------------------------------------------------------
// Structured types

StructuredType::StructuredType(Word kind, const TypeInfo* info, const TypeInfo* parent,
                               const PropertyInfo* properties)
    : Type(kind, info), parentInfo_(parent), propertyRecords_(properties) {}

const std::vector<Property>& StructuredType::GetOwnProperties() const {
  std::call_once(propertiesMade_, [this] {
    size_t count = 0;
    for (const PropertyInfo* p = propertyRecords_; p && p->name; ++p) ++count;
    properties_.reserve(count);
    int index = 0;
    for (const PropertyInfo* p = propertyRecords_; p && p->name; ++p) {
      properties_.emplace_back(*p, this, index++);
    }
  });
  return properties_;
}

namespace {
// Calls f on t and each structured ancestor, nearest first, until f returns
// true; answers whether it did.
template <class F>
bool AnyLevel(const StructuredType* t, F f) {
  for (const Type* level = t; level;) {
    auto* s = dynamic_cast<const StructuredType*>(level);
    if (!s) return false;
    if (f(s)) return true;
    level = s->GetParent();
  }
  return false;
}
}  // namespace

std::vector<const Property*> StructuredType::GetAllProperties() const {
  std::vector<const StructuredType*> chain;
  AnyLevel(this, [&](const StructuredType* s) {
    chain.push_back(s);
    return false;
  });
  std::vector<const Property*> all;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    for (const Property& p : (*it)->GetOwnProperties()) all.push_back(&p);
  }
  return all;
}

const Property* StructuredType::FindProperty(std::string_view name) const {
  const Property* found = nullptr;
  AnyLevel(this, [&](const StructuredType* s) {
    for (const Property& p : s->GetOwnProperties()) {
      if (p.GetName() == name) {
        found = &p;
        break;
      }
    }
    return found != nullptr;
  });
  return found;
}

bool StructuredType::IsA(const Type* other) const {
  return other == this ||
         AnyLevel(this, [&](const StructuredType* s) { return s->GetParent() == other; });
}

DataObjectType::DataObjectType(const DataTypeInfo* record, const DataLayout* layout)
    : StructuredType(record->typeInfo->kind, record->typeInfo, record->parentTypeInfo,
                     record->properties),
      record_(record),
      layout_(layout) {}

DataObject* DataObjectType::CreateInstance() const {
  return record_->createObject ? record_->createObject() : nullptr;
}

Any* DataObjectType::CreateArrayInstance() const {
  return record_->createArray ? record_->createArray() : nullptr;
}

ManagedObjectType::ManagedObjectType(const ManagedTypeInfo* record)
    : StructuredType(kTypeKindManaged, record->typeInfo, record->parentTypeInfo,
                     record->properties),
      record_(record),
      ownMethodCount_(0) {
  size_t count = GetOwnProperties().size();
  for (const MethodInfo* m = record->methods; m && m->name; ++m) ++count;
  methods_.reserve(count);
  int index = 0;
  for (const MethodInfo* m = record->methods; m && m->name; ++m) {
    methods_.push_back(new ManagedMethod(this, index++, *m));
  }
  ownMethodCount_ = index;
  for (const Property& p : GetOwnProperties()) {
    methods_.push_back(new ManagedMethod(this, index++, p));
  }
}

ManagedObjectType::~ManagedObjectType() {
  for (ManagedMethod* m : methods_) delete m;
}

const ManagedMethod* ManagedObjectType::FindMethod(std::string_view name) const {
  for (const Type* t = this; t;) {
    auto* m = dynamic_cast<const ManagedObjectType*>(t);
    if (!m) break;
    for (const ManagedMethod* method : m->methods_) {
      if (method->GetName() == name || (!method->IsPropertyRead() && method->GetWsdlName() == name)) {
        return method;
      }
    }
    t = m->GetParent();
  }
  return nullptr;
}

EnumType::EnumType(const EnumTypeInfo* record, const EnumFuncs& funcs)
    : Type(kTypeKindEnum, record->typeInfo), record_(record), funcs_(funcs) {
  for (const char* const* v = record->values; v && *v; ++v) values_.emplace_back(*v);
}

int EnumType::FindValue(std::string_view name) const noexcept {
  for (size_t i = 0; i < values_.size(); ++i) {
    if (values_[i] == name) return static_cast<int>(i);
  }
  return -1;
}

int EnumType::ToInt(std::string_view name) const {
  int value = FindValue(name);
  if (value < 0) throw InvalidEnumValue(GetName(), std::string(name));
  return value;
}

const std::string& EnumType::ToName(int value) const {
  if (value < 0 || static_cast<size_t>(value) >= values_.size()) {
    throw InvalidEnumValue(GetName(), std::to_string(value));
  }
  return values_[static_cast<size_t>(value)];
}

// ---------------------------------------------------------------------------
// Registration

DataObjectType* CreateDataObjectType(const DataTypeInfo* record, const DataLayout* layout) {
  auto* type = new DataObjectType(record, layout);
  detail::RegisterType(type);
  return type;
}

Type const* const* LoadModuleTypes(const ManagedTypeInfo* const* managed, int managedCount,
                                   const DataRegistration* const* data, int dataCount,
                                   const EnumRegistration* const* enums, int enumCount,
                                   Type** slots, int& count) {
  int next = 0;
  for (int i = 0; i < managedCount; ++i) slots[next++] = CreateManagedObjectType(managed[i]);
  for (int i = 0; i < dataCount; ++i) {
    slots[next++] = CreateDataObjectType(data[i]->record, data[i]->layout);
  }
  EnumFuncs funcs;  // refilled before each call: the runtime reads it during the call only
  for (int i = 0; i < enumCount; ++i) {
    funcs = enums[i]->funcs;
    slots[next++] = CreateEnumTypeImpl(enums[i]->record, funcs);
  }
  count = next;
  return slots;
}

ManagedObjectType* CreateManagedObjectType(const ManagedTypeInfo* record) {
  auto* type = new ManagedObjectType(record);
  detail::RegisterType(type);
  if (record->methodObjects) {
    const auto& methods = type->GetMethodObjects();
    for (size_t i = 0; i < methods.size(); ++i) record->methodObjects[i] = methods[i];
  }
  return type;
}

EnumType* CreateEnumTypeImpl(const EnumTypeInfo* record, const EnumFuncs& funcs) {
  auto* type = new EnumType(record, funcs);
  detail::RegisterType(type);
  return type;
}

TypeInfoLoader::TypeInfoLoader(const char* ns, const TydefVersions* versions,
                               LoaderFunction loader) {
  if (versions) LoadVersionTable(ns, *versions);
  LoadedModule module{ns ? ns : "", nullptr, 0};
  if (loader) {
    int count = 0;
    module.types = loader(count);
    module.count = count;
  }
  detail::AddLoadedModule(std::move(module));
}

// ---------------------------------------------------------------------------
// Errors

InvalidEnumValue::InvalidEnumValue(const std::string& enumName, const std::string& value)
    : Basekit::Exception("\"" + value + "\" is not a value of enumeration " + enumName),
      enumName_(enumName),
      value_(value) {}
InvalidEnumValue::InvalidEnumValue(const InvalidEnumValue&) = default;
InvalidEnumValue::~InvalidEnumValue() = default;
Basekit::Exception* InvalidEnumValue::Clone() const { return new InvalidEnumValue(*this); }
void InvalidEnumValue::Rethrow() const { throw InvalidEnumValue(*this); }

}  // namespace Movel

#include "movel/managed_object.h"

Movel::ManagedObject::~ManagedObject() = default;
