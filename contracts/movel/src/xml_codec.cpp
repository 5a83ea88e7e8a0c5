// The XML encoding. Writing is done by hand into one string; reading goes
// through libxml2's streaming reader, set up for untrusted input: no network,
// no external entities, no entity substitution, the library's own size and
// depth limits kept, and any document type declaration or entity reference
// refused outright.
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>

#include <cstring>
#include <mutex>

#include "movel/data_types.h"
#include "movel/fault.h"
#include "wire_internal.h"

namespace Movel {
namespace wire {
namespace {

constexpr const char kXsiNamespace[] = "http://www.w3.org/2001/XMLSchema-instance";
constexpr const char kRootNamespaces[] =
    " xmlns=\"urn:kor\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
constexpr const char kSecretText[] = "(secret)";

// ---------------------------------------------------------------------------
// Writing

class XmlWriter {
 public:
  XmlWriter(std::string& out, const EncodeOptions& options)
      : out_(out), options_(options), gate_(options.peerVersion) {}

  const VersionGate& Gate() const { return gate_; }

  // Character data; with attr, fit for a double-quoted attribute value.
  void Escaped(std::string_view s, bool attr) {
    const char* p = s.data();
    const char* end = p + s.size();
    const char* run = p;
    for (; p != end; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      const char* rep = nullptr;
      if (c == '&') {
        rep = "&amp;";
      } else if (c == '<') {
        rep = "&lt;";
      } else if (c == '>') {
        rep = "&gt;";
      } else if (c == '"' && attr) {
        rep = "&quot;";
      } else if (c < 0x20) {
        if (c == '\r') {
          rep = "&#13;";
        } else if (c == '\n' && attr) {
          rep = "&#10;";
        } else if (c == '\t' && attr) {
          rep = "&#9;";
        } else if (c != '\n' && c != '\t') {
          throw WireError(WireError::Kind::kWrongType, "/",
                          "a text holds control character " + std::to_string(c) +
                              ", which XML cannot carry");
        }
      }
      if (rep) {
        out_.append(run, p);
        out_ += rep;
        run = p + 1;
      }
    }
    out_.append(run, end);
  }

  void OpenStart(std::string_view name) {
    out_ += '<';
    out_ += name;
  }
  void Attr(const char* name, std::string_view value) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    Escaped(value, true);
    out_ += '"';
  }
  void Close(std::string_view name) {
    out_ += "</";
    out_ += name;
    out_ += '>';
  }
  void Raw(std::string_view s) { out_ += s; }

  // <name>text</name> for a scalar held at p.
  void ScalarElement(std::string_view name, const Slot& slot, const void* p, const char* xsiType) {
    OpenStart(name);
    if (xsiType) Attr("xsi:type", xsiType);
    out_ += '>';
    ScalarText(slot, p);
    Close(name);
  }

  void ScalarText(const Slot& slot, const void* p) {
    if (slot.secret && options_.maskSecrets) {
      out_ += kSecretText;
      return;
    }
    if (slot.kind == ValueKind::kString) {
      Escaped(*static_cast<const std::string*>(p), false);
      return;
    }
    if (slot.kind <= ValueKind::kDouble && slot.kind != ValueKind::kString) {
      AppendScalar(out_, slot.kind, p, slot.type);  // nothing to escape
      return;
    }
    scratch_.clear();
    AppendScalar(scratch_, slot.kind, p, slot.type);
    Escaped(scratch_, false);
  }

  // A data object in a place declared as `declared` (null: any).
  void Data(std::string_view name, const DataObject* o, const Type* declared, bool nsDecl) {
    const DataObjectType* actual = o->_GetDataType();
    const DataObjectType* wireType = gate_.WireType(actual);
    if (!wireType) {
      Nil(name, nsDecl);
      return;
    }
    OpenStart(name);
    if (nsDecl) Raw(kRootNamespaces);
    if (wireType != declared) Attr("xsi:type", wireType->GetWsdlName());
    out_ += '>';
    Members(o, PlanOf(wireType));
    Close(name);
  }

  void Members(const DataObject* o, const Plan& plan) {
    for (const Member& m : plan.members) {
      if (!gate_.Open() && !gate_.Allows(m.version)) continue;
      const void* p = PeekMember(o, m);
      if (!p) continue;
      if (m.slot.array) {
        Slot element = m.slot;
        element.array = false;
        Elements(m.name, element, static_cast<const Any*>(p));
      } else if (IsScalar(m.slot.kind)) {
        ScalarElement(m.name, m.slot, p, nullptr);
      } else {
        Single(m.name, m.slot, static_cast<const Any*>(p), false);
      }
    }
  }

