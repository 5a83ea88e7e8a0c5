// One-line messages of faults and events, from the types' templates or from
// their properties.
#include "movel/message.h"

#include <mutex>
#include <shared_mutex>
#include <string>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "basekit/object.h"
#include "internal.h"
#include "movel/array.h"
#include "movel/builtin.h"
#include "movel/data_object.h"
#include "movel/data_types.h"
#include "movel/fault.h"
#include "movel/moref.h"
#include "movel/type.h"

namespace Movel {
namespace {

// Templates by type record. Registered while libraries load, read from any
// thread afterwards.
struct Templates {
  std::shared_mutex mutex;
  std::unordered_map<const TypeInfo*, const char*> byType;
};

Templates& TheTemplates() {
  // Never destroyed: faults may be rendered from static destructors.
  static Templates* templates = new Templates;
  return *templates;
}

const char* Lookup(const Type* type) {
  const TypeInfo* info = type ? type->GetTypeInfo() : nullptr;
  if (!info) return nullptr;
  Templates& t = TheTemplates();
  std::shared_lock<std::shared_mutex> lock(t.mutex);
  auto it = t.byType.find(info);
  return it == t.byType.end() ? nullptr : it->second;
}

const Type* ParentOf(const Type* type) {
  const auto* structured = dynamic_cast<const StructuredType*>(type);
  return structured ? structured->GetParent() : nullptr;
}

// Nested objects deeper than this show as "{...}"; causes and nested faults
// past it are cut as "...".
constexpr int kMaxDepth = 3;
constexpr int kMaxCauses = 8;
// Arrays show this many elements, then how many more there are.
constexpr std::size_t kMaxElements = 8;

// The short name of a type: the last component of its wire name.
std::string ShortName(const Type* type) {
  if (!type) return "?";
  const std::string& name = type->GetName();
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

// Properties every data object or fault has from the runtime's roots: the
// sender's dynamic type and extra properties, a fault's cause and messages.
// The default rendering shows the cause and the messages in their own way.
bool IsRootProperty(const Property& p) {
  const std::string& owner = p.GetOwner()->GetName();
  return owner == "tydef.DynamicData" || owner == "tydef.MethodFault";
}

const void* Peek(const DataObject* object, const Property& p) {
  const auto* owner = static_cast<const DataObjectType*>(p.GetOwner());
  const DataTypeInfo* record = owner ? owner->GetRecord() : nullptr;
  if (!record || !record->propPeek) return nullptr;
  return record->propPeek(object, p.GetIndex());
}

// Whether a property keeps its value inline (strings, numbers, enumerations,
// ...) rather than as an object or array.
bool HeldAsValue(const Property& p) {
  const TypeInfo* info = p.GetTypeInfo();
  return !p.IsArray() && info &&
         (info->kind == kTypeKindEnum ||
          (info->kind == kTypeKindPrimitive && info != &gAnyTypeInfo));
}

bool IsEmptyText(const Property& p, const void* peeked) {
  return HeldAsValue(p) && p.GetTypeInfo() == &gStringTypeInfo &&
         static_cast<const std::string*>(peeked)->empty();
}

class Renderer {
 public:
  Renderer(std::string& out, std::string_view exclude) : out_(out), exclude_(exclude) {}

  // The template of the object's type or nearest ancestor, else the default;
  // then the cause of a fault.
  void Message(const DataObject* object, int depth) {
    if (!object) {
      out_ += "null";
      return;
    }
    if (depth > kMaxCauses) {
      out_ += "...";
      return;
    }
    const char* text = FindMessageTemplate(object->_GetDataType());
    if (text) {
      Template(object, text, depth);
    } else {
      Default(object, depth);
    }
    Cause(object, depth);
  }

  void Template(const DataObject* object, std::string_view text, int depth) {
    std::size_t i = 0;
    while (i < text.size()) {
      char c = text[i];
      if ((c == '{' || c == '}') && i + 1 < text.size() && text[i + 1] == c) {
        out_ += c;
        i += 2;
        continue;
      }
      if (c == '{') {
        std::size_t end = text.find('}', i + 1);
        std::size_t nested = text.find('{', i + 1);
        if (end != std::string_view::npos && (nested == std::string_view::npos || nested > end)) {
          Argument(object, Trim(text.substr(i + 1, end - i - 1)), depth);
          i = end + 1;
          continue;
        }
      }
      // Text, and a lone brace of a template the generator did not check.
      out_ += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
      ++i;
    }
  }

  // "Name: a=1, b=\"x\"" over the set properties.
  void Default(const DataObject* object, int depth) {
    const DataObjectType* type = object->_GetDataType();
    if (!type) {
      out_ += Basekit::DemangleTypeName(typeid(*object).name());
      return;
    }
    out_ += ShortName(type);
    const std::size_t head = out_.size();
    bool first = true;
    for (const Property* p : type->GetAllProperties()) {
      if (IsRootProperty(*p) || p->GetName() == exclude_) continue;
      const void* peeked = Peek(object, *p);
      // Unset values and empty texts say nothing.
      if (!peeked || IsEmptyText(*p, peeked)) continue;
      out_ += first ? ": " : ", ";
      first = false;
      out_ += p->GetName() + "=";
      if (p->IsSecret()) {
        out_ += "<secret>";
      } else {
        PropertyValue(*p, peeked, false, depth);
      }
    }
    FaultMessages(object, out_.size() == head);
  }

 private:
  static std::string_view Trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
  }

  // The value at a dotted path below object.
  void Argument(const DataObject* object, std::string_view path, int depth) {
    const std::string name(path);
    const DataObject* holder = object;
    std::string_view rest = path;
    while (true) {
      std::size_t dot = rest.find('.');
      std::string_view segment = rest.substr(0, dot);
      const DataObjectType* type = holder->_GetDataType();
      const Property* p = type ? type->FindProperty(segment) : nullptr;
      if (!p || segment.empty()) {
        out_ += "<" + name + " unknown>";
        return;
      }
      if (p->IsSecret()) {
        out_ += "<secret>";
        return;
      }
      const void* peeked = Peek(holder, *p);
      if (!peeked) {
        out_ += "<" + name + " unset>";
        return;
      }
      if (dot == std::string_view::npos) {
        if (IsEmptyText(*p, peeked)) {
          out_ += "<" + name + " empty>";
        } else {
          PropertyValue(*p, peeked, true, depth);
        }
        return;
      }
      const auto* next =
          HeldAsValue(*p) || p->IsArray()
              ? nullptr
              : dynamic_cast<const DataObject*>(static_cast<const Any*>(peeked));
      if (!next) {
        out_ += "<" + name + " unknown>";
        return;
      }
      holder = next;
      rest = rest.substr(dot + 1);
    }
  }

  void PropertyValue(const Property& p, const void* peeked, bool bare, int depth) {
    if (!HeldAsValue(p)) {
      AnyValue(static_cast<const Any*>(peeked), bare, depth);
      return;
    }
    const TypeInfo* info = p.GetTypeInfo();
    if (info->kind == kTypeKindEnum) {
      out_ += detail::EnumValueName(dynamic_cast<const EnumType*>(p.GetType()),
                                    *static_cast<const int*>(peeked));
      return;
    }
    std::string text;
    if (detail::FormatPrimitive(info->name, peeked, text, !bare)) {
      out_ += text;
    } else {
      out_ += std::string("<") + info->name + ">";
    }
  }

  // bare: as a template argument (texts as they are); otherwise as a value
  // in the default rendering (texts quoted, objects with their properties).
  void AnyValue(const Any* v, bool bare, int depth) {
    if (!v) {
      out_ += "null";
      return;
    }
    std::string text;
    if (const auto* ref = dynamic_cast<const MoRef*>(v)) {
      out_ += bare ? ref->GetId() : ref->ToString();
    } else if (const auto* fault = dynamic_cast<const MethodFault*>(v)) {
      if (bare) {
        Message(fault, depth + 1);
      } else {
        Nested(fault, depth);
      }
    } else if (const auto* message = dynamic_cast<const LocalizableMessage*>(v)) {
      const std::string& shown = message->GetMessage() ? *message->GetMessage() : message->GetKey();
      out_ += bare ? detail::OneLine(shown) : detail::Quote(shown);
    } else if (const auto* data = dynamic_cast<const DataObject*>(v)) {
      if (bare) {
        Message(data, depth + 1);
      } else {
        Nested(data, depth);
      }
    } else if (const auto* objects = dynamic_cast<const DataArrayBase*>(v)) {
      Elements(objects->GetItems(), bare, depth);
    } else if (dynamic_cast<const Collection*>(v)) {
      std::vector<std::string> items;
      if (!detail::FormatValueArray(v, items, !bare)) {
        out_ += "<values>";
        return;
      }
      List(items, bare);
    } else if (detail::FormatBoxed(v, text, !bare)) {
      out_ += text;
    } else {
      out_ += "<value>";
    }
  }

  // "Name{a=1, b=2}", or "Name{...}" past the depth limit.
  void Nested(const DataObject* data, int depth) {
    const DataObjectType* type = data->_GetDataType();
    out_ += ShortName(type) + "{";
    if (depth >= kMaxDepth) {
      out_ += "...}";
      return;
    }
    bool first = true;
    if (type) {
      for (const Property* p : type->GetAllProperties()) {
        if (p->GetOwner()->GetName() == "tydef.DynamicData") continue;
        const void* peeked = Peek(data, *p);
        if (!peeked || IsEmptyText(*p, peeked)) continue;
        if (!first) out_ += ", ";
        first = false;
        out_ += p->GetName() + "=";
        if (p->IsSecret()) {
          out_ += "<secret>";
        } else {
          PropertyValue(*p, peeked, false, depth + 1);
        }
      }
    }
    out_ += "}";
  }

  void Elements(const std::vector<Any*>& elements, bool bare, int depth) {
    if (!bare) out_ += "[";
    for (std::size_t i = 0; i < elements.size() && i < kMaxElements; ++i) {
      if (i) out_ += ", ";
      AnyValue(elements[i], bare, depth + 1);
    }
    More(elements.size());
    if (!bare) out_ += "]";
  }

  void List(const std::vector<std::string>& items, bool bare) {
    if (!bare) out_ += "[";
    for (std::size_t i = 0; i < items.size() && i < kMaxElements; ++i) {
      if (i) out_ += ", ";
      out_ += items[i];
    }
    More(items.size());
    if (!bare) out_ += "]";
  }

  void More(std::size_t count) {
    if (count > kMaxElements) {
      out_ += ", ... (" + std::to_string(count - kMaxElements) + " more)";
    }
  }

  // A fault's messages as the server sent them: their texts (or keys).
  void FaultMessages(const DataObject* object, bool nothingShown) {
    const auto* fault = dynamic_cast<const MethodFault*>(object);
    const DataArray<LocalizableMessage>* messages = fault ? fault->GetFaultMessage() : nullptr;
    if (!messages) return;
    bool first = true;
    for (const LocalizableMessage* m : *messages) {
      if (!m) continue;
      const std::string& shown = m->GetMessage() ? *m->GetMessage() : m->GetKey();
      if (shown.empty()) continue;
      out_ += first ? (nothingShown ? ": " : "; ") : "; ";
      first = false;
      out_ += detail::OneLine(shown);
    }
  }

  void Cause(const DataObject* object, int depth) {
    const auto* fault = dynamic_cast<const MethodFault*>(object);
    const MethodFault* cause = fault ? fault->GetFaultCause() : nullptr;
    if (!cause) return;
    out_ += " (caused by: ";
    Message(cause, depth + 1);
    out_ += ")";
  }

  std::string& out_;
  std::string_view exclude_;
};

}  // namespace

void RegisterMessageTemplates(const MessageTemplate* table, int count) {
  if (!table || count <= 0) return;
  Templates& t = TheTemplates();
  std::unique_lock<std::shared_mutex> lock(t.mutex);
  for (int i = 0; i < count; ++i) {
    if (!table[i].type) continue;
    if (table[i].text) {
      t.byType[table[i].type] = table[i].text;
    } else {
      t.byType.erase(table[i].type);
    }
  }
}

const char* GetMessageTemplate(const Type* type) { return Lookup(type); }

const char* FindMessageTemplate(const Type* type, const Type** owner) {
  for (const Type* t = type; t; t = ParentOf(t)) {
    if (const char* text = Lookup(t)) {
      if (owner) *owner = t;
      return text;
    }
  }
  if (owner) *owner = nullptr;
  return nullptr;
}

std::string RenderMessage(const DataObject* object) {
  std::string out;
  Renderer(out, {}).Message(object, 0);
  return out;
}

std::string RenderTemplate(const DataObject* object, std::string_view text) {
  std::string out;
  if (!object) return "null";
  Renderer(out, {}).Template(object, text, 0);
  return out;
}

std::string RenderDefault(const DataObject* object) {
  std::string out;
  if (!object) return "null";
  Renderer(out, {}).Default(object, 0);
  return out;
}

bool FillFormattedMessage(DataObject* object, std::string_view property) {
  const DataObjectType* type = object ? object->_GetDataType() : nullptr;
  const Property* p = type ? type->FindProperty(property) : nullptr;
  if (!p || p->IsArray() || p->GetTypeInfo() != &gStringTypeInfo) return false;
  const auto* owner = static_cast<const DataObjectType*>(p->GetOwner());
  const DataTypeInfo* record = owner ? owner->GetRecord() : nullptr;
  if (!record || !record->propSet) return false;
  std::string line;
  Renderer renderer(line, property);
  if (const char* text = FindMessageTemplate(type)) {
    renderer.Template(object, text, 0);
  } else {
    renderer.Default(object, 0);
  }
  record->propSet(object, p->GetIndex(), &line);
  return true;
}

}  // namespace Movel
