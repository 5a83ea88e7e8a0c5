// The readable dump of values. Data objects are walked through their type's
// property functions, so any registered data class prints without code of its
// own.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <typeinfo>
#include <vector>

#include "movel/any.h"
#include "movel/array.h"
#include "movel/builtin.h"
#include "movel/data_object.h"
#include "movel/fault.h"
#include "movel/message.h"
#include "movel/moref.h"
#include "movel/primitive.h"
#include "movel/type.h"
#include "internal.h"

namespace Movel {
namespace {

// Deeper nesting than this is cut short; real data never gets there, a
// reference cycle would.
constexpr int kMaxDepth = 64;

}  // namespace

namespace detail {

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string OneLine(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return out;
}

bool FormatPrimitive(const std::string& kind, const void* p, std::string& out, bool quote) {
  auto text = [quote](const std::string& s) { return quote ? Quote(s) : OneLine(s); };
  if (kind == "string") {
    out = text(*static_cast<const std::string*>(p));
  } else if (kind == "boolean") {
    out = *static_cast<const bool*>(p) ? "true" : "false";
  } else if (kind == "byte") {
    out = std::to_string(static_cast<int>(*static_cast<const signed char*>(p)));
  } else if (kind == "short") {
    out = std::to_string(*static_cast<const short*>(p));
  } else if (kind == "int") {
    out = std::to_string(*static_cast<const int*>(p));
  } else if (kind == "long") {
    out = std::to_string(*static_cast<const long long*>(p));
  } else if (kind == "float" || kind == "double") {
    char buf[40];
    double d = kind == "float" ? *static_cast<const float*>(p) : *static_cast<const double*>(p);
    std::snprintf(buf, sizeof buf, quote ? "%.17g" : "%g", d);
    out = buf;
  } else if (kind == "dateTime") {
    out = static_cast<const Basekit::System::DateTime*>(p)->ToString();
  } else if (kind == "binary") {
    out = "<" + std::to_string(static_cast<const std::vector<unsigned char>*>(p)->size()) +
          " bytes>";
  } else if (kind == "typeName") {
    out = text(static_cast<const TypeName*>(p)->str());
  } else if (kind == "methodName") {
    out = text(static_cast<const MethodName*>(p)->str());
  } else if (kind == "propertyPath") {
    out = text(static_cast<const PropertyPath*>(p)->str());
  } else if (kind == "uri") {
    out = text(static_cast<const Uri*>(p)->str());
  } else {
    return false;
  }
  return true;
}

std::string EnumValueName(const EnumType* type, int value) {
  if (type && value >= 0 && static_cast<std::size_t>(value) < type->GetValues().size()) {
    return type->GetValues()[static_cast<std::size_t>(value)];
  }
  return "<enum value " + std::to_string(value) + ">";
}

}  // namespace detail

namespace {

using detail::FormatPrimitive;
using detail::Quote;

template <class T>
bool FormatBox(const Any* v, const std::string& kind, std::string& out, bool quote) {
  const auto* box = dynamic_cast<const Primitive<T>*>(v);
  if (!box) return false;
  return FormatPrimitive(kind, &box->GetValue(), out, quote);
}

template <class T>
bool FormatArray(const Any* v, const std::string& kind, std::vector<std::string>& items,
                 bool quote) {
  const auto* array = dynamic_cast<const Array<T>*>(v);
  if (!array) return false;
  for (const T& element : array->GetValues()) {
    std::string text;
    FormatPrimitive(kind, &element, text, quote);
    items.push_back(std::move(text));
  }
  return true;
}

template <>
bool FormatArray<bool>(const Any* v, const std::string& kind, std::vector<std::string>& items,
                       bool quote) {
  const auto* array = dynamic_cast<const Array<bool>*>(v);
  if (!array) return false;
  for (bool element : array->GetValues()) {
    std::string text;
    FormatPrimitive(kind, &element, text, quote);
    items.push_back(std::move(text));
  }
  return true;
}

template <class... T>
bool FormatAnyBox(const Any* v, const std::string& kind, std::string& out, bool quote) {
  return (FormatBox<T>(v, kind, out, quote) || ...);
}

template <class... T>
bool FormatAnyArray(const Any* v, const std::string& kind, std::vector<std::string>& items,
                    bool quote) {
  return (FormatArray<T>(v, kind, items, quote) || ...);
}

#define MOVEL_PRIMITIVE_TYPES                                                             \
  bool, signed char, short, int, long long, float, double, std::string,                   \
      Basekit::System::DateTime, std::vector<unsigned char>, TypeName, MethodName, PropertyPath, \
      Uri

}  // namespace

namespace detail {

bool FormatBoxed(const Any* v, std::string& out, bool quote) {
  const Type* type = v ? v->_GetType() : nullptr;
  if (!type) return false;
  if (const auto* enumType = dynamic_cast<const EnumType*>(type)) {
    // unboxValue reads the integer without checking it against the values.
    out = EnumValueName(enumType, enumType->GetFuncs().unboxValue(const_cast<Any*>(v)));
    return true;
  }
  return FormatAnyBox<MOVEL_PRIMITIVE_TYPES>(v, type->GetName(), out, quote);
}

bool FormatValueArray(const Any* v, std::vector<std::string>& items, bool quote) {
  const auto* arrayType = v ? dynamic_cast<const ArrayType*>(v->_GetType()) : nullptr;
  const Type* element = arrayType ? arrayType->GetElementType() : nullptr;
  if (const auto* enumType = dynamic_cast<const EnumType*>(element)) {
    Basekit::Ref<Any> names;
    try {
      enumType->GetFuncs().namesFromArray(const_cast<Any*>(v), names, enumType);
    } catch (const Basekit::Exception&) {
      // A value outside the enumeration: the conversion refuses the whole
      // array, and its elements cannot be reached one by one.
      const auto* values = dynamic_cast<const Collection*>(v);
      items.assign(1, "<" + std::to_string(values ? values->GetLength() : 0) +
                          " values, not all in " + enumType->GetName() + ">");
      return true;
    }
    const auto* strings = dynamic_cast<const Array<std::string>*>(names.Get());
    if (!strings) return false;
    items = strings->GetValues();
    return true;
  }
  return element && FormatAnyArray<MOVEL_PRIMITIVE_TYPES>(v, element->GetName(), items, quote);
}

}  // namespace detail

namespace {

class Printer {
 public:
  explicit Printer(std::string& out) : out_(out) {}