  // Each element of an array as its own element named `name`.
  void Elements(std::string_view name, const Slot& element, const Any* array) {
    ForEachElement(
        array, element, [&](const void* p) { ScalarElement(name, element, p, nullptr); },
        [&](const Any* item) {
          if (item) {
            Single(name, element, item, false);
          } else {
            Nil(name, false);
          }
        });
  }

  void Nil(std::string_view name, bool nsDecl) {
    OpenStart(name);
    if (nsDecl) Raw(kRootNamespaces);
    Raw(" xsi:nil=\"true\"/>");
  }

  void Reference(std::string_view name, const MoRef* ref, bool named, bool nsDecl) {
    OpenStart(name);
    if (nsDecl) Raw(kRootNamespaces);
    if (named) Attr("xsi:type", kMoRefWireName);
    Attr("type", ref->GetType() ? ref->GetType()->GetWsdlName() : std::string("ManagedObject"));
    if (const std::string* guid = ref->GetServerGuid()) Attr("serverGuid", *guid);
    out_ += '>';
    Escaped(ref->GetId(), false);
    Close(name);
  }

  // One value in a place of the given slot (not an array).
  void Single(std::string_view name, const Slot& slot, const Any* v, bool nsDecl) {
    if (!v) {
      Nil(name, nsDecl);
      return;
    }
    switch (slot.kind) {
      case ValueKind::kData:
        if (const auto* o = dynamic_cast<const DataObject*>(v)) {
          Data(name, o, slot.type, nsDecl);
          return;
        }
        break;
      case ValueKind::kMoRef:
        if (const auto* ref = dynamic_cast<const MoRef*>(v)) {
          Reference(name, ref, false, nsDecl);
          return;
        }
        break;
      case ValueKind::kAny:
        AnyValue(name, v, nsDecl);
        return;
      default:
        if (BoxedScalar(name, slot, v, nullptr, nsDecl)) return;
        break;
    }
    throw WireError(WireError::Kind::kWrongType, "/" + std::string(name),
                    "a value of type " + v->ToString() + " where " + WireTypeName(slot) +
                        " is declared");
  }

  // A box of slot's kind written as text; false when v is not such a box.
  bool BoxedScalar(std::string_view name, const Slot& slot, const Any* v, const char* xsiType,
                   bool nsDecl) {
    const void* p = nullptr;
    int enumValue = 0;
    switch (slot.kind) {
#define MOVEL_WIRE_BOX(K, T)                                             \
  case ValueKind::K:                                                     \
    if (const auto* b = dynamic_cast<const Primitive<T>*>(v)) p = &b->GetValue(); \
    break;
      MOVEL_WIRE_BOX(kString, std::string)
      MOVEL_WIRE_BOX(kBool, bool)
      MOVEL_WIRE_BOX(kByte, signed char)
      MOVEL_WIRE_BOX(kShort, short)
      MOVEL_WIRE_BOX(kInt, int)
      MOVEL_WIRE_BOX(kLong, long long)
      MOVEL_WIRE_BOX(kFloat, float)
      MOVEL_WIRE_BOX(kDouble, double)
      MOVEL_WIRE_BOX(kDateTime, Basekit::System::DateTime)
      MOVEL_WIRE_BOX(kBinary, std::vector<unsigned char>)
      MOVEL_WIRE_BOX(kTypeName, TypeName)
      MOVEL_WIRE_BOX(kMethodName, MethodName)
      MOVEL_WIRE_BOX(kPropertyPath, PropertyPath)
      MOVEL_WIRE_BOX(kUri, Uri)
#undef MOVEL_WIRE_BOX
      case ValueKind::kEnum:
        if (slot.type && v->_GetType() == slot.type) {
          enumValue = static_cast<const EnumType*>(slot.type)->GetFuncs().unboxValue(const_cast<Any*>(v));
          p = &enumValue;
        }
        break;
      default:
        break;
    }
    if (!p) return false;
    OpenStart(name);
    if (nsDecl) Raw(kRootNamespaces);
    if (xsiType) Attr("xsi:type", xsiType);
    out_ += '>';
    ScalarText(slot, p);
    Close(name);
    return true;
  }

  // A value in a place of any type: it names its type.
  void AnyValue(std::string_view name, const Any* v, bool nsDecl) {
    if (const auto* o = dynamic_cast<const DataObject*>(v)) {
      Data(name, o, nullptr, nsDecl);
      return;
    }
    if (const auto* ref = dynamic_cast<const MoRef*>(v)) {
      Reference(name, ref, true, nsDecl);
      return;
    }
    Slot slot = SlotOfValue(v);
    if (slot.kind == ValueKind::kEnum && !gate_.AllowsType(slot.type)) {
      Nil(name, nsDecl);
      return;
    }
    const std::string typeName = WireTypeName(slot);
    if (slot.array) {
      OpenStart(name);
      if (nsDecl) Raw(kRootNamespaces);
      Attr("xsi:type", typeName);
      out_ += '>';
      Slot element = slot;
      element.array = false;
      Elements(ElementNameOf(element), element, v);
      Close(name);
      return;
    }
    if (slot.kind != ValueKind::kAny && BoxedScalar(name, slot, v, typeName.c_str(), nsDecl)) return;
    throw WireError(WireError::Kind::kWrongType, "/" + std::string(name),
                    "a value of class " + v->ToString() + " has no wire form");
  }

