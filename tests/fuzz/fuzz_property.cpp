// The property functions by index, with arbitrary indexes and values, through
// the runtime's checked paths: any registered data type, any own property
// index (also outside the type's properties), Get, Peek, Set, Swap, IsSet and
// Unset with slots of the member's kind, and for objects and arrays values of
// any class (the setters check them).
//
// Invariants after every sequence: a copy equals its source, their diff is
// empty, and two copies of a copy have one size; IsSet agrees with Peek; a refused value leaves
// nothing behind (the sanitizer's leak check).
#include <cmath>
#include <string>
#include <vector>

#include "fuzz_values.h"

namespace {

using Basekit::Ref;
using Basekit::System::DateTime;
using Movel::FieldKind;

template <class V>
V Make(FuzzedDataProvider& in) {
  if constexpr (std::is_same<V, std::string>::value || std::is_base_of<Movel::StringValue<V>, V>::value) {
    return V(in.ConsumeRandomLengthString(24));
  } else if constexpr (std::is_same<V, DateTime>::value) {
    return fuzz::AnyDateTime(in);
  } else if constexpr (std::is_same<V, std::vector<unsigned char>>::value) {
    return in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange<std::size_t>(0, 16));
  } else if constexpr (std::is_floating_point<V>::value) {
    // Not a number is never equal to itself, copies included.
    const V v = in.ConsumeFloatingPoint<V>();
    return std::isnan(v) ? V(0) : v;
  } else if constexpr (std::is_same<V, bool>::value) {
    return in.ConsumeBool();
  } else {
    return in.ConsumeIntegral<V>();
  }
}

template <class F>
void WithValueType(FieldKind kind, F&& fn) {
  switch (kind) {
    case FieldKind::kString: return fn(std::string());
    case FieldKind::kBool: return fn(bool());
    case FieldKind::kByte: return fn(static_cast<signed char>(0));
    case FieldKind::kShort: return fn(short());
    case FieldKind::kInt:
    case FieldKind::kEnum: return fn(int());
    case FieldKind::kLong: return fn(static_cast<long long>(0));
    case FieldKind::kFloat: return fn(float());
    case FieldKind::kDouble: return fn(double());
    case FieldKind::kDateTime: return fn(DateTime());
    case FieldKind::kBinary: return fn(std::vector<unsigned char>());
    case FieldKind::kTypeName: return fn(Movel::TypeName());
    case FieldKind::kMethodName: return fn(Movel::MethodName());
    case FieldKind::kPropertyPath: return fn(Movel::PropertyPath());
    case FieldKind::kUri: return fn(Movel::Uri());
    default: return;
  }
}

// One operation on property index of o.
void Operate(FuzzedDataProvider& in, const Movel::DataTypeInfo* rec, const Movel::DataLayout& layout,
             Movel::DataObject* o) {
  const int count = static_cast<int>(layout.count);
  const int index = in.ConsumeIntegralInRange<int>(-2, count + 1);
  const int op = in.ConsumeIntegralInRange<int>(0, 5);
  const bool inside = index >= 0 && index < count;
  const Movel::FieldInfo* f = inside ? &layout.fields[index] : nullptr;
  const bool held = f && (f->kind == FieldKind::kObject || f->kind == FieldKind::kArray);

  if (op == 4) {
    const bool set = rec->propIsSet(o, index);
    const void* peek = rec->propPeek(o, index);
    if (!inside && (!set || peek)) fuzz::Broken("an index outside the type answered");
    if (f && (held || f->optional) && set != (peek != nullptr)) fuzz::Broken("IsSet and Peek disagree");
    return;
  }
  if (op == 5) {
    rec->propUnset(o, index);
    if (f && f->optional && rec->propIsSet(o, index)) fuzz::Broken("Unset left the property set");
    return;
  }
  if (!inside) {
    // Outside the type's properties nothing is touched, whatever the slot.
    int scratch = 0;
    if (op == 0) rec->propGet(o, index, &scratch);
    if (op == 2) rec->propSet(o, index, &scratch);
    if (op == 3) rec->propSwap(o, index, &scratch);
    if (scratch != 0) fuzz::Broken("an index outside the type wrote its slot");
    return;
  }
  if (held) {
    Ref<Movel::Any> value = fuzz::AnyValue(in);
    try {
      if (op == 0) {
        Ref<Movel::Any> out;
        rec->propGet(o, index, &out);
        if (f->kind == FieldKind::kArray && !out) fuzz::Broken("Get of an array gave null");
      } else if (op == 2 || op == 1) {
        Movel::Any* slot = value.Get();
        rec->propSet(o, index, &slot);
      } else {
        Ref<Movel::Any> slot = value;
        rec->propSwap(o, index, &slot);
      }
    } catch (const Basekit::TypeMismatchException&) {
      // Refused: checked before anything changed.
    }
    return;
  }
  WithValueType(f->kind, [&](auto zero) {
    using V = decltype(zero);
    if (op == 0) {
      V out = zero;
      rec->propGet(o, index, &out);
    } else if (op == 1 || op == 2) {
      const V v = Make<V>(in);
      rec->propSet(o, index, &v);
      if (f->kind != FieldKind::kFloat && f->kind != FieldKind::kDouble) {
        V back = zero;
        rec->propGet(o, index, &back);
        if (!(back == v)) fuzz::Broken("Set then Get changed the value");
      }
    } else if (f->kind == FieldKind::kString && f->optional) {
      Movel::OptionalString slot;
      if (in.ConsumeBool()) slot = Make<std::string>(in);
      rec->propSwap(o, index, &slot);
    } else if (f->optional) {
      Basekit::Optional<V> slot;
      if (in.ConsumeBool()) slot = Make<V>(in);
      rec->propSwap(o, index, &slot);
    } else {
      V slot = Make<V>(in);
      rec->propSwap(o, index, &slot);
    }
  });
}

unsigned Granule(unsigned n) { return (n + 15u) & ~15u; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  auto* type = static_cast<Movel::DataObjectType*>(fuzz::Pick(in, fuzz::DataTypes()));
  if (!type || !type->GetLayout()) return 0;
  Ref<Movel::DataObject> o(type->CreateInstance());
  if (!o) return 0;
  for (int step = 0; step < 16 && in.remaining_bytes() > 0; ++step) {
    Operate(in, type->GetRecord(), *type->GetLayout(), o);
  }
  Ref<Movel::Any> copy(o->_Clone());
  if (!Movel::AreEqualAnysInt(o, copy, 0, false)) fuzz::Broken("a copy differs from its source");
  Movel::PropertyDiffSet diff;
  Movel::DiffAnyPropertiesInt(o, copy, "o", 0, diff);
  if (!diff.GetChanged().empty()) fuzz::Broken("a copy has a diff");
  // Sizes count capacities, which differ between a source and its copy
  // (edits grow them; a copied 16-character string gets room for 30): two
  // copies of a copy agree.
  Ref<Movel::Any> again(copy->_Clone());
  if (copy->_GetSize(&Granule) != again->_GetSize(&Granule)) fuzz::Broken("copies differ in size");
  return 0;
}