  void Value(const Any* v, int depth) {
    if (!v) {
      out_ += "null";
      return;
    }
    if (depth > kMaxDepth) {
      out_ += "...";
      return;
    }
    const Type* type = v->_GetType();
    std::string typeName =
        type ? type->GetName() : Basekit::DemangleTypeName(typeid(*v).name());
    if (const auto* data = dynamic_cast<const DataObject*>(v)) {
      DataObjectValue(data, typeName, depth);
    } else if (const auto* refs = dynamic_cast<const DataArrayBase*>(v)) {
      std::vector<const Any*> items(refs->GetItems().begin(), refs->GetItems().end());
      Sequence(typeName, items, depth);
    } else if (const auto* ref = dynamic_cast<const MoRef*>(v)) {
      out_ += "(" + typeName + ") '" + ref->ToString() + "'";
    } else if (dynamic_cast<const Collection*>(v)) {
      ValueArray(v, typeName, depth);
    } else {
      Box(v, typeName);
    }
  }

 private:
  void Indent(int depth) { out_.append(static_cast<std::size_t>(depth) * 3, ' '); }

  void DataObjectValue(const DataObject* data, const std::string& typeName, int depth) {
    out_ += "(" + typeName + ") ";
    // A fault shows the line its exception carries.
    if (dynamic_cast<const MethodFault*>(data)) out_ += Quote(RenderMessage(data)) + " ";
    out_ += "{";
    const DataObjectType* type = data->_GetDataType();
    if (!type) {
      out_ += " <type not registered> }";
      return;
    }
    std::vector<const Property*> properties = type->GetAllProperties();
    if (properties.empty()) {
      out_ += "}";
      return;
    }
    out_ += "\n";
    for (std::size_t i = 0; i < properties.size(); ++i) {
      const Property* property = properties[i];
      Indent(depth + 1);
      out_ += property->GetName() + " = ";
      PropertyValue(data, *property, depth + 1);
      out_ += i + 1 < properties.size() ? ",\n" : "\n";
    }
    Indent(depth);
    out_ += "}";
  }