  // The element name of array items in a place of any type.
  static std::string ElementNameOf(const Slot& element) { return WireTypeName(element); }

 private:
  std::string& out_;
  const EncodeOptions& options_;
  VersionGate gate_;
  std::string scratch_;
};

// ---------------------------------------------------------------------------
// Reading

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

class XmlReader {
 public:
  XmlReader(DecodeContext& ctx, std::string_view document) : ctx_(ctx) {
    ctx_.CheckMessage(document.size());
    if (document.empty()) ctx_.Fail(WireError::Kind::kTruncated, "the document is empty");
    InitLibrary();
    // No network, no loading of external subsets or entities, no entity
    // substitution; CDATA sections arrive as text. XML_PARSE_HUGE stays off,
    // which keeps the library's own limits on names, texts and depth.
    const int options = XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_NOWARNING;
    reader_ = xmlReaderForMemory(document.data(), static_cast<int>(document.size()), nullptr,
                                 "UTF-8", options);
    if (!reader_) ctx_.Fail(WireError::Kind::kMalformed, "the XML reader could not start");
    xmlTextReaderSetStructuredErrorHandler(reader_, &XmlReader::OnError, this);
  }
  ~XmlReader() {
    if (reader_) xmlFreeTextReader(reader_);
  }
  XmlReader(const XmlReader&) = delete;
  XmlReader& operator=(const XmlReader&) = delete;

  // Advances one node; false at the end of the document.
  bool Read() {
    const int r = xmlTextReaderRead(reader_);
    if (r < 0 || !error_.empty()) FailParse();
    if (r == 0) return false;
    const int type = xmlTextReaderNodeType(reader_);
    if (type == XML_READER_TYPE_DOCUMENT_TYPE || type == XML_READER_TYPE_ENTITY_REFERENCE ||
        type == XML_READER_TYPE_ENTITY) {
      ctx_.Fail(WireError::Kind::kForbidden,
                "document type declarations and entity references are not accepted");
    }
    return true;
  }

  int Type() const { return xmlTextReaderNodeType(reader_); }
  bool IsEmpty() const { return xmlTextReaderIsEmptyElement(reader_) == 1; }
  std::string_view Name() const {
    const xmlChar* n = xmlTextReaderConstLocalName(reader_);
    return n ? std::string_view(reinterpret_cast<const char*>(n)) : std::string_view();
  }

  // Moves to the root element.
  void Root() {
    while (true) {
      if (!Read()) ctx_.Fail(WireError::Kind::kTruncated, "the document has no root element");
      const int type = Type();
      if (type == XML_READER_TYPE_ELEMENT) break;
      if (type == XML_READER_TYPE_TEXT) ctx_.Fail(WireError::Kind::kMalformed, "text before the root element");
    }
    ctx_.CountElement();
  }

  // After the root element: nothing but comments and white space.
  void End() {
    while (Read()) {
      const int type = Type();
      if (type == XML_READER_TYPE_ELEMENT || type == XML_READER_TYPE_TEXT) {
        ctx_.Fail(WireError::Kind::kMalformed, "content after the root element");
      }
    }
  }

  // From a start element or a child's end: the next child start element, or
  // false at the parent's end element.
  bool NextChild() {
    while (true) {
      if (!Read()) ctx_.Fail(WireError::Kind::kTruncated, "the document ends inside an element");
      switch (Type()) {
        case XML_READER_TYPE_ELEMENT:
          ctx_.CountElement();
          return true;
        case XML_READER_TYPE_END_ELEMENT:
          return false;
        case XML_READER_TYPE_TEXT:
        case XML_READER_TYPE_CDATA:
          if (!IsBlank(Value())) ctx_.Fail(WireError::Kind::kWrongType, "text where elements are expected");
          break;
        default:
          break;  // white space, comments, processing instructions
      }
    }
  }

