// Runtime-internal hooks shared by the runtime's own sources.
#pragma once

#include "movel/fields.h"
#include "movel/type.h"

// The members of a runtime data class Name (on Parent) that run from its
// layout: copy constructor, destructor, size, equality and diff.
#define MOVEL_DEFINE_LAYOUT_MEMBERS(Name, Parent)                                        \
  Name::Name(const Name& other) : Parent(other) { CopyFields(this, &other, _layout); }   \
  Name::~Name() { ReleaseFields(this, _layout); }                                        \
  unsigned Name::_GetSize(RoundFn r) const { return FieldsSize(this, _layout, r); }      \
  bool Name::_IsEqual(const Any* other, bool lenient) const {                            \
    return FieldsEqual(this, static_cast<const DataObject*>(other), _layout, lenient);   \
  }                                                                                      \
  void Name::_DiffProperties(const Any* other, const std::string& path,                  \
                             PropertyDiffSet& set) const {                               \
    DiffFields(this, static_cast<const DataObject*>(other), path, set, _layout);         \
  }

namespace Movel {
namespace detail {

// Enters a type in the registry. A second type with the same wire name, the
// same WSDL name within its kind family, or the same record is a fatal error:
// the generator guarantees uniqueness, so a clash means two libraries describe
// one type.
void RegisterType(Type* type);

}  // namespace detail
}  // namespace Movel
