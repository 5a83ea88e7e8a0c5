// The XML encoding. Writing is done by hand into one string; reading parses
// the document with pugixml, which builds its tree without recursion and
// never expands or fetches entities, after a scan that refuses document type
// declarations, entity references other than the predefined ones, and more
// markup than the element limit allows.
#include <pugixml.hpp>

#include <array>
#include <cstring>
#include <mutex>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  // Runs of plain characters are copied whole; a table marks the bytes that
  // need a look (markup characters, quotes and controls).
  void Escaped(std::string_view s, bool attr) {
    static const auto kSpecial = [] {
      std::array<bool, 256> t{};
      for (int c = 0; c < 0x20; ++c) t[static_cast<std::size_t>(c)] = true;
      t['&'] = t['<'] = t['>'] = t['"'] = true;
      return t;
    }();
    const char* p = s.data();
    const char* end = p + s.size();
    const char* run = p;
    for (; p != end; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (!kSpecial[c]) continue;
      const char* rep = nullptr;
      if (c == '&') {
        rep = "&amp;";
      } else if (c == '<') {
        rep = "&lt;";
      } else if (c == '>') {
        rep = "&gt;";
      } else if (c == '"') {
        if (!attr) continue;
        rep = "&quot;";
      } else if (c == '\r') {
        rep = "&#13;";
      } else if (c == '\n' || c == '\t') {
        if (!attr) continue;
        rep = c == '\n' ? "&#10;" : "&#9;";
      } else {
        throw WireError(WireError::Kind::kWrongType, "/",
                        "a text holds control character " + std::to_string(c) +
                            ", which XML cannot carry");
      }
      out_.append(run, p);
      out_ += rep;
      run = p + 1;
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
    const DataObjectType* wireType = gate_.WireType(o->_GetDataType(), declared);
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
    for (std::size_t i = 0; i < plan.members.size(); ++i) {
      const Member& m = plan.members[i];
      if (!gate_.Open() && !gate_.Allows(m.version)) continue;
      const void* p = PeekMember(o, m);
      if (!p) continue;
      const std::string_view name(m.name, plan.nameLengths[i]);
      if (m.slot.array) {
        Slot element = m.slot;
        element.array = false;
        Elements(name, element, static_cast<const Any*>(p));
      } else if (IsScalar(m.slot.kind)) {
        out_ += plan.xmlOpen[i];
        ScalarText(m.slot, p);
        out_ += plan.xmlClose[i];
      } else {
        Single(name, m.slot, static_cast<const Any*>(p), false);
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
        if (const auto* o = AsA<DataObject>(v)) {
          Data(name, o, slot.type, nsDecl);
          return;
        }
        break;
      case ValueKind::kMoRef:
        if (const auto* ref = AsA<MoRef>(v)) {
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
    int enumValue = 0;
    const void* p = BoxedValue(slot, v, enumValue);
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
    if (const auto* o = AsA<DataObject>(v)) {
      Data(name, o, nullptr, nsDecl);
      return;
    }
    if (const auto* ref = AsA<MoRef>(v)) {
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

bool IsBlank(const char* s) {
  for (; *s; ++s) {
    if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r') return false;
  }
  return true;
}

// The name without its prefix.
std::string_view LocalName(const char* qname) {
  std::string_view n(qname);
  const std::size_t colon = n.find(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

// A parsed document. The parser builds the tree without recursion; before
// it runs, the raw text is checked for what the decoder refuses: entity
// references other than the five predefined ones and character references
// (the parser would keep unknown ones as text), and more markup than the
// element limit allows (which bounds the tree's memory).
class XmlInput {
 public:
  XmlInput(DecodeContext& ctx, std::string_view document) : ctx_(ctx) {
    ctx_.CheckMessage(document.size());
    if (document.empty()) ctx_.Fail(WireError::Kind::kTruncated, "the document is empty");
    Prescan(document);
    const unsigned options = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                             pugi::parse_wconv_attribute | pugi::parse_doctype;
    const pugi::xml_parse_result result =
        doc_.load_buffer(document.data(), document.size(), options, pugi::encoding_utf8);
    if (!result) {
      WireError::Kind kind = WireError::Kind::kMalformed;
      if (result.status == pugi::status_bad_doctype) {
        kind = WireError::Kind::kForbidden;
      } else if (result.status == pugi::status_no_document_element ||
                 static_cast<std::size_t>(result.offset) + 1 >= document.size()) {
        kind = WireError::Kind::kTruncated;
      }
      ctx_.Fail(kind, std::string(result.description()) + " at offset " + std::to_string(result.offset));
    }
    int roots = 0;
    for (pugi::xml_node n = doc_.first_child(); n; n = n.next_sibling()) {
      switch (n.type()) {
        case pugi::node_doctype:
          ctx_.Fail(WireError::Kind::kForbidden, "document type declarations are not accepted");
        case pugi::node_element:
          root_ = n;
          ++roots;
          break;
        case pugi::node_pcdata:
        case pugi::node_cdata:
          if (!IsBlank(n.value())) ctx_.Fail(WireError::Kind::kMalformed, "text outside the root element");
          break;
        default:
          break;
      }
    }
    if (roots == 0) ctx_.Fail(WireError::Kind::kTruncated, "the document has no root element");
    if (roots > 1) ctx_.Fail(WireError::Kind::kMalformed, "content after the root element");
    ctx_.CountElement();
  }

  pugi::xml_node Root() const { return root_; }

 private:
  // True for the code points XML 1.0 lets a document carry.
  static bool IsXmlChar(unsigned long c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
  }

  // A character reference "&#..;" or "&#x..;" (name is what stands between
  // '&' and ';') must name a character XML allows: anything else would
  // decode to text the writer cannot carry, or to a NUL that cuts it short.
  void CheckCharReference(std::string_view name, std::size_t offset) {
    unsigned long c = 0;
    const bool hex = name.size() > 1 && name[1] == 'x';
    std::size_t i = hex ? 2 : 1;
    bool ok = i < name.size();
    for (; ok && i < name.size(); ++i) {
      const char ch = name[i];
      int digit;
      if (ch >= '0' && ch <= '9') {
        digit = ch - '0';
      } else if (hex && ch >= 'a' && ch <= 'f') {
        digit = ch - 'a' + 10;
      } else if (hex && ch >= 'A' && ch <= 'F') {
        digit = ch - 'A' + 10;
      } else {
        ok = false;
        break;
      }
      c = c * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
      if (c > 0x10FFFF) ok = false;
    }
    if (!ok || !IsXmlChar(c)) {
      ctx_.Fail(WireError::Kind::kMalformed,
                "a character reference to a character XML does not allow (offset " +
                    std::to_string(offset) + ")");
    }
  }

  // One byte of the scan that needs a look: markup is counted, references
  // are checked, controls refused. Returns the byte's class.
  void ScanByte(const char* p, std::string_view d, std::size_t& tags, std::size_t maxTags) {
    // What each byte asks of the scan: 0 nothing, 1 markup, 2 a reference,
    // 3 a control character XML does not allow.
    static const auto kClass = [] {
      std::array<unsigned char, 256> t{};
      for (int c = 0; c < 0x20; ++c) t[static_cast<std::size_t>(c)] = 3;
      t['\t'] = t['\n'] = t['\r'] = 0;
      t['<'] = 1;
      t['&'] = 2;
      return t;
    }();
    const char* end = d.data() + d.size();
    const unsigned char cls = kClass[static_cast<unsigned char>(*p)];
    if (cls == 0) return;
    if (cls == 1) {
      if (++tags > maxTags) TooManyElements();
    } else if (cls == 2) {
      const char* q = p + 1;
      while (q != end && *q != ';' && q - p < 12) ++q;
      if (q == end) ctx_.Fail(WireError::Kind::kTruncated, "the document ends inside a reference");
      const std::string_view name(p + 1, static_cast<std::size_t>(q - p - 1));
      const auto offset = static_cast<std::size_t>(p - d.data());
      if (*q == ';' && !name.empty() && name[0] == '#') {
        CheckCharReference(name, offset);
      } else if (*q != ';' || !(name == "amp" || name == "lt" || name == "gt" || name == "quot" ||
                                name == "apos")) {
        ctx_.Fail(WireError::Kind::kForbidden,
                  "entity references are not accepted (offset " + std::to_string(offset) + ")");
      }
    } else {
      ctx_.Fail(WireError::Kind::kMalformed,
                "control character " + std::to_string(static_cast<unsigned char>(*p)) +
                    ", which XML does not allow (offset " + std::to_string(p - d.data()) + ")");
    }
  }

  [[noreturn]] void TooManyElements() {
    ctx_.Fail(WireError::Kind::kLimit,
              "more than " + std::to_string(ctx_.Options().limits.maxElements) + " elements");
  }

  // Counts the markup (which bounds the tree the parser builds) and refuses
  // references and characters the decoder does not take. Document type
  // declarations are refused after parsing (the parser only records them).
  // Sixteen bytes at a time: runs holding only text and '<' are counted
  // without a look at each byte.
  void Prescan(std::string_view d) {
    const char* p = d.data();
    const char* end = p + d.size();
    std::size_t tags = 0;
    const std::size_t maxTags = 2 * ctx_.Options().limits.maxElements + 16;
#if defined(__SSE2__)
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i amp = _mm_set1_epi8('&');
    const __m128i ctl = _mm_set1_epi8(0x1F);
    for (; end - p >= 16; p += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const int markup = _mm_movemask_epi8(_mm_cmpeq_epi8(x, lt));
      const int other = _mm_movemask_epi8(_mm_or_si128(
          _mm_cmpeq_epi8(x, amp), _mm_cmpeq_epi8(_mm_max_epu8(x, ctl), ctl)));
      if (other == 0) {
        tags += static_cast<std::size_t>(__builtin_popcount(static_cast<unsigned>(markup)));
        if (tags > maxTags) TooManyElements();
        continue;
      }
      for (int i = 0; i < 16; ++i) ScanByte(p + i, d, tags, maxTags);
    }
#endif
    for (; p != end; ++p) ScanByte(p, d, tags, maxTags);
  }

  DecodeContext& ctx_;
  pugi::xml_document doc_;
  pugi::xml_node root_;
};

class XmlDecoder {
 public:
  explicit XmlDecoder(DecodeContext& ctx) : ctx_(ctx) {}

  struct Attributes {
    const char* xsiType = nullptr;
    const char* type = nullptr;
    const char* serverGuid = nullptr;
    bool nil = false;
  };

  // The attributes the encoding uses; others are ignored.
  Attributes ReadAttributes(pugi::xml_node n) {
    Attributes a;
    for (pugi::xml_attribute at = n.first_attribute(); at; at = at.next_attribute()) {
      const char* name = at.name();
      const char* colon = std::strchr(name, ':');
      ctx_.CheckString(std::strlen(at.value()));
      if (!colon) {
        if (std::strcmp(name, "type") == 0) {
          a.type = at.value();
        } else if (std::strcmp(name, "serverGuid") == 0) {
          a.serverGuid = at.value();
        }
        continue;
      }
      const std::string_view prefix(name, static_cast<std::size_t>(colon - name));
      if (prefix == "xmlns") continue;
      const bool isType = std::strcmp(colon + 1, "type") == 0;
      const bool isNil = std::strcmp(colon + 1, "nil") == 0;
      if ((!isType && !isNil) || !IsXsiPrefix(n, prefix)) continue;
      if (isType) {
        a.xsiType = at.value();
        if (const char* c = std::strchr(a.xsiType, ':')) a.xsiType = c + 1;
      } else {
        a.nil = std::strcmp(at.value(), "true") == 0 || std::strcmp(at.value(), "1") == 0;
      }
    }
    return a;
  }

  // The text of an element: its character data, no elements.
  std::string_view Text(pugi::xml_node n) {
    pugi::xml_node c = n.first_child();
    if (!c) return std::string_view();
    if (!c.next_sibling() && (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)) {
      std::string_view v(c.value());
      ctx_.CheckString(v.size());
      return v;
    }
    text_.clear();
    for (; c; c = c.next_sibling()) {
      if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
        text_ += c.value();
        ctx_.CheckString(text_.size());
      } else if (c.type() == pugi::node_element) {
        ctx_.CountElement();
        PathStep step(ctx_, LocalName(c.name()));
        ctx_.Fail(WireError::Kind::kWrongType, "an element where a value is expected");
      }
    }
    return text_;
  }

  // The next child element from c on (c included), refusing text between
  // elements; null at the end.
  pugi::xml_node NextElement(pugi::xml_node c) {
    for (; c; c = c.next_sibling()) {
      switch (c.type()) {
        case pugi::node_element:
          ctx_.CountElement();
          return c;
        case pugi::node_pcdata:
        case pugi::node_cdata:
          if (!IsBlank(c.value())) ctx_.Fail(WireError::Kind::kWrongType, "text where elements are expected");
          break;
        default:
          break;
      }
    }
    return pugi::xml_node();
  }

  // Counts the elements under n and checks their depth, without recursion.
  void Skip(pugi::xml_node n) {
    int depth = ctx_.Depth() + 1;
    const int limit = ctx_.Options().limits.maxDepth;
    pugi::xml_node c = n.first_child();
    while (c) {
      if (c.type() == pugi::node_element) {
        ctx_.CountElement();
        if (depth > limit) {
          ctx_.Fail(WireError::Kind::kLimit, "nesting deeper than " + std::to_string(limit) + " levels");
        }
      }
      if (c.first_child()) {
        c = c.first_child();
        ++depth;
        continue;
      }
      while (c && !c.next_sibling() && c != n) {
        c = c.parent();
        --depth;
      }
      if (!c || c == n) break;
      c = c.next_sibling();
    }
  }

  // The value of element n in a place of the given slot (not an array).
  Basekit::Ref<Any> Single(pugi::xml_node n, const Slot& declared) {
    const Attributes a = ReadAttributes(n);
    if (a.nil) {
      Skip(n);
      return nullptr;
    }
    Slot slot = declared;
    if (a.xsiType) {
      Slot named;
      if (!SlotOfWireName(a.xsiType, named)) {
        ctx_.Fail(WireError::Kind::kUnknownType,
                  "unknown type '" + std::string(a.xsiType).substr(0, 80) + "'");
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
      int i = 0;
      for (pugi::xml_node c = NextElement(n.first_child()); c; c = NextElement(c.next_sibling())) {
        PathStep step(ctx_, LocalName(c.name()), i++);
        Element(c, builder, element);
      }
      return builder.Finish(ctx_);
    }
    switch (slot.kind) {
      case ValueKind::kData:
        return Data(n, static_cast<const DataObjectType*>(slot.type));  // moved: no count traffic
      case ValueKind::kMoRef:
        return Reference(n, a);
      case ValueKind::kAny:
        ctx_.Fail(WireError::Kind::kWrongType, "a value of type anyType");
      default:
        return BoxScalar(ctx_, slot.kind, slot.type, ScalarText{Text(n), slot.secret});
    }
  }

  // One element of an array.
  void Element(pugi::xml_node n, ArrayBuilder& builder, const Slot& element) {
    if (IsScalar(element.kind)) {
      builder.AddScalar(ctx_, ScalarText{Text(n), element.secret});
    } else {
      Basekit::Ref<Any> v = Single(n, element);
      builder.AddValue(ctx_, v);
    }
  }

  Basekit::Ref<DataObject> Data(pugi::xml_node n, const DataObjectType* type) {
    Basekit::Ref<DataObject> o(type->CreateInstance());
    if (!o) ctx_.Fail(WireError::Kind::kWrongType, "type " + type->GetWsdlName() + " cannot be made");
    const Plan& plan = PlanOf(type);
    PendingArray arrays[kInlineArrays];
    int arrayCount = 0;
    std::vector<PendingArray> moreArrays;
    std::uint64_t seenBits[4] = {};
    std::vector<bool> seenMore;
    int hint = 0;
    for (pugi::xml_node c = NextElement(n.first_child()); c; c = NextElement(c.next_sibling())) {
      const std::string_view name = LocalName(c.name());
      int index = -1;
      // Elements come in declaration order: try the next member first.
      if (hint < static_cast<int>(plan.members.size()) &&
          plan.nameLengths[static_cast<std::size_t>(hint)] == name.size() &&
          std::memcmp(plan.members[static_cast<std::size_t>(hint)].name, name.data(), name.size()) == 0) {
        index = hint;
      } else {
        index = plan.Find(name);
      }
      if (index < 0) {
        if (ctx_.Options().strict) {
          PathStep step(ctx_, name);
          ctx_.Fail(WireError::Kind::kUnknownElement,
                    "type " + type->GetWsdlName() + " has no property '" + std::string(name.substr(0, 80)) + "'");
        }
        PathStep step(ctx_, name);
        Skip(c);
        continue;
      }
      const Member& m = plan.members[static_cast<std::size_t>(index)];
      if (!ctx_.Gate().Allows(m.version)) {
        PathStep step(ctx_, name);
        Skip(c);  // newer than the version this side speaks
        continue;
      }
      if (m.slot.array) {
        hint = index;  // more elements of the same array may follow
        PendingArray* pending = nullptr;
        for (int k = 0; k < arrayCount; ++k) {
          if (arrays[k].index == index) pending = &arrays[k];
        }
        for (PendingArray& p : moreArrays) {
          if (p.index == index) pending = &p;
        }
        Slot element = m.slot;
        element.array = false;
        if (!pending) {
          if (arrayCount < kInlineArrays) {
            arrays[arrayCount] = PendingArray{index, ArrayBuilder(element.kind, element.type), 0};
            pending = &arrays[arrayCount++];
          } else {
            moreArrays.push_back(PendingArray{index, ArrayBuilder(element.kind, element.type), 0});
            pending = &moreArrays.back();
          }
        }
        PathStep step(ctx_, m.name, pending->count++);
        Element(c, pending->builder, element);
        continue;
      }
      hint = index + 1;
      PathStep step(ctx_, m.name);
      const auto u = static_cast<std::size_t>(index);
      bool seen;
      if (u < 256) {
        seen = seenBits[u / 64] >> (u % 64) & 1;
        seenBits[u / 64] |= std::uint64_t{1} << (u % 64);
      } else {
        if (seenMore.size() < plan.members.size()) seenMore.resize(plan.members.size());
        seen = seenMore[u];
        seenMore[u] = true;
      }
      if (seen) ctx_.Fail(WireError::Kind::kMalformed, "the property is given twice");
      if (IsScalar(m.slot.kind)) {
        if (c.first_attribute() && ReadAttributes(c).nil) continue;
        StoreMember(ctx_, o, m, ScalarText{Text(c), m.slot.secret});
      } else {
        Basekit::Ref<Any> v = Single(c, m.slot);
        StoreObjectMember(ctx_, o, m, v);
      }
    }
    auto finish = [&](PendingArray& entry) {
      const Member& m = plan.members[static_cast<std::size_t>(entry.index)];
      PathStep step(ctx_, m.name);
      Basekit::Ref<Any> array = entry.builder.Finish(ctx_);
      StoreObjectMember(ctx_, o, m, array);
    };
    for (int k = 0; k < arrayCount; ++k) finish(arrays[k]);
    for (PendingArray& p : moreArrays) finish(p);
    return o;
  }

  Basekit::Ref<MoRef> Reference(pugi::xml_node n, const Attributes& a) {
    if (!a.type) ctx_.Fail(WireError::Kind::kMalformed, "a reference without its type attribute");
    const Type* t = FindTypeByWsdlName(a.type);
    if (!t || !t->IsManaged()) {
      ctx_.Fail(WireError::Kind::kUnknownType,
                "unknown managed type '" + std::string(a.type).substr(0, 80) + "'");
    }
    std::string id(Text(n));
    auto* type = const_cast<ManagedObjectType*>(static_cast<const ManagedObjectType*>(t));
    if (a.serverGuid) return Basekit::Ref<MoRef>(new MoRef(type, std::move(id), a.serverGuid));
    return Basekit::Ref<MoRef>(new MoRef(type, std::move(id)));
  }

  // A named type must fit the declared place.
  void CheckFits(const Slot& named, const Slot& declared, const char* name) {
    if (declared.kind == ValueKind::kAny) return;
    bool fits = named.kind == declared.kind && named.array == declared.array;
    if (fits && named.kind == ValueKind::kData && declared.type) {
      fits = static_cast<const StructuredType*>(named.type)->IsA(declared.type);
    } else if (fits && named.kind == ValueKind::kEnum) {
      fits = named.type == declared.type;
    }
    if (!fits) {
      ctx_.Fail(WireError::Kind::kWrongType, "a value of type " + std::string(name).substr(0, 80) +
                                                 " where " + WireTypeName(declared) + " is declared");
    }
  }

 private:
  // True when prefix is bound to the schema-instance namespace at n. Siblings
  // share their ancestors' bindings, so the answer for n's parent is kept
  // for the next sibling that asks.
  bool IsXsiPrefix(pugi::xml_node n, std::string_view prefix) {
    char attr[64] = "xmlns:";
    if (prefix.size() > sizeof attr - 7) return false;
    std::memcpy(attr + 6, prefix.data(), prefix.size());
    attr[6 + prefix.size()] = '\0';
    if (pugi::xml_attribute ns = n.attribute(attr)) return std::strcmp(ns.value(), kXsiNamespace) == 0;
    const pugi::xml_node parent = n.parent();
    if (parent == xsiParent_ && prefix == xsiPrefix_) return xsiBound_;
    bool bound = false;
    for (pugi::xml_node a = parent; a; a = a.parent()) {
      if (pugi::xml_attribute ns = a.attribute(attr)) {
        bound = std::strcmp(ns.value(), kXsiNamespace) == 0;
        break;
      }
    }
    xsiParent_ = parent;
    xsiPrefix_.assign(prefix.data(), prefix.size());
    xsiBound_ = bound;
    return bound;
  }

  // An array property whose elements are being read.
  struct PendingArray {
    int index = -1;
    ArrayBuilder builder{ValueKind::kAny, nullptr};
    int count = 0;
  };
  static constexpr int kInlineArrays = 4;

  DecodeContext& ctx_;
  std::string text_;
  // The last answer of IsXsiPrefix for a parent element.
  pugi::xml_node xsiParent_;
  std::string xsiPrefix_;
  bool xsiBound_ = false;
};

Basekit::Ref<MethodFault> ReadFaultBody(DecodeContext& ctx, XmlDecoder& d, pugi::xml_node root) {
  Basekit::Ref<MethodFault> fault;
  PathStep step(ctx, "Fault");
  for (pugi::xml_node c = d.NextElement(root.first_child()); c; c = d.NextElement(c.next_sibling())) {
    if (LocalName(c.name()) != "detail") {
      d.Skip(c);
      continue;
    }
    PathStep detail(ctx, "detail");
    for (pugi::xml_node f = d.NextElement(c.first_child()); f; f = d.NextElement(f.next_sibling())) {
      if (fault) ctx.Fail(WireError::Kind::kMalformed, "a fault detail with two faults");
      PathStep body(ctx, LocalName(f.name()));
      Slot slot;
      slot.kind = ValueKind::kData;
      slot.type = GetDoType<MethodFault>();
      Basekit::Ref<Any> v = d.Single(f, slot);
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
  XmlInput in(ctx, document);
  XmlDecoder d(ctx);
  Basekit::Ref<Any> v;
  {
    PathStep step(ctx, LocalName(in.Root().name()));
    Slot any;
    v = d.Single(in.Root(), any);
  }
  CheckDeclaredType(ctx, v.Get(), declared);
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
  XmlInput in(ctx, document);
  XmlDecoder d(ctx);
  WireRequest request;
  const pugi::xml_node root = in.Root();
  const std::string op(LocalName(root.name()));
  PathStep rootStep(ctx, op);
  pugi::xml_node c = d.NextElement(root.first_child());
  if (!c || LocalName(c.name()) != "_this") {
    ctx.Fail(WireError::Kind::kMalformed, "a request must begin with _this");
  }
  {
    PathStep step(ctx, "_this");
    request.target = d.Reference(c, d.ReadAttributes(c));
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
  for (c = d.NextElement(c.next_sibling()); c; c = d.NextElement(c.next_sibling())) {
    const std::string_view name = LocalName(c.name());
    std::size_t index = params.size();
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (name == params[i].GetName()) {
        index = i;
        break;
      }
    }
    if (index == params.size()) {
      PathStep step(ctx, name);
      if (options.strict) {
        ctx.Fail(WireError::Kind::kUnknownElement, "operation " + op + " has no parameter '" +
                                                       std::string(name.substr(0, 80)) + "'");
      }
      d.Skip(c);
      continue;
    }
    const Parameter& p = params[index];
    if (!ctx.Gate().Allows(FindVersion(p.GetVersionName() ? p.GetVersionName() : ""))) {
      PathStep step(ctx, name);
      d.Skip(c);
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
      d.Element(c, *builder, element);
      continue;
    }
    PathStep step(ctx, p.GetName());
    if (request.args[index]) ctx.Fail(WireError::Kind::kMalformed, "the parameter is given twice");
    request.args[index] = d.Single(c, slot);
  }
  for (auto& entry : arrays) {
    PathStep step(ctx, params[entry.first].GetName());
    request.args[entry.first] = entry.second.Finish(ctx);
  }
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
  Slot slot = ResultSlotOf(method);
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
  XmlInput in(ctx, document);
  XmlDecoder d(ctx);
  const pugi::xml_node root = in.Root();
  const std::string_view name = LocalName(root.name());
  if (name == "Fault") ReadFaultBody(ctx, d, root)->Throw();
  const std::string expected = method->GetWsdlName() + "Response";
  if (name != expected) {
    ctx.Fail(WireError::Kind::kMalformed,
             "a response named '" + std::string(name.substr(0, 80)) + "' where " + expected +
                 " is expected");
  }
  PathStep rootStep(ctx, expected);
  Slot slot = ResultSlotOf(method);
  Basekit::Ref<Any> result;
  Slot element = slot;
  element.array = false;
  ArrayBuilder builder(element.kind, element.type);
  bool any = false;
  int i = 0;
  for (pugi::xml_node c = d.NextElement(root.first_child()); c; c = d.NextElement(c.next_sibling())) {
    if (LocalName(c.name()) != "returnval") {
      PathStep step(ctx, LocalName(c.name()));
      if (options.strict) ctx.Fail(WireError::Kind::kUnknownElement, "a response holds only returnval");
      d.Skip(c);
      continue;
    }
    if (slot.array) {
      PathStep step(ctx, "returnval", i++);
      d.Element(c, builder, element);
    } else {
      PathStep step(ctx, "returnval");
      if (any) ctx.Fail(WireError::Kind::kMalformed, "the result is given twice");
      result = d.Single(c, slot);
    }
    any = true;
  }
  if (slot.array && any) result = builder.Finish(ctx);
  return result;
}

std::string XmlEncodeFault(const MethodFault* fault, const EncodeOptions& options) {
  std::string out;
  out.reserve(512);
  XmlWriter w(out, options);
  w.OpenStart("Fault");
  w.Raw(kRootNamespaces);
  w.Raw("><faultstring>");
  w.Escaped(FaultText(fault), false);
  w.Raw("</faultstring><detail>");
  const DataObjectType* type = w.Gate().WireType(fault->_GetDataType(), nullptr);
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
  XmlInput in(ctx, document);
  XmlDecoder d(ctx);
  if (LocalName(in.Root().name()) != "Fault") {
    ctx.Fail(WireError::Kind::kMalformed, "the document is not a fault");
  }
  return ReadFaultBody(ctx, d, in.Root());
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