  // The text of the current (start) element; leaves the reader on its end.
  std::string_view Text() {
    text_.clear();
    if (IsEmpty()) return text_;
    while (true) {
      if (!Read()) ctx_.Fail(WireError::Kind::kTruncated, "the document ends inside a text");
      switch (Type()) {
        case XML_READER_TYPE_TEXT:
        case XML_READER_TYPE_CDATA:
        case XML_READER_TYPE_WHITESPACE:
        case XML_READER_TYPE_SIGNIFICANT_WHITESPACE: {
          std::string_view v = Value();
          ctx_.CheckString(text_.size() + v.size());
          text_.append(v.data(), v.size());
          break;
        }
        case XML_READER_TYPE_END_ELEMENT:
          return text_;
        case XML_READER_TYPE_ELEMENT:
          ctx_.CountElement();
          ctx_.Fail(WireError::Kind::kWrongType, "an element where a value is expected");
        default:
          break;
      }
    }
  }

  // Skips the current element and everything in it, counting its elements.
  void Skip() {
    if (IsEmpty()) return;
    const int depth = xmlTextReaderDepth(reader_);
    while (true) {
      if (!Read()) ctx_.Fail(WireError::Kind::kTruncated, "the document ends inside an element");
      const int type = Type();
      if (type == XML_READER_TYPE_ELEMENT) {
        ctx_.CountElement();
        if (xmlTextReaderDepth(reader_) - depth + ctx_.Depth() > ctx_.Options().limits.maxDepth) {
          ctx_.Fail(WireError::Kind::kLimit, "nesting deeper than " +
                                                 std::to_string(ctx_.Options().limits.maxDepth) +
                                                 " levels");
        }
      } else if (type == XML_READER_TYPE_END_ELEMENT && xmlTextReaderDepth(reader_) == depth) {
        return;
      }
    }
  }

  struct Attributes {
    std::string xsiType;
    std::string type;
    std::string serverGuid;
    bool hasXsiType = false;
    bool hasType = false;
    bool hasServerGuid = false;
    bool nil = false;
  };

  // The attributes the encoding uses; others are ignored.
  void ReadAttributes(Attributes& a) {
    a = Attributes{};
    if (xmlTextReaderHasAttributes(reader_) != 1) return;
    while (xmlTextReaderMoveToNextAttribute(reader_) == 1) {
      const auto* ns = reinterpret_cast<const char*>(xmlTextReaderConstNamespaceUri(reader_));
      std::string_view name = Name();
      std::string_view value = Value();
      ctx_.CheckString(value.size());
      if (ns && std::strcmp(ns, kXsiNamespace) == 0) {
        if (name == "type") {
          a.xsiType = std::string(StripPrefix(value));
          a.hasXsiType = true;
        } else if (name == "nil") {
          a.nil = value == "true" || value == "1";
        }
      } else if (!ns) {
        if (name == "type") {
          a.type = std::string(value);
          a.hasType = true;
        } else if (name == "serverGuid") {
          a.serverGuid = std::string(value);
          a.hasServerGuid = true;
        }
      }
    }
    xmlTextReaderMoveToElement(reader_);
  }

 private:
  static std::string_view StripPrefix(std::string_view qname) {
    const std::size_t colon = qname.find(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
  }
  static bool IsBlank(std::string_view s) {
    for (char c : s) {
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    }
    return true;
  }
  std::string_view Value() const {
    const xmlChar* v = xmlTextReaderConstValue(reader_);
    return v ? std::string_view(reinterpret_cast<const char*>(v)) : std::string_view();
  }

  static void OnError(void* self, xmlErrorPtr error) {
    auto* r = static_cast<XmlReader*>(self);
    if (!error || !r->error_.empty()) return;
    r->errorCode_ = error->code;
    r->error_ = error->message ? error->message : "error";
    while (!r->error_.empty() && (r->error_.back() == '\n' || r->error_.back() == ' ')) {
      r->error_.pop_back();
    }
    r->errorLine_ = error->line;
  }

  [[noreturn]] void FailParse() {
    std::string what = error_.empty() ? "the XML parser failed" : error_;
    WireError::Kind kind = WireError::Kind::kMalformed;
    switch (errorCode_) {
      case XML_ERR_DOCUMENT_EMPTY:
      case XML_ERR_TAG_NOT_FINISHED:
      case XML_ERR_LTSLASH_REQUIRED:
      case XML_ERR_GT_REQUIRED:
      case XML_ERR_ATTRIBUTE_NOT_FINISHED:
      case XML_ERR_ATTRIBUTE_WITHOUT_VALUE:
      case XML_ERR_LITERAL_NOT_FINISHED:
      case XML_ERR_COMMENT_NOT_FINISHED:
      case XML_ERR_CDATA_NOT_FINISHED:
      case XML_ERR_NAME_REQUIRED:
        kind = WireError::Kind::kTruncated;
        break;
      case XML_ERR_UNDECLARED_ENTITY:
      case XML_WAR_UNDECLARED_ENTITY:
      case XML_ERR_ENTITY_LOOP:
      case XML_ERR_ENTITY_BOUNDARY:
        kind = WireError::Kind::kForbidden;
        break;
      case XML_ERR_INTERNAL_ERROR:
        if (what.find("Huge input lookup") != std::string::npos ||
            what.find("Excessive depth") != std::string::npos) {
          kind = WireError::Kind::kLimit;
        }
        break;
      default:
        break;
    }
    if (errorLine_ > 0) what += " (line " + std::to_string(errorLine_) + ")";
    ctx_.Fail(kind, what);
  }

  DecodeContext& ctx_;
  xmlTextReaderPtr reader_ = nullptr;
  std::string text_;
  std::string error_;
  int errorCode_ = 0;
  int errorLine_ = 0;
};

class XmlDecoder {
 public:
  XmlDecoder(DecodeContext& ctx, XmlReader& r) : ctx_(ctx), r_(r) {}

