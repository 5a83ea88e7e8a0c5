// The runtime's own data types: name/value pairs and localizable messages.
#pragma once

#include <string>

#include "movel/data_object.h"
#include "movel/export.h"

namespace Movel {

class KeyAnyValue;
class LocalizableMessage;

template <>
MOVEL_API DataObjectType* GetDoType<DynamicProperty>();
template <>
MOVEL_API DataObjectType* GetDoType<KeyAnyValue>();
template <>
MOVEL_API DataObjectType* GetDoType<LocalizableMessage>();

// A property a data object carries beyond those its type declares.
class MOVEL_API DynamicProperty : public DynamicData {
 public:
  DynamicProperty() noexcept;
  DynamicProperty(std::string name, Any* val);
  ~DynamicProperty() override;

  Type* _GetType() const override;
  unsigned _GetSize(RoundFn r) const override;
  Any* _Clone() const override;
  bool _IsEqual(const Any* other, bool lenient) const override;
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override;
  DataObjectType* _GetDataType() const override;

  const std::string& GetName() const noexcept { return name_; }
  void SetName(const std::string& value) { name_ = value; }
  Any* GetVal() const noexcept { return val_; }
  // Takes a reference on value; null clears.
  void SetVal(Any* value) { AssignObject(val_, value); }

  static const FieldInfo _fields[];
  static const DataLayout _layout;

 protected:
  DynamicProperty(const DynamicProperty& other);

 private:
  std::string name_;
  Any* val_ = nullptr;
};

// A key with a value of any type, such as a message argument.
class MOVEL_API KeyAnyValue : public DynamicData {
 public:
  KeyAnyValue() noexcept;
  KeyAnyValue(std::string key, Any* value);
  ~KeyAnyValue() override;

  Type* _GetType() const override;
  unsigned _GetSize(RoundFn r) const override;
  Any* _Clone() const override;
  bool _IsEqual(const Any* other, bool lenient) const override;
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override;
  DataObjectType* _GetDataType() const override;

  const std::string& GetKey() const noexcept { return key_; }
  void SetKey(const std::string& value) { key_ = value; }
  Any* GetValue() const noexcept { return value_; }
  // Takes a reference on value; null clears.
  void SetValue(Any* value) { AssignObject(value_, value); }

  static const FieldInfo _fields[];
  static const DataLayout _layout;

 protected:
  KeyAnyValue(const KeyAnyValue& other);

 private:
  std::string key_;
  Any* value_ = nullptr;
};

// A message identified by a catalog key, with its arguments and, optionally,
// the text already rendered in the server's locale.
class MOVEL_API LocalizableMessage : public DynamicData {
 public:
  LocalizableMessage() noexcept;
  explicit LocalizableMessage(std::string key);
  ~LocalizableMessage() override;

  Type* _GetType() const override;
  unsigned _GetSize(RoundFn r) const override;
  Any* _Clone() const override;
  bool _IsEqual(const Any* other, bool lenient) const override;
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override;
  DataObjectType* _GetDataType() const override;

  const std::string& GetKey() const noexcept { return key_; }
  void SetKey(const std::string& value) { key_ = value; }

  // Null when absent.
  DataArray<KeyAnyValue>* GetArg() const noexcept { return arg_.load(std::memory_order_acquire); }
  DataArray<KeyAnyValue>* GetOrCreateArg() { return GetOrCreateArray(arg_); }
  // Takes a reference on value; null removes the array.
  void SetArg(DataArray<KeyAnyValue>* value) { AssignArray(arg_, value); }

  // Null when unset.
  const std::string* GetMessage() const noexcept { return message_.Get(); }
  void SetMessage(const std::string& value) { SetOptionalString(message_, value); }
  // Null unsets.
  void SetMessage(const std::string* value) {
    if (value) {
      SetOptionalString(message_, *value);
    } else {
      UnsetOptionalString(message_);
    }
  }

  static const FieldInfo _fields[];
  static const DataLayout _layout;

 protected:
  LocalizableMessage(const LocalizableMessage& other);

 private:
  std::string key_;
  std::atomic<DataArray<KeyAnyValue>*> arg_{nullptr};
  OptionalString message_;
};

}  // namespace Movel
