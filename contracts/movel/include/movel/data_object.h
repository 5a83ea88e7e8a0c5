// Data objects: structured values described by a data type's properties.
#pragma once

#include <string>

#include "movel/any.h"
#include "movel/array.h"
#include "movel/export.h"
#include "movel/fields.h"
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
// Every derived class, generated or the runtime's own, follows one pattern:
// members per movel/fields.h, described once in a static DataLayout
// `_layout`; the copy constructor, destructor, _IsEqual, _DiffProperties,
// _GetSize and the property functions are thin calls into the table-driven
// operations of movel/fields.h. The members of DynamicData itself count in
// sizes only: comparisons and diffs of derived classes start at their first
// own-member level.
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
  const std::string* GetDynamicType() const noexcept { return dynamicType_.Get(); }
  void SetDynamicType(const std::string& value);
  // Null unsets.
  void SetDynamicType(const std::string* value);

  // Null when absent.
  DataArray<DynamicProperty>* GetDynamicProperty() const noexcept;
  DataArray<DynamicProperty>* GetOrCreateDynamicProperty();
  // Takes a reference on value; null removes the array.
  void SetDynamicProperty(DataArray<DynamicProperty>* value);

  // Bytes owned by the members of DynamicData in o, not counting o itself.
  static unsigned _GetRootMembersSize(const DynamicData* o, RoundFn r);

  static const FieldInfo _fields[];
  static const DataLayout _layout;

 protected:
  DynamicData() noexcept;
  DynamicData(const DynamicData& other);
  DynamicData& operator=(const DynamicData&) = delete;

 private:
  OptionalString dynamicType_;
  std::atomic<DataArray<DynamicProperty>*> dynamicProperty_{nullptr};
};

}  // namespace Movel