  // The value of the current element in a place of the given slot (not an
  // array). Leaves the reader on the element's end.
  Basekit::Ref<Any> Single(const Slot& declared) {
    XmlReader::Attributes a;
    r_.ReadAttributes(a);
    if (a.nil) {
      r_.Skip();
      return nullptr;
    }
    Slot slot = declared;
    if (a.hasXsiType) {
      Slot named;
      if (!SlotOfWireName(a.xsiType, named)) {
        ctx_.Fail(WireError::Kind::kUnknownType, "unknown type '" + a.xsiType.substr(0, 80) + "'");
      }
      CheckFits(named, declared, a.xsiType);
      slot = named;
      slot.secret = declared.secret;
    } else if (declared.kind == ValueKind::kAny) {
      ctx_.Fail(WireError::Kind::kWrongType, "a value in a place of any type must name its type");
    }
    if (slot.array) {
      Slot element = slot;
      element.array = false;
      ArrayBuilder builder(element.kind, element.type);
      if (!r_.IsEmpty()) {
        int i = 0;
        while (r_.NextChild()) {
          PathStep step(ctx_, r_.Name(), i++);
          Element(builder, element);
        }
      }
      return builder.Finish(ctx_);
    }
    switch (slot.kind) {
      case ValueKind::kData:
        return Basekit::Ref<Any>(Data(static_cast<const DataObjectType*>(slot.type)).Get());
      case ValueKind::kMoRef:
        return Basekit::Ref<Any>(Reference(a).Get());
      case ValueKind::kAny:
        ctx_.Fail(WireError::Kind::kWrongType, "a value of type anyType");
      default:
        return BoxScalar(ctx_, slot.kind, slot.type, ScalarText{r_.Text(), slot.secret});
    }
  }

  // One element of an array.
  void Element(ArrayBuilder& builder, const Slot& element) {
    if (IsScalar(element.kind)) {
      XmlReader::Attributes a;
      r_.ReadAttributes(a);
      builder.AddScalar(ctx_, ScalarText{r_.Text(), element.secret});
    } else {
      Basekit::Ref<Any> v = Single(element);
      builder.AddValue(ctx_, v);
    }
  }

  Basekit::Ref<DataObject> Data(const DataObjectType* type) {
    Basekit::Ref<DataObject> o(type->CreateInstance());
    if (!o) ctx_.Fail(WireError::Kind::kWrongType, "type " + type->GetWsdlName() + " cannot be made");
    if (r_.IsEmpty()) return o;
    const Plan& plan = PlanOf(type);
    std::vector<PendingArray> arrays;
    std::vector<bool> seen(plan.members.size());
    while (r_.NextChild()) {
      const std::string_view name = r_.Name();
      const int index = plan.Find(name);
      if (index < 0) {
        if (ctx_.Options().strict) {
          PathStep step(ctx_, name);
          ctx_.Fail(WireError::Kind::kUnknownElement,
                    "type " + type->GetWsdlName() + " has no property '" + std::string(name) + "'");
        }
        r_.Skip();
        continue;
      }
      const Member& m = plan.members[static_cast<std::size_t>(index)];
      if (!ctx_.Gate().Allows(m.version)) {
        r_.Skip();  // newer than the version this side speaks
        continue;
      }
      if (m.slot.array) {
        PendingArray* pending = nullptr;
        for (PendingArray& entry : arrays) {
          if (entry.index == index) pending = &entry;
        }
        Slot element = m.slot;
        element.array = false;
        if (!pending) {
          arrays.push_back(PendingArray{index, ArrayBuilder(element.kind, element.type), 0});
          pending = &arrays.back();
        }
        PathStep step(ctx_, m.name, pending->count++);
        Element(pending->builder, element);
        continue;
      }
      PathStep step(ctx_, m.name);
      if (seen[static_cast<std::size_t>(index)]) {
        ctx_.Fail(WireError::Kind::kMalformed, "the property is given twice");
      }
      seen[static_cast<std::size_t>(index)] = true;
      if (IsScalar(m.slot.kind)) {
        XmlReader::Attributes a;
        r_.ReadAttributes(a);
        if (a.nil) {
          r_.Skip();
          continue;
        }
        StoreMember(ctx_, o, m, ScalarText{r_.Text(), m.slot.secret});
      } else {
        Basekit::Ref<Any> v = Single(m.slot);
        StoreObjectMember(ctx_, o, m, v);
      }
    }
    for (PendingArray& entry : arrays) {
      const Member& m = plan.members[static_cast<std::size_t>(entry.index)];
      PathStep step(ctx_, m.name);
      Basekit::Ref<Any> array = entry.builder.Finish(ctx_);
      StoreObjectMember(ctx_, o, m, array);
    }
    return o;
  }

