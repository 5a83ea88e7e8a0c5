// The data object root and the runtime's own data types.
#include "movel/data_object.h"

#include "internal.h"

#include "movel/builtin.h"
#include "movel/data_types.h"

namespace Movel {

DataObject::~DataObject() = default;

// ---- DynamicData ----

DynamicData::DynamicData() noexcept = default;

// Most objects carry neither a dynamic type nor dynamic properties; their
// copies and destruction skip the walk over these two members.
DynamicData::DynamicData(const DynamicData& other) : DataObject(other) {
  if (other.dynamicType_ || other.dynamicProperty_.load(std::memory_order_acquire)) {
    CopyFields(this, &other, _layout);
  }
}

DynamicData::~DynamicData() {
  if (dynamicType_ || dynamicProperty_.load(std::memory_order_acquire)) ReleaseFields(this, _layout);
}

Type* DynamicData::_GetType() const { return GetDoType<DynamicData>(); }
DataObjectType* DynamicData::_GetDataType() const { return GetDoType<DynamicData>(); }

unsigned DynamicData::_GetRootMembersSize(const DynamicData* o, RoundFn r) {
  unsigned total = 0;
  if (o->dynamicType_) total += r(static_cast<unsigned>(sizeof(std::string))) + GetExtraSize(r, *o->dynamicType_);
  if (const Any* a = o->dynamicProperty_.load(std::memory_order_acquire)) total += a->_GetSize(r);
  return total;
}

unsigned DynamicData::_GetSize(RoundFn r) const {
  return r(static_cast<unsigned>(sizeof(DynamicData))) + _GetRootMembersSize(this, r);
}

Any* DynamicData::_Clone() const { return new DynamicData(*this); }

bool DynamicData::_IsEqual(const Any* other, bool lenient) const {
  return FieldsEqual(this, static_cast<const DataObject*>(other), _layout, lenient);
}

void DynamicData::_DiffProperties(const Any* other, const std::string& path,
                                  PropertyDiffSet& set) const {
  DiffFields(this, static_cast<const DataObject*>(other), path, set, _layout);
}

void DynamicData::SetDynamicType(const std::string& value) { SetOptionalString(dynamicType_, value); }
void DynamicData::SetDynamicType(const std::string* value) {
  if (value) {
    SetOptionalString(dynamicType_, *value);
  } else {
    UnsetOptionalString(dynamicType_);
  }
}

DataArray<DynamicProperty>* DynamicData::GetDynamicProperty() const noexcept {
  return dynamicProperty_.load(std::memory_order_acquire);
}

DataArray<DynamicProperty>* DynamicData::GetOrCreateDynamicProperty() {
  return GetOrCreateArray(dynamicProperty_);
}

void DynamicData::SetDynamicProperty(DataArray<DynamicProperty>* value) {
  AssignArray(dynamicProperty_, value);
}

// ---- the runtime's own data classes: thin entries into the layout ----

#define MOVEL_DEFINE_LAYOUT_OPERATIONS(Name)                            \
  MOVEL_DEFINE_LAYOUT_MEMBERS(Name, DynamicData)                          \
  Type* Name::_GetType() const { return GetDoType<Name>(); }              \
  DataObjectType* Name::_GetDataType() const { return GetDoType<Name>(); } \
  Any* Name::_Clone() const { return new Name(*this); }

MOVEL_DEFINE_LAYOUT_OPERATIONS(DynamicProperty)
MOVEL_DEFINE_LAYOUT_OPERATIONS(KeyAnyValue)
MOVEL_DEFINE_LAYOUT_OPERATIONS(LocalizableMessage)
#undef MOVEL_DEFINE_LAYOUT_OPERATIONS

DynamicProperty::DynamicProperty() noexcept = default;
DynamicProperty::DynamicProperty(std::string name, Any* val) : name_(std::move(name)) {
  AssignObject(val_, val);
}

KeyAnyValue::KeyAnyValue() noexcept = default;
KeyAnyValue::KeyAnyValue(std::string key, Any* value) : key_(std::move(key)) {
  AssignObject(value_, value);
}

LocalizableMessage::LocalizableMessage() noexcept = default;
LocalizableMessage::LocalizableMessage(std::string key) : key_(std::move(key)) {}

}  // namespace Movel
