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
  Any* GetVal() const noexcept { return slot::Load(val_); }
  // Takes a reference on value; null clears.
  void SetVal(Any* value) { slot::Assign(val_, value); }

  template <class Self, class F>
  static bool _VisitOwnProperty(Self& self, int index, F&& f) {
    switch (index) {
      case 0:
        f(self.name_, Word{0});
        return true;
      case 1:
        f(self.val_, Word{0});
        return true;
      default:
        return false;
    }
  }

 protected:
  DynamicProperty(const DynamicProperty& other);
  unsigned _GetMembersSize(RoundFn r) const;

 private:
  std::string name_;
  Any* val_;
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
  Any* GetValue() const noexcept { return slot::Load(value_); }
  // Takes a reference on value; null clears.
  void SetValue(Any* value) { slot::Assign(value_, value); }

  template <class Self, class F>
  static bool _VisitOwnProperty(Self& self, int index, F&& f) {
    switch (index) {
      case 0:
        f(self.key_, Word{0});
        return true;
      case 1:
        f(self.value_, Word{0});
        return true;
      default:
        return false;
    }
  }

 protected:
  KeyAnyValue(const KeyAnyValue& other);
  unsigned _GetMembersSize(RoundFn r) const;

 private:
  std::string key_;
  Any* value_;
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
  DataArray<KeyAnyValue>* GetArg() const noexcept { return slot::Load(arg_); }
  DataArray<KeyAnyValue>* GetOrCreateArg() { return slot::GetOrCreate(arg_); }
  // Takes a reference on value; null removes the array.
  void SetArg(DataArray<KeyAnyValue>* value) { slot::Assign(arg_, value); }

  // Null when unset.
  const std::string* GetMessage() const noexcept { return message_; }
  void SetMessage(const std::string& value) { slot::SetOptional(message_, &value); }
  // Null unsets.
  void SetMessage(const std::string* value) { slot::SetOptional(message_, value); }

  template <class Self, class F>
  static bool _VisitOwnProperty(Self& self, int index, F&& f) {
    switch (index) {
      case 0:
        f(self.key_, Word{0});
        return true;
      case 1:
        f(self.arg_, kFlagOptional | kFlagArray);
        return true;
      case 2:
        f(self.message_, kFlagOptional);
        return true;
      default:
        return false;
    }
  }

 protected:
  LocalizableMessage(const LocalizableMessage& other);
  unsigned _GetMembersSize(RoundFn r) const;

 private:
  std::string key_;
  DataArray<KeyAnyValue>* arg_;
  std::string* message_;
};

}  // namespace Movel