  Basekit::Ref<MoRef> Reference(const XmlReader::Attributes& a) {
    if (!a.hasType) ctx_.Fail(WireError::Kind::kMalformed, "a reference without its type attribute");
    const Type* t = FindTypeByWsdlName(a.type);
    if (!t || !t->IsManaged()) {
      ctx_.Fail(WireError::Kind::kUnknownType, "unknown managed type '" + a.type.substr(0, 80) + "'");
    }
    std::string id(r_.Text());
    ctx_.CheckString(id.size());
    auto* type = const_cast<ManagedObjectType*>(static_cast<const ManagedObjectType*>(t));
    if (a.hasServerGuid) return Basekit::Ref<MoRef>(new MoRef(type, std::move(id), a.serverGuid));
    return Basekit::Ref<MoRef>(new MoRef(type, std::move(id)));
  }

  // A named type must fit the declared place.
  void CheckFits(const Slot& named, const Slot& declared, const std::string& name) {
    if (declared.kind == ValueKind::kAny) return;
    bool fits = named.kind == declared.kind && named.array == declared.array;
    if (fits && named.kind == ValueKind::kData && declared.type) {
      fits = static_cast<const StructuredType*>(named.type)->IsA(declared.type);
    } else if (fits && named.kind == ValueKind::kEnum) {
      fits = named.type == declared.type;
    }
    if (!fits) {
      ctx_.Fail(WireError::Kind::kWrongType,
                "a value of type " + name + " where " + WireTypeName(declared) + " is declared");
    }
  }