  void PropertyValue(const DataObject* data, const Property& property, int depth) {
    const auto* owner = static_cast<const DataObjectType*>(property.GetOwner());
    const DataTypeInfo* record = owner ? owner->GetRecord() : nullptr;
    if (!record || !record->propPeek) {
      out_ += "<no property functions>";
      return;
    }
    const void* peeked = record->propPeek(data, property.GetIndex());
    if (!peeked) {
      out_ += "unset";
      return;
    }
    if (property.IsSecret()) {
      out_ += "<secret>";
      return;
    }
    // A link holds its target's key (a list of keys), not the target.
    const TypeInfo* info = property.IsLink() ? &gStringTypeInfo : property.GetTypeInfo();
    bool heldAsValue = !property.IsArray() && info &&
                       (info->kind == kTypeKindEnum ||
                        (info->kind == kTypeKindPrimitive && info != &gAnyTypeInfo));
    if (!heldAsValue) {
      Value(static_cast<const Any*>(peeked), depth);
      return;
    }
    if (info->kind == kTypeKindEnum) {
      // Enumeration members hold the value's integer.
      const auto* enumType = dynamic_cast<const EnumType*>(property.GetType());
      out_ += detail::EnumValueName(enumType, *static_cast<const int*>(peeked));
      return;
    }
    std::string text;
    if (FormatPrimitive(info->name, peeked, text, true)) {
      out_ += text;
    } else {
      out_ += std::string("<") + info->name + ">";
    }
  }

  void ValueArray(const Any* v, const std::string& typeName, int depth) {
    std::vector<std::string> items;
    bool known = detail::FormatValueArray(v, items, true);
    if (!known) {
      out_ += "(" + typeName + ") <elements not printable>";
      return;
    }
    out_ += "(" + typeName + ") [";
    if (items.empty()) {
      out_ += "]";
      return;
    }
    out_ += "\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
      Indent(depth + 1);
      out_ += items[i];
      out_ += i + 1 < items.size() ? ",\n" : "\n";
    }
    Indent(depth);
    out_ += "]";
  }

  void Sequence(const std::string& typeName, const std::vector<const Any*>& items, int depth) {
    out_ += "(" + typeName + ") [";
    if (items.empty()) {
      out_ += "]";
      return;
    }
    out_ += "\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
      Indent(depth + 1);
      Value(items[i], depth + 1);
      out_ += i + 1 < items.size() ? ",\n" : "\n";
    }
    Indent(depth);
    out_ += "]";
  }

  void Box(const Any* v, const std::string& typeName) {
    out_ += "(" + typeName + ") ";
    std::string text;
    if (detail::FormatBoxed(v, text, true)) {
      out_ += text;
    } else {
      out_ += "<value>";
    }
  }

  std::string& out_;
};

}  // namespace

std::string DebugString(const Any* value) {
  std::string out;
  try {
    Printer(out).Value(value, 0);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    // Nothing the printer reads is expected to throw; should a value's own
    // code do so, the dump ends with the reason instead of failing.
    out += std::string(" <not printable: ") + e.what() + ">";
  }
  return out;
}

}  // namespace Movel
