// Values the fuzzers hand to the runtime: any registered data object (left
// default or partly filled), arrays, boxes of every scalar kind, managed
// object references and null, chosen by the fuzzer's bytes.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kortypes/kortypes.h"

namespace fuzz {

// The registered types of one family, in registration order.
inline std::vector<Movel::Type*> TypesWhere(bool (*keep)(const Movel::Type*)) {
  std::vector<Movel::Type*> out;
  for (Movel::Type* t : Movel::GetAllTypes()) {
    if (keep(t)) out.push_back(t);
  }
  return out;
}

inline const std::vector<Movel::Type*>& DataTypes() {
  static const std::vector<Movel::Type*> types =
      TypesWhere([](const Movel::Type* t) { return t->IsDataObject() && !t->IsArray(); });
  return types;
}
inline const std::vector<Movel::Type*>& EnumTypes() {
  static const std::vector<Movel::Type*> types =
      TypesWhere([](const Movel::Type* t) { return t->IsEnum(); });
  return types;
}
inline const std::vector<Movel::Type*>& ManagedTypes() {
  static const std::vector<Movel::Type*> types =
      TypesWhere([](const Movel::Type* t) { return t->IsManaged(); });
  return types;
}

template <class T>
T* Pick(FuzzedDataProvider& in, const std::vector<T*>& from) {
  if (from.empty()) return nullptr;
  return from[in.ConsumeIntegralInRange<std::size_t>(0, from.size() - 1)];
}

inline Basekit::System::DateTime AnyDateTime(FuzzedDataProvider& in) {
  try {
    return Basekit::System::DateTime(in.ConsumeIntegral<std::int64_t>(), in.ConsumeIntegral<int>());
  } catch (const std::out_of_range&) {
    return Basekit::System::DateTime();
  }
}

// A new value, or null. depth bounds nesting.
inline Basekit::Ref<Movel::Any> AnyValue(FuzzedDataProvider& in, int depth = 0) {
  switch (in.ConsumeIntegralInRange<int>(0, 12)) {
    case 0:
      return nullptr;
    case 1:
      return new Movel::Primitive<int>(in.ConsumeIntegral<int>());
    case 2:
      return new Movel::Primitive<bool>(in.ConsumeBool());
    case 3:
      return new Movel::Primitive<long long>(in.ConsumeIntegral<long long>());
    case 4:
      return new Movel::Primitive<std::string>(in.ConsumeRandomLengthString(32));
    case 5:
      return new Movel::Primitive<Basekit::System::DateTime>(AnyDateTime(in));
    case 6:
      return new Movel::Array<std::string>({in.ConsumeRandomLengthString(16)});
    case 7:
      return new Movel::Array<int>({in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>()});
    case 8: {
      Movel::Type* t = Pick(in, ManagedTypes());
      if (!t) return nullptr;
      Basekit::Ref<Movel::Any> ref = Movel::MakeMoRef(static_cast<Movel::ManagedObjectType*>(t),
                                                      in.ConsumeRandomLengthString(8) + "x");
      return ref;
    }
    case 9: {
      Movel::Type* t = Pick(in, EnumTypes());
      if (!t) return nullptr;
      return static_cast<Movel::EnumType*>(t)->GetFuncs().boxValue(
          in.ConsumeIntegralInRange<int>(0, 1));
    }
    case 10: {
      Movel::Type* t = Pick(in, DataTypes());
      return t ? static_cast<Movel::DataObjectType*>(t)->CreateArrayInstance() : nullptr;
    }
    default: {
      Movel::Type* t = Pick(in, DataTypes());
      if (!t) return nullptr;
      Basekit::Ref<Movel::Any> o(static_cast<Movel::DataObjectType*>(t)->CreateInstance());
      if (o && depth < 2 && in.ConsumeBool()) {
        // One nested value through the checked setter of a random property.
        const Movel::DataTypeInfo* rec = static_cast<Movel::DataObjectType*>(t)->GetRecord();
        const Movel::DataLayout* layout = static_cast<Movel::DataObjectType*>(t)->GetLayout();
        if (layout && layout->count > 0) {
          const int i = in.ConsumeIntegralInRange<int>(0, static_cast<int>(layout->count) - 1);
          const Movel::FieldKind kind = layout->fields[i].kind;
          if (kind == Movel::FieldKind::kObject || kind == Movel::FieldKind::kArray) {
            Basekit::Ref<Movel::Any> nested = AnyValue(in, depth + 1);
            Movel::Any* slot = nested.Get();
            try {
              rec->propSet(static_cast<Movel::DataObject*>(o.Get()), i, &slot);
            } catch (const Basekit::TypeMismatchException&) {
            }
          }
        }
      }
      return o;
    }
  }
}

// Aborts with a message: a broken invariant the fuzzer found.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace fuzz