 private:
  // An array property whose elements are being read.
  struct PendingArray {
    int index;
    ArrayBuilder builder;
    int count;
  };
  DecodeContext& ctx_;
  XmlReader& r_;
};

std::string FaultString(const MethodFault* fault) {
  std::string text = fault->_GetType() ? fault->_GetType()->GetName() : std::string("fault");
  if (const DataArray<LocalizableMessage>* messages = fault->GetFaultMessage()) {
    if (messages->GetLength() > 0 && messages->Get(0) && messages->Get(0)->GetMessage()) {
      text += ": " + *messages->Get(0)->GetMessage();
    }
  }
  return text;
}

Slot ResultSlot(const ManagedMethod* method) {
  if (method->IsTask()) {
    Slot s;
    s.kind = ValueKind::kMoRef;
    s.type = GetManagedObjectRootType();
    return s;
  }
  const Parameter& result = method->GetResult();
  return SlotOf(result.GetTypeInfo(), result.GetFlags());
}

Basekit::Ref<MethodFault> ReadFaultBody(DecodeContext& ctx, XmlReader& r, XmlDecoder& d) {
  Basekit::Ref<MethodFault> fault;
  PathStep root(ctx, "Fault");
  if (r.IsEmpty()) ctx.Fail(WireError::Kind::kMalformed, "a fault without detail");
  while (r.NextChild()) {
    if (r.Name() != "detail") {
      r.Skip();
      continue;
    }
    PathStep detail(ctx, "detail");
    if (r.IsEmpty()) ctx.Fail(WireError::Kind::kMalformed, "an empty fault detail");
    while (r.NextChild()) {
      if (fault) ctx.Fail(WireError::Kind::kMalformed, "a fault detail with two faults");
      PathStep body(ctx, r.Name());
      Slot slot;
      slot.kind = ValueKind::kData;
      slot.type = GetDoType<MethodFault>();
      Basekit::Ref<Any> v = d.Single(slot);
      fault = dynamic_cast<MethodFault*>(v.Get());
      if (!fault) ctx.Fail(WireError::Kind::kWrongType, "the fault detail is not a fault");
    }
  }
  if (!fault) ctx.Fail(WireError::Kind::kMalformed, "a fault without detail");
  return fault;
}

}  // namespace

// ---------------------------------------------------------------------------
// Entry points of the XML form

std::string XmlEncodeValue(const Any* value, const EncodeOptions& options) {
  std::string out;
  out.reserve(1024);
  XmlWriter w(out, options);
  Slot any;
  if (!value) {
    w.Nil("value", true);
  } else {
    w.Single("value", any, value, true);
  }
  return out;
}

Basekit::Ref<Any> XmlDecodeValue(std::string_view document, const DecodeOptions& options,
                                 const Type* declared) {
  DecodeContext ctx(options);
  XmlReader r(ctx, document);
  XmlDecoder d(ctx, r);
  r.Root();
  Basekit::Ref<Any> v;
  {
    PathStep step(ctx, r.Name());
    Slot any;
    v = d.Single(any);
  }
  r.End();
  if (declared && v) {
    const Type* t = v->_GetType();
    const bool fits = t == declared ||
                      (t && !t->IsArray() && t->IsDataObject() &&
                       static_cast<const StructuredType*>(t)->IsA(declared)) ||
                      (declared->IsManaged() && dynamic_cast<const MoRef*>(v.Get()));
    if (!fits) {
      ctx.Fail(WireError::Kind::kWrongType, "a value of type " + (t ? t->GetName() : std::string("?")) +
                                                " where " + declared->GetName() + " is required");
    }
  }
  return v;
}

std::string XmlEncodeRequest(const MoRef* target, const ManagedMethod* method,
                             const Basekit::RefVector<Any>& args, const EncodeOptions& options) {
  std::string out;
  out.reserve(512);
  XmlWriter w(out, options);
  const std::string& op = method->GetWsdlName();
  w.OpenStart(op);
  w.Raw(kRootNamespaces);
  w.Raw(">");
  w.Reference("_this", target, false, false);
  const std::vector<Parameter>& params = method->GetParameters();
  for (std::size_t i = 0; i < params.size() && i < args.size(); ++i) {
    const Parameter& p = params[i];
    if (!args[i]) continue;
    if (!w.Gate().Open() && !w.Gate().Allows(FindVersion(p.GetVersionName() ? p.GetVersionName() : ""))) {
      continue;
    }
    Slot slot = SlotOf(p.GetTypeInfo(), p.GetFlags());
    if (slot.array) {
      Slot element = slot;
      element.array = false;
      w.Elements(p.GetName(), element, args[i]);
    } else {
      w.Single(p.GetName(), slot, args[i], false);
    }
  }
  w.Close(op);
  return out;
}

WireRequest XmlDecodeRequest(std::string_view document, const DecodeOptions& options) {
  DecodeContext ctx(options);
  XmlReader r(ctx, document);
  XmlDecoder d(ctx, r);
  r.Root();
  WireRequest request;
  const std::string op(r.Name());
  PathStep root(ctx, op);
  if (r.IsEmpty() || !r.NextChild() || r.Name() != "_this") {
    ctx.Fail(WireError::Kind::kMalformed, "a request must begin with _this");
  }
  {
    PathStep step(ctx, "_this");
    XmlReader::Attributes a;
    r.ReadAttributes(a);
    request.target = d.Reference(a);
  }
  const ManagedObjectType* type = request.target->GetType();
  const ManagedMethod* method = type ? type->FindMethod(op) : nullptr;
  if (!method || (method->GetWsdlName() != op && method->GetName() != op)) {
    ctx.Fail(WireError::Kind::kUnknownMethod,
             "type " + (type ? type->GetWsdlName() : std::string("?")) + " has no operation '" +
                 op.substr(0, 80) + "'");
  }
  request.method = method;
  const std::vector<Parameter>& params = method->GetParameters();
  request.args.resize(params.size());
  std::vector<std::pair<std::size_t, ArrayBuilder>> arrays;
  std::vector<int> counts(params.size());
  while (r.NextChild()) {
    const std::string_view name = r.Name();
    std::size_t index = params.size();
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (name == params[i].GetName()) {
        index = i;
        break;
      }
    }
    if (index == params.size()) {
      if (options.strict) {
        PathStep step(ctx, name);
        ctx.Fail(WireError::Kind::kUnknownElement, "operation " + op + " has no parameter '" +
                                                       std::string(name.substr(0, 80)) + "'");
      }
      r.Skip();
      continue;
    }
    const Parameter& p = params[index];
    if (!ctx.Gate().Allows(FindVersion(p.GetVersionName() ? p.GetVersionName() : ""))) {
      r.Skip();
      continue;
    }
    Slot slot = SlotOf(p.GetTypeInfo(), p.GetFlags());
    if (slot.array) {
      Slot element = slot;
      element.array = false;
      ArrayBuilder* builder = nullptr;
      for (auto& entry : arrays) {
        if (entry.first == index) builder = &entry.second;
      }
      if (!builder) {
        arrays.emplace_back(index, ArrayBuilder(element.kind, element.type));
        builder = &arrays.back().second;
      }
      PathStep step(ctx, p.GetName(), counts[index]++);
      d.Element(*builder, element);
      continue;
    }
    PathStep step(ctx, p.GetName());
    if (request.args[index]) ctx.Fail(WireError::Kind::kMalformed, "the parameter is given twice");
    request.args[index] = d.Single(slot);
  }
  for (auto& entry : arrays) {
    PathStep step(ctx, params[entry.first].GetName());
    request.args[entry.first] = entry.second.Finish(ctx);
  }
  r.End();
  return request;
}

std::string XmlEncodeResponse(const ManagedMethod* method, const Any* result,
                              const EncodeOptions& options) {
  std::string out;
  out.reserve(512);
  XmlWriter w(out, options);
  const std::string root = method->GetWsdlName() + "Response";
  w.OpenStart(root);
  w.Raw(kRootNamespaces);
  w.Raw(">");
  Slot slot = ResultSlot(method);
  if (result) {
    if (slot.array) {
      Slot element = slot;
      element.array = false;
      w.Elements("returnval", element, result);
    } else {
      w.Single("returnval", slot, result, false);
    }
  }
  w.Close(root);
  return out;
}

Basekit::Ref<Any> XmlDecodeResponse(std::string_view document, const ManagedMethod* method,
                                    const DecodeOptions& options) {
  DecodeContext ctx(options);
  XmlReader r(ctx, document);
  XmlDecoder d(ctx, r);
  r.Root();
  if (r.Name() == "Fault") {
    Basekit::Ref<MethodFault> fault = ReadFaultBody(ctx, r, d);
    r.End();
    fault->Throw();
  }
  const std::string expected = method->GetWsdlName() + "Response";
  if (r.Name() != expected) {
    ctx.Fail(WireError::Kind::kMalformed,
             "a response named '" + std::string(r.Name().substr(0, 80)) + "' where " + expected +
                 " is expected");
  }
  PathStep root(ctx, expected);
  Slot slot = ResultSlot(method);
  Basekit::Ref<Any> result;
  Slot element = slot;
  element.array = false;
  ArrayBuilder builder(element.kind, element.type);
  bool any = false;
  int i = 0;
  if (!r.IsEmpty()) {
    while (r.NextChild()) {
      if (r.Name() != "returnval") {
        if (options.strict) ctx.Fail(WireError::Kind::kUnknownElement, "a response holds only returnval");
        r.Skip();
        continue;
      }
      if (slot.array) {
        PathStep step(ctx, "returnval", i++);
        d.Element(builder, element);
      } else {
        PathStep step(ctx, "returnval");
        if (any) ctx.Fail(WireError::Kind::kMalformed, "the result is given twice");
        result = d.Single(slot);
      }
      any = true;
    }
  }
  if (slot.array && any) result = builder.Finish(ctx);
  r.End();
  return result;
}

std::string XmlEncodeFault(const MethodFault* fault, const EncodeOptions& options) {
  std::string out;
  out.reserve(512);
  XmlWriter w(out, options);
  w.OpenStart("Fault");
  w.Raw(kRootNamespaces);
  w.Raw("><faultstring>");
  w.Escaped(FaultString(fault), false);
  w.Raw("</faultstring><detail>");
  const DataObjectType* type = w.Gate().WireType(fault->_GetDataType());
  if (!type) type = GetDoType<MethodFault>();
  const std::string body = type->GetWsdlName() + "Fault";
  w.OpenStart(body);
  w.Attr("xsi:type", type->GetWsdlName());
  w.Raw(">");
  w.Members(fault, PlanOf(type));
  w.Close(body);
  w.Raw("</detail></Fault>");
  return out;
}

Basekit::Ref<MethodFault> XmlDecodeFault(std::string_view document, const DecodeOptions& options) {
  DecodeContext ctx(options);
  XmlReader r(ctx, document);
  XmlDecoder d(ctx, r);
  r.Root();
  if (r.Name() != "Fault") ctx.Fail(WireError::Kind::kMalformed, "the document is not a fault");
  Basekit::Ref<MethodFault> fault = ReadFaultBody(ctx, r, d);
  r.End();
  return fault;
}

bool XmlIsFault(std::string_view document) {
  std::size_t i = 0;
  while (i < document.size()) {
    i = document.find('<', i);
    if (i == std::string_view::npos || i + 1 >= document.size()) return false;
    const char c = document[i + 1];
    if (c == '?' || c == '!') {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (end < document.size() && document[end] != '>' && document[end] != ' ' &&
           document[end] != '/' && document[end] != '\t' && document[end] != '\n' &&
           document[end] != '\r') {
      ++end;
    }
    std::string_view name = document.substr(i + 1, end - i - 1);
    const std::size_t colon = name.find(':');
    if (colon != std::string_view::npos) name = name.substr(colon + 1);
    return name == "Fault";
  }
  return false;
}

}  // namespace wire
}  // namespace Movel
