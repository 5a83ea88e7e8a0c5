// Enumeration values and their wire strings: every registered enumeration,
// arbitrary text and numbers, single values, boxes and arrays.
//
// Invariants: a known name converts to its number and back to the same name;
// an unknown name or number throws InvalidEnumValue and nothing else; boxes
// and arrays convert both ways without loss; null and foreign boxes give the
// type-mismatch exception.
#include <string>
#include <vector>

#include "fuzz_values.h"
#include "movel/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  auto* type = static_cast<Movel::EnumType*>(fuzz::Pick(in, fuzz::EnumTypes()));
  if (!type) return 0;
  const Movel::EnumFuncs& funcs = type->GetFuncs();
  const std::string text = in.ConsumeRandomLengthString(64);
  const int number = in.ConsumeIntegral<int>();

  const int found = type->FindValue(text);
  try {
    const int value = type->ToInt(text);
    if (value != found || type->ToName(value) != text) fuzz::Broken("name round trip");
  } catch (const Movel::InvalidEnumValue&) {
    if (found >= 0) fuzz::Broken("a known name was refused");
  }
  try {
    const std::string& name = type->ToName(number);
    if (type->ToInt(name) != number) fuzz::Broken("number round trip");
  } catch (const Movel::InvalidEnumValue&) {
    if (number >= 0 && static_cast<std::size_t>(number) < type->GetValues().size()) {
      fuzz::Broken("a known number was refused");
    }
  }

  // Boxes: its own, null, and another value's.
  Basekit::Ref<Movel::Any> box(funcs.boxValue(number));
  if (funcs.unboxValue(box) != number) fuzz::Broken("box round trip");
  Basekit::Ref<Movel::Any> other = fuzz::AnyValue(in);
  for (Movel::Any* candidate : {static_cast<Movel::Any*>(nullptr), other.Get()}) {
    try {
      funcs.unboxValue(candidate);
    } catch (const Basekit::TypeMismatchException&) {
    }
  }

  // Arrays of names and back.
  Basekit::Ref<Movel::Array<std::string>> names(new Movel::Array<std::string>);
  while (in.remaining_bytes() > 0 && names->GetLength() < 16) {
    names->Append(in.ConsumeBool() ? in.ConsumeRandomLengthString(24)
                                   : type->GetValues()[in.ConsumeIntegralInRange<std::size_t>(
                                         0, type->GetValues().size() - 1)]);
  }
  try {
    Basekit::Ref<Movel::Any> values(funcs.arrayFromNames(names, type));
    Basekit::Ref<Movel::Any> back;
    funcs.namesFromArray(values, back, type);
    if (!back || !back->_IsEqual(names, false)) fuzz::Broken("array round trip");
  } catch (const Movel::InvalidEnumValue&) {
    bool anyUnknown = false;
    for (const std::string& n : names->GetValues()) anyUnknown |= type->FindValue(n) < 0;
    if (!anyUnknown) fuzz::Broken("an array of known names was refused");
  }
  try {
    Basekit::Ref<Movel::Any> wrong(funcs.arrayFromNames(other, type));
    Basekit::Ref<Movel::Any> out;
    funcs.namesFromArray(other, out, type);
  } catch (const Basekit::TypeMismatchException&) {
  } catch (const Movel::InvalidEnumValue&) {
  }
  return 0;
}
