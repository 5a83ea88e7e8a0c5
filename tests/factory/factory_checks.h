// Checks of what a factory built, read through the runtime's descriptors and
// layouts (the way a generic client sees an object), so a check names the
// wire property and does not depend on how the class holds it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <string>

#include "kortypes/kortypes.h"

namespace factory_checks {

inline const Movel::Property* Find(const Movel::DataObject* o, const std::string& name) {
  const Movel::Property* p = o->_GetDataType()->FindProperty(name);
  EXPECT_NE(p, nullptr) << o->_GetDataType()->GetName() << " has no property " << name;
  return p;
}

inline const Movel::DataTypeInfo* RecordOf(const Movel::Property* p) {
  return static_cast<const Movel::DataObjectType*>(p->GetOwner())->GetRecord();
}

// The runtime's answer to "is it set" (an empty list counts as unset).
inline bool IsSet(const Movel::DataObject* o, const std::string& name) {
  const Movel::Property* p = Find(o, name);
  return p && RecordOf(p)->propIsSet(o, p->GetIndex());
}

// The list a list property holds, or null when it is absent. Reads the member
// through the class's layout, so an absent list is not created by looking.
inline const Movel::Collection* HeldList(const Movel::DataObject* o, const std::string& name) {
  const Movel::Property* p = Find(o, name);
  if (!p) return nullptr;
  EXPECT_TRUE(p->IsArray()) << name << " is not a list";
  const Movel::DataLayout* layout =
      static_cast<const Movel::DataObjectType*>(p->GetOwner())->GetLayout();
  if (!layout) return nullptr;
  const Movel::FieldInfo& f = layout->fields[p->GetIndex()];
  const auto* member =
      reinterpret_cast<const std::atomic<Movel::Any*>*>(reinterpret_cast<const char*>(o) + f.offset);
  return static_cast<const Movel::Collection*>(member->load());
}

// The held object of an object property (null when unset).
inline const Movel::Any* HeldObject(const Movel::DataObject* o, const std::string& name) {
  const Movel::Property* p = Find(o, name);
  if (!p) return nullptr;
  return static_cast<const Movel::Any*>(RecordOf(p)->propPeek(o, p->GetIndex()));
}

inline ::testing::AssertionResult EmptyLists(const Movel::DataObject* o,
                                            std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const Movel::Collection* list = HeldList(o, name);
    if (!list) return ::testing::AssertionFailure() << name << " is absent, not an empty list";
    if (list->GetLength() != 0)
      return ::testing::AssertionFailure() << name << " holds " << list->GetLength() << " entries";
  }
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult AbsentLists(const Movel::DataObject* o,
                                             std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (HeldList(o, name)) return ::testing::AssertionFailure() << name << " is present";
  }
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult Unset(const Movel::DataObject* o,
                                       std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (IsSet(o, name)) return ::testing::AssertionFailure() << name << " is set";
  }
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult Set(const Movel::DataObject* o,
                                     std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (!IsSet(o, name)) return ::testing::AssertionFailure() << name << " is unset";
  }
  return ::testing::AssertionSuccess();
}

// The wire name of a value's type.
inline std::string WireName(const Movel::Any* value) {
  return value ? value->_GetType()->GetName() : std::string("null");
}

}  // namespace factory_checks
