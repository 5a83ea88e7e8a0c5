// Copies of values as a peer of an older version sees them.
#include "movel/wire.h"

#include "movel/data_types.h"
#include "wire_internal.h"

namespace Movel {
namespace wire {
namespace {

// Puts a member back to its empty state: unset when optional, the zero value
// (or null) when required.
void ResetMember(DataObject* o, const Member& m) {
  const FieldInfo& f = *m.field;
  switch (f.kind) {
    case FieldKind::kObject:
      AssignObject(MemberAt<Any*>(o, f), static_cast<Any*>(nullptr));
      return;
    case FieldKind::kArray:
      AssignArray(MemberAt<std::atomic<Any*>>(o, f), static_cast<Any*>(nullptr));
      return;
    case FieldKind::kString:
      if (f.optional) {
        UnsetOptionalString(MemberAt<OptionalString>(o, f));
      } else {
        MemberAt<std::string>(o, f).clear();
      }
      return;
    default:
      break;
  }
  switch (f.kind) {
#define MOVEL_WIRE_RESET(K, V)                                      \
  case FieldKind::K: {                                              \
    using T = V;                                                    \
    if (f.optional) {                                               \
      MemberAt<Basekit::Optional<T>>(o, f) = Basekit::Optional<T>(); \
    } else {                                                        \
      MemberAt<T>(o, f) = T();                                      \
    }                                                               \
    return;                                                         \
  }
    MOVEL_WIRE_RESET(kBool, bool)
    MOVEL_WIRE_RESET(kByte, signed char)
    MOVEL_WIRE_RESET(kShort, short)
    MOVEL_WIRE_RESET(kInt, int)
    MOVEL_WIRE_RESET(kLong, long long)
    MOVEL_WIRE_RESET(kFloat, float)
    MOVEL_WIRE_RESET(kDouble, double)
    MOVEL_WIRE_RESET(kEnum, int)
    MOVEL_WIRE_RESET(kDateTime, Basekit::System::DateTime)
    MOVEL_WIRE_RESET(kBinary, std::vector<unsigned char>)
    MOVEL_WIRE_RESET(kTypeName, TypeName)
    MOVEL_WIRE_RESET(kMethodName, MethodName)
    MOVEL_WIRE_RESET(kPropertyPath, PropertyPath)
    MOVEL_WIRE_RESET(kUri, Uri)
#undef MOVEL_WIRE_RESET
    default:
      return;
  }
}

class Filter {
 public:
  explicit Filter(const Version& version) : gate_(&version) {}

  // A new value (one reference held by the result), or null when the
  // version has no form of it.
  Basekit::Ref<Any> Value(const Any* v) {
    if (!v) return nullptr;
    if (const auto* o = dynamic_cast<const DataObject*>(v)) return Basekit::Ref<Any>(Data(o).Get());
    if (const auto* refs = dynamic_cast<const DataArrayBase*>(v)) {
      Basekit::Ref<Any> copy(refs->_Clone());
      auto* items = static_cast<DataArrayBase*>(copy.Get());
      for (int i = 0; i < items->GetLength(); ++i) {
        Basekit::Ref<Any> filtered = Value(items->GetAt(i));
        try {
          items->SetAt(i, filtered);
        } catch (const Basekit::TypeMismatchException&) {
          items->SetAt(i, nullptr);
        }
      }
      return copy;
    }
    // Boxes, references and arrays of values: only enumerations are
    // versioned among them.
    Slot slot = SlotOfValue(v);
    if (slot.kind == ValueKind::kEnum && slot.type && !gate_.AllowsType(slot.type)) return nullptr;
    return Basekit::Ref<Any>(v->_Clone());
  }

  Basekit::Ref<DataObject> Data(const DataObject* o) {
    const DataObjectType* type = gate_.WireType(o->_GetDataType());
    if (!type) return nullptr;
    Basekit::Ref<DataObject> copy(type->CreateInstance());
    if (!copy) return nullptr;
    const Plan& plan = PlanOf(type);
    // The members of the levels the copy's class shares with the source sit
    // at the same places in both.
    for (const DataLayout* level : plan.levels) CopyFields(copy, o, *level);
    for (const Member& m : plan.members) {
      if (!gate_.Allows(m.version)) {
        ResetMember(copy, m);
        continue;
      }
      // Values, and arrays of values, are versioned by their property only.
      if (IsScalar(m.slot.kind)) continue;
      if (m.field->kind != FieldKind::kObject && m.field->kind != FieldKind::kArray) continue;
      const Any* held = m.field->kind == FieldKind::kObject
                            ? MemberAt<Any*>(copy.Get(), *m.field)
                            : MemberAt<std::atomic<Any*>>(copy.Get(), *m.field).load();
      if (!held) continue;
      Basekit::Ref<Any> filtered = Value(held);
      Any* narrowed = filtered;
      try {
        if (m.field->narrow) narrowed = m.field->narrow(filtered);
      } catch (const Basekit::TypeMismatchException&) {
        narrowed = nullptr;
      }
      if (m.field->kind == FieldKind::kObject) {
        AssignObject(MemberAt<Any*>(copy.Get(), *m.field), narrowed);
      } else {
        AssignArray(MemberAt<std::atomic<Any*>>(copy.Get(), *m.field), narrowed);
      }
    }
    return copy;
  }

 private:
  VersionGate gate_;
};

}  // namespace
}  // namespace wire

Basekit::Ref<Any> FilterToVersion(const Any* value, const Version& version) {
  return wire::Filter(version).Value(value);
}

}  // namespace Movel
