// Data objects: structured values described by a data type's properties.
#pragma once

#include <string>

#include "movel/any.h"
#include "movel/array.h"
#include "movel/data_slots.h"
#include "movel/export.h"
#include "movel/records.h"
#include "movel/type.h"

namespace Movel {

class DynamicData;
class DynamicProperty;

template <>
MOVEL_API DataObjectType* GetDoType<DynamicData>();
template <>
MOVEL_API DataObjectType* GetDoType<DynamicProperty>();

class MOVEL_API DataObject : public Any {
 public:
  ~DataObject() override;
  virtual DataObjectType* _GetDataType() const = 0;

 protected:
  DataObject() noexcept = default;
  DataObject(const DataObject& other) noexcept : Any(other) {}
};

// The root of all data object classes. It holds the two properties every data
// object has: dynamicType, the wire name of a more derived type the sender
// used, and dynamicProperty, properties the receiver's types do not declare.
//
// Each derived class follows the same pattern:
//   - one member per own property (see movel/data_slots.h for member kinds),
//   - a default constructor and a deep copy constructor used by _Clone,
//   - a destructor releasing members in reverse order,
//   - _IsEqual and _DiffProperties calling the parent's first, then comparing
//     own members in declaration order (diff paths JoinPropertyPath(path,
//     name)),
//   - _GetMembersSize(r) = parent's + own members' owned bytes, and
//     _GetSize(r) = r(sizeof(Class)) + _GetMembersSize(r),
//   - _VisitOwnProperty for DataPropertyFunctions<Class>.
class MOVEL_API DynamicData : public DataObject {
 public:
  ~DynamicData() override;

  // "tydef.DynamicData".
  Type* _GetType() const override;
  unsigned _GetSize(RoundFn r) const override;
  Any* _Clone() const override;
  bool _IsEqual(const Any* other, bool lenient) const override;
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override;
  DataObjectType* _GetDataType() const override;

  // Null when unset.
  const std::string* GetDynamicType() const noexcept { return dynamicType_; }
  void SetDynamicType(const std::string& value);
  // Null unsets.
  void SetDynamicType(const std::string* value);

  // Null when absent.
  DataArray<DynamicProperty>* GetDynamicProperty() const noexcept;
  DataArray<DynamicProperty>* GetOrCreateDynamicProperty();
  // Takes a reference on value; null removes the array.
  void SetDynamicProperty(DataArray<DynamicProperty>* value);

  template <class Self, class F>
  static bool _VisitOwnProperty(Self& self, int index, F&& f) {
    switch (index) {
      case 0:
        f(self.dynamicType_, kFlagOptional);
        return true;
      case 1:
        f(self.dynamicProperty_, kFlagOptional | kFlagArray);
        return true;
      default:
        return false;
    }
  }

 protected:
  DynamicData() noexcept;
  DynamicData(const DynamicData& other);
  DynamicData& operator=(const DynamicData&) = delete;
  // Bytes owned by the members of this class and its ancestors, not counting
  // the object itself.
  unsigned _GetMembersSize(RoundFn r) const;

 private:
  std::string* dynamicType_;
  DataArray<DynamicProperty>* dynamicProperty_;
};

// The eight functions of a data type record, for a class C that provides
//   template <class Self, class F>
//   static bool _VisitOwnProperty(Self& self, int index, F&& f);
// which calls f(member, flags) for own property index and returns true, or
// returns false for an index it does not have. Indexes out of range are
// no-ops: Peek gives null and IsSet true.
template <class C>
struct DataPropertyFunctions {
  static void Get(DataObject* o, int i, void* out) {
    C::_VisitOwnProperty(static_cast<C&>(*o), i, [out](auto& m, Word) { slot::Get(m, out); });
  }
  static const void* Peek(const DataObject* o, int i) {
    const void* result = nullptr;
    C::_VisitOwnProperty(static_cast<const C&>(*o), i,
                         [&result](const auto& m, Word) { result = slot::Peek(m); });
    return result;
  }
  static void Set(DataObject* o, int i, const void* in) {
    C::_VisitOwnProperty(static_cast<C&>(*o), i, [in](auto& m, Word) { slot::Set(m, in); });
  }
  static void Swap(DataObject* o, int i, void* inout) {
    C::_VisitOwnProperty(static_cast<C&>(*o), i,
                         [inout](auto& m, Word) { slot::Swap(m, inout); });
  }
  static bool IsSet(const DataObject* o, int i) {
    bool result = true;
    C::_VisitOwnProperty(static_cast<const C&>(*o), i,
                         [&result](const auto& m, Word) { result = slot::IsSet(m); });
    return result;
  }
  static void Unset(DataObject* o, int i) {
    C::_VisitOwnProperty(static_cast<C&>(*o), i,
                         [](auto& m, Word flags) { slot::Unset(m, flags); });
  }
  static DataObject* Create() { return new C; }
  static Any* CreateArray() { return new DataArray<C>; }
};

}  // namespace Movel
