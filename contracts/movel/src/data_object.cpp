// The data object root and the runtime's own data types.
#include "movel/data_object.h"

#include "movel/builtin.h"
#include "movel/data_types.h"

namespace Movel {

DataObject::~DataObject() = default;

// ---- DynamicData ----

DynamicData::DynamicData() noexcept : dynamicType_(nullptr), dynamicProperty_(nullptr) {}

DynamicData::DynamicData(const DynamicData& other)
    : DataObject(other), dynamicType_(nullptr), dynamicProperty_(nullptr) {
  slot::Copy(dynamicType_, other.dynamicType_);
  try {
    slot::Copy(dynamicProperty_, other.dynamicProperty_);
  } catch (...) {
    slot::Release(dynamicType_);
    throw;
  }
}

DynamicData::~DynamicData() {
  slot::Release(dynamicProperty_);
  slot::Release(dynamicType_);
}

Type* DynamicData::_GetType() const { return GetDoType<DynamicData>(); }
DataObjectType* DynamicData::_GetDataType() const { return GetDoType<DynamicData>(); }

unsigned DynamicData::_GetMembersSize(RoundFn r) const {
  return slot::OwnedSize(r, dynamicType_) + slot::OwnedSize(r, dynamicProperty_);
}

unsigned DynamicData::_GetSize(RoundFn r) const {
  return r(static_cast<unsigned>(sizeof(DynamicData))) + _GetMembersSize(r);
}

Any* DynamicData::_Clone() const { return new DynamicData(*this); }

bool DynamicData::_IsEqual(const Any* other, bool lenient) const {
  const auto* o = dynamic_cast<const DynamicData*>(other);
  return o && slot::Equal(dynamicType_, o->dynamicType_, kFlagOptional, lenient) &&
         slot::Equal(dynamicProperty_, o->dynamicProperty_, kFlagOptional | kFlagArray, lenient);
}

void DynamicData::_DiffProperties(const Any* other, const std::string& path,
                                  PropertyDiffSet& set) const {
  const auto* o = dynamic_cast<const DynamicData*>(other);
  if (!o) {
    set.Append(path);
    return;
  }
  slot::Diff(dynamicType_, o->dynamicType_, JoinPropertyPath(path, "dynamicType"), kFlagOptional,
             set);
  slot::Diff(dynamicProperty_, o->dynamicProperty_, JoinPropertyPath(path, "dynamicProperty"),
             kFlagOptional | kFlagArray, set);
}

void DynamicData::SetDynamicType(const std::string& value) {
  slot::SetOptional(dynamicType_, &value);
}
void DynamicData::SetDynamicType(const std::string* value) {
  slot::SetOptional(dynamicType_, value);
}

DataArray<DynamicProperty>* DynamicData::GetDynamicProperty() const noexcept {
  return slot::Load(dynamicProperty_);
}

DataArray<DynamicProperty>* DynamicData::GetOrCreateDynamicProperty() {
  return slot::GetOrCreate(dynamicProperty_);
}

void DynamicData::SetDynamicProperty(DataArray<DynamicProperty>* value) {
  slot::Assign(dynamicProperty_, value);
}

// ---- DynamicProperty ----

DynamicProperty::DynamicProperty() noexcept : val_(nullptr) {}

DynamicProperty::DynamicProperty(std::string name, Any* val) : name_(std::move(name)), val_(nullptr) {
  slot::Assign(val_, val);
}

DynamicProperty::DynamicProperty(const DynamicProperty& other)
    : DynamicData(other), name_(other.name_), val_(nullptr) {
  slot::Copy(val_, other.val_);
}

DynamicProperty::~DynamicProperty() { slot::Release(val_); }

Type* DynamicProperty::_GetType() const { return GetDoType<DynamicProperty>(); }
DataObjectType* DynamicProperty::_GetDataType() const { return GetDoType<DynamicProperty>(); }

unsigned DynamicProperty::_GetMembersSize(RoundFn r) const {
  return DynamicData::_GetMembersSize(r) + slot::OwnedSize(r, name_) + slot::OwnedSize(r, val_);
}

unsigned DynamicProperty::_GetSize(RoundFn r) const {
  return r(static_cast<unsigned>(sizeof(DynamicProperty))) + _GetMembersSize(r);
}

Any* DynamicProperty::_Clone() const { return new DynamicProperty(*this); }

bool DynamicProperty::_IsEqual(const Any* other, bool lenient) const {
  const auto* o = dynamic_cast<const DynamicProperty*>(other);
  return o && DynamicData::_IsEqual(other, lenient) && slot::Equal(name_, o->name_, 0, lenient) &&
         slot::Equal(val_, o->val_, 0, lenient);
}

void DynamicProperty::_DiffProperties(const Any* other, const std::string& path,
                                      PropertyDiffSet& set) const {
  const auto* o = dynamic_cast<const DynamicProperty*>(other);
  if (!o) {
    set.Append(path);
    return;
  }
  DynamicData::_DiffProperties(other, path, set);
  slot::Diff(name_, o->name_, JoinPropertyPath(path, "name"), 0, set);
  slot::Diff(val_, o->val_, JoinPropertyPath(path, "val"), 0, set);
}

// ---- KeyAnyValue ----

KeyAnyValue::KeyAnyValue() noexcept : value_(nullptr) {}

KeyAnyValue::KeyAnyValue(std::string key, Any* value) : key_(std::move(key)), value_(nullptr) {
  slot::Assign(value_, value);
}

KeyAnyValue::KeyAnyValue(const KeyAnyValue& other)
    : DynamicData(other), key_(other.key_), value_(nullptr) {
  slot::Copy(value_, other.value_);
}

KeyAnyValue::~KeyAnyValue() { slot::Release(value_); }

Type* KeyAnyValue::_GetType() const { return GetDoType<KeyAnyValue>(); }
DataObjectType* KeyAnyValue::_GetDataType() const { return GetDoType<KeyAnyValue>(); }

unsigned KeyAnyValue::_GetMembersSize(RoundFn r) const {
  return DynamicData::_GetMembersSize(r) + slot::OwnedSize(r, key_) + slot::OwnedSize(r, value_);
}

unsigned KeyAnyValue::_GetSize(RoundFn r) const {
  return r(static_cast<unsigned>(sizeof(KeyAnyValue))) + _GetMembersSize(r);
}

Any* KeyAnyValue::_Clone() const { return new KeyAnyValue(*this); }

bool KeyAnyValue::_IsEqual(const Any* other, bool lenient) const {
  const auto* o = dynamic_cast<const KeyAnyValue*>(other);
  return o && DynamicData::_IsEqual(other, lenient) && slot::Equal(key_, o->key_, 0, lenient) &&
         slot::Equal(value_, o->value_, 0, lenient);
}

void KeyAnyValue::_DiffProperties(const Any* other, const std::string& path,
                                  PropertyDiffSet& set) const {
  const auto* o = dynamic_cast<const KeyAnyValue*>(other);
  if (!o) {
    set.Append(path);
    return;
  }
  DynamicData::_DiffProperties(other, path, set);
  slot::Diff(key_, o->key_, JoinPropertyPath(path, "key"), 0, set);
  slot::Diff(value_, o->value_, JoinPropertyPath(path, "value"), 0, set);
}

// ---- LocalizableMessage ----

LocalizableMessage::LocalizableMessage() noexcept : arg_(nullptr), message_(nullptr) {}

LocalizableMessage::LocalizableMessage(std::string key)
    : key_(std::move(key)), arg_(nullptr), message_(nullptr) {}

LocalizableMessage::LocalizableMessage(const LocalizableMessage& other)
    : DynamicData(other), key_(other.key_), arg_(nullptr), message_(nullptr) {
  slot::Copy(arg_, other.arg_);
  try {
    slot::Copy(message_, other.message_);
  } catch (...) {
    slot::Release(arg_);
    throw;
  }
}

LocalizableMessage::~LocalizableMessage() {
  slot::Release(message_);
  slot::Release(arg_);
}

Type* LocalizableMessage::_GetType() const { return GetDoType<LocalizableMessage>(); }
DataObjectType* LocalizableMessage::_GetDataType() const {
  return GetDoType<LocalizableMessage>();
}

unsigned LocalizableMessage::_GetMembersSize(RoundFn r) const {
  return DynamicData::_GetMembersSize(r) + slot::OwnedSize(r, key_) + slot::OwnedSize(r, arg_) +
         slot::OwnedSize(r, message_);
}

unsigned LocalizableMessage::_GetSize(RoundFn r) const {
  return r(static_cast<unsigned>(sizeof(LocalizableMessage))) + _GetMembersSize(r);
}

Any* LocalizableMessage::_Clone() const { return new LocalizableMessage(*this); }

bool LocalizableMessage::_IsEqual(const Any* other, bool lenient) const {
  const auto* o = dynamic_cast<const LocalizableMessage*>(other);
  return o && DynamicData::_IsEqual(other, lenient) && slot::Equal(key_, o->key_, 0, lenient) &&
         slot::Equal(arg_, o->arg_, kFlagOptional | kFlagArray, lenient) &&
         slot::Equal(message_, o->message_, kFlagOptional, lenient);
}

void LocalizableMessage::_DiffProperties(const Any* other, const std::string& path,
                                         PropertyDiffSet& set) const {
  const auto* o = dynamic_cast<const LocalizableMessage*>(other);
  if (!o) {
    set.Append(path);
    return;
  }
  DynamicData::_DiffProperties(other, path, set);
  slot::Diff(key_, o->key_, JoinPropertyPath(path, "key"), 0, set);
  slot::Diff(arg_, o->arg_, JoinPropertyPath(path, "arg"), kFlagOptional | kFlagArray, set);
  slot::Diff(message_, o->message_, JoinPropertyPath(path, "message"), kFlagOptional, set);
}

}  // namespace Movel
