// The JSON encoding. Both directions are written by hand: the reader is a
// small pull parser over the whole (size-limited) document that decodes
// straight into data objects, so nesting, value counts and string lengths
// are checked as they are met and nothing is built that is not asked for.
#include <cstring>

#include "movel/data_types.h"
#include "movel/fault.h"
#include "wire_internal.h"

namespace Movel {
namespace wire {
namespace {

// Thrown by a data object read as its declared type when a _typeName turns
// up among its members; the reader starts the object over (see Value).
struct LateTypeName {};

constexpr const char kTypeKey[] = "_typeName";
constexpr const char kValueKey[] = "_value";
constexpr const char kSecretText[] = "(secret)";

// ---------------------------------------------------------------------------
// Writing

class JsonWriter {
 public:
  JsonWriter(std::string& out, const EncodeOptions& options)
      : out_(out), options_(options), gate_(options.peerVersion) {}

  const VersionGate& Gate() const { return gate_; }

  void String(std::string_view s) {
    out_ += '"';
    const char* p = s.data();
    const char* end = p + s.size();
    const char* run = p;
    for (; p != end; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      out_.append(run, p);
      run = p + 1;
      switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '\n': out_ += "\\n"; break;
        case '\r': out_ += "\\r"; break;
        case '\t': out_ += "\\t"; break;
        default: {
          static const char kHex[] = "0123456789abcdef";
          out_ += "\\u00";
          out_ += kHex[c >> 4];
          out_ += kHex[c & 15];
        }
      }
    }
    out_.append(run, end);
    out_ += '"';
  }
  void Key(std::string_view name) {
    String(name);
    out_ += ':';
  }
  void Raw(std::string_view s) { out_ += s; }
  void Char(char c) { out_ += c; }

  void Scalar(const Slot& slot, const void* p) {
    if (slot.secret && options_.maskSecrets) {
      String(kSecretText);
      return;
    }
    switch (slot.kind) {
      case ValueKind::kString:
        String(*static_cast<const std::string*>(p));
        return;
      case ValueKind::kBool:
      case ValueKind::kByte:
      case ValueKind::kShort:
      case ValueKind::kInt:
      case ValueKind::kLong:
        AppendScalar(out_, slot.kind, p, slot.type);
        return;
      case ValueKind::kFloat:
      case ValueKind::kDouble: {
        const std::size_t at = out_.size();
        AppendScalar(out_, slot.kind, p, slot.type);
        // NaN and the infinities have no JSON number: they travel as strings.
        const char c = out_[at];
        if (c == 'N' || c == 'I' || (c == '-' && out_[at + 1] == 'I')) {
          scratch_.assign(out_, at, std::string::npos);
          out_.resize(at);
          String(scratch_);
        }
        return;
      }
      default:
        scratch_.clear();
        AppendScalar(scratch_, slot.kind, p, slot.type);
        String(scratch_);
    }
  }

  void Data(const DataObject* o, const Type* declared) {
    const DataObjectType* wireType = gate_.WireType(o->_GetDataType(), declared);
    if (!wireType) {
      Raw("null");
      return;
    }
    out_ += '{';
    bool first = true;
    if (wireType != declared) {
      Key(kTypeKey);
      String(wireType->GetWsdlName());
      first = false;
    }
    Members(o, PlanOf(wireType), first);
    out_ += '}';
  }

  void Members(const DataObject* o, const Plan& plan, bool first) {
    for (const Member& m : plan.members) {
      if (!gate_.Open() && !gate_.Allows(m.version)) continue;
      const void* p = PeekMember(o, m);
      if (!p) continue;
      if (!first) out_ += ',';
      first = false;
      Key(m.name);
      if (m.slot.array) {
        Array(m.slot, static_cast<const Any*>(p));
      } else if (IsScalar(m.slot.kind)) {
        Scalar(m.slot, p);
      } else {
        Single(m.slot, static_cast<const Any*>(p));
      }
    }
  }

  void Array(const Slot& slot, const Any* array) {
    Slot element = slot;
    element.array = false;
    out_ += '[';
    bool first = true;
    ForEachElement(
        array, element,
        [&](const void* p) {
          if (!first) out_ += ',';
          first = false;
          Scalar(element, p);
        },
        [&](const Any* item) {
          if (!first) out_ += ',';
          first = false;
          Single(element, item);
        });
    out_ += ']';
  }

  void Reference(const MoRef* ref, bool named) {
    out_ += '{';
    if (named) {
      Key(kTypeKey);
      String(kMoRefWireName);
      out_ += ',';
    }
    Key("type");
    String(ref->GetType() ? ref->GetType()->GetWsdlName() : std::string("ManagedObject"));
    out_ += ',';
    Key("value");
    String(ref->GetId());
    if (const std::string* guid = ref->GetServerGuid()) {
      out_ += ',';
      Key("serverGuid");
      String(*guid);
    }
    out_ += '}';
  }

  // One value in a place of the given (non-array) slot.
  void Single(const Slot& slot, const Any* v) {
    if (!v) {
      Raw("null");
      return;
    }
    if (slot.array) {
      Array(slot, v);
      return;
    }
    switch (slot.kind) {
      case ValueKind::kData:
        if (const auto* o = AsA<DataObject>(v)) {
          Data(o, slot.type);
          return;
        }
        break;
      case ValueKind::kMoRef:
        if (const auto* ref = AsA<MoRef>(v)) {
          Reference(ref, false);
          return;
        }
        break;
      case ValueKind::kAny:
        AnyValue(v);
        return;
      default:
        if (BoxedScalar(slot, v)) return;
        break;
    }
    throw WireError(WireError::Kind::kWrongType, "/",
                    "a value of type " + v->ToString() + " where " + WireTypeName(slot) +
                        " is declared");
  }

  bool BoxedScalar(const Slot& slot, const Any* v) {
    int enumValue = 0;
    const void* p = BoxedValue(slot, v, enumValue);
    if (!p) return false;
    Scalar(slot, p);
    return true;
  }

  // A value in a place of any type names its type.
  void AnyValue(const Any* v) {
    if (const auto* o = AsA<DataObject>(v)) {
      Data(o, nullptr);
      return;
    }
    if (const auto* ref = AsA<MoRef>(v)) {
      Reference(ref, true);
      return;
    }
    Slot slot = SlotOfValue(v);
    if (slot.kind == ValueKind::kEnum && !gate_.AllowsType(slot.type)) {
      Raw("null");
      return;
    }
    if (slot.kind == ValueKind::kAny && !slot.array) {
      throw WireError(WireError::Kind::kWrongType, "/",
                      "a value of class " + v->ToString() + " has no wire form");
    }
    out_ += '{';
    Key(kTypeKey);
    String(WireTypeName(slot));
    out_ += ',';
    Key(kValueKey);
    if (slot.array) {
      Array(slot, v);
    } else if (!BoxedScalar(slot, v)) {
      throw WireError(WireError::Kind::kWrongType, "/",
                      "a value of class " + v->ToString() + " has no wire form");
    }
    out_ += '}';
  }

 private:
  std::string& out_;
  const EncodeOptions& options_;
  VersionGate gate_;
  std::string scratch_;
};

// ---------------------------------------------------------------------------
// Reading

class JsonReader {
 public:
  JsonReader(DecodeContext& ctx, std::string_view document)
      : ctx_(ctx), begin_(document.data()), p_(document.data()), end_(document.data() + document.size()) {
    ctx_.CheckMessage(document.size());
  }

  // The next significant character, or 0 at the end.
  char Peek() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    return p_ == end_ ? '\0' : *p_;
  }
  void Expect(char c) {
    const char got = Peek();
    if (got != c) {
      if (!got) ctx_.Fail(WireError::Kind::kTruncated, std::string("the document ends where '") + c + "' is expected");
      ctx_.Fail(WireError::Kind::kMalformed, std::string("'") + c + "' expected at offset " + Offset());
    }
    ++p_;
  }
  void End() {
    if (Peek()) ctx_.Fail(WireError::Kind::kMalformed, "content after the document at offset " + Offset());
  }

  // Member protocol: after '{', each call moves to the next key and its ':'
  // and returns it, or consumes '}' and returns false.
  bool NextKey(bool& first, std::string_view& key) {
    const char c = Peek();
    if (c == '}') {
      ++p_;
      return false;
    }
    if (!first) {
      Expect(',');
      Peek();
    }
    first = false;
    key = String(true);
    Expect(':');
    return true;
  }
  // The same for the items of an array after '['.
  bool NextItem(bool& first) {
    const char c = Peek();
    if (c == ']') {
      ++p_;
      return false;
    }
    if (!first) Expect(',');
    first = false;
    return true;
  }

  // A string at the cursor, unescaped. Keys and values use separate
  // buffers, so a key stays valid while its value is read.
  std::string_view String(bool key) {
    if (Peek() != '"') {
      if (!Peek()) ctx_.Fail(WireError::Kind::kTruncated, "the document ends where a string is expected");
      ctx_.Fail(WireError::Kind::kWrongType, "a string expected at offset " + Offset());
    }
    ++p_;
    const char* start = p_;
    while (p_ != end_ && *p_ != '"' && *p_ != '\\' && static_cast<unsigned char>(*p_) >= 0x20) ++p_;
    if (p_ == end_) ctx_.Fail(WireError::Kind::kTruncated, "the document ends inside a string");
    if (*p_ == '"') {
      std::string_view s(start, static_cast<std::size_t>(p_ - start));
      ++p_;
      ctx_.CheckString(s.size());
      return s;
    }
    std::string& out = key ? keyBuffer_ : valueBuffer_;
    out.assign(start, p_);
    while (true) {
      if (p_ == end_) ctx_.Fail(WireError::Kind::kTruncated, "the document ends inside a string");
      const auto c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        ++p_;
        break;
      }
      if (c < 0x20) ctx_.Fail(WireError::Kind::kMalformed, "a control character inside a string");
      if (c != '\\') {
        out += static_cast<char>(c);
        ++p_;
      } else {
        Escape(out);
      }
      if (out.size() > ctx_.Options().limits.maxStringBytes) ctx_.CheckString(out.size());
    }
    ctx_.CheckString(out.size());
    return out;
  }

  // The text of a number token.
  std::string_view Number() {
    Peek();
    const char* start = p_;
    while (p_ != end_ && ((*p_ >= '0' && *p_ <= '9') || *p_ == '-' || *p_ == '+' || *p_ == '.' ||
                          *p_ == 'e' || *p_ == 'E')) {
      ++p_;
    }
    if (p_ == start) ctx_.Fail(WireError::Kind::kWrongType, "a number expected at offset " + Offset());
    if (p_ == end_) ctx_.Fail(WireError::Kind::kTruncated, "the document ends inside a number");
    return std::string_view(start, static_cast<std::size_t>(p_ - start));
  }

  // true, false or null at the cursor; false when none is there.
  bool Literal(const char* word) {
    Peek();
    const std::size_t n = std::strlen(word);
    if (static_cast<std::size_t>(end_ - p_) < n) {
      if (std::memcmp(p_, word, static_cast<std::size_t>(end_ - p_)) == 0 && p_ != end_) {
        ctx_.Fail(WireError::Kind::kTruncated, "the document ends inside a literal");
      }
      return false;
    }
    if (std::memcmp(p_, word, n) != 0) return false;
    p_ += n;
    return true;
  }

  // Skips one value, counting what it holds against the limits.
  void Skip() {
    ctx_.CountElement();
    const char c = Peek();
    if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++p_;
      PathStep step(ctx_, "...");
      bool first = true;
      if (close == '}') {
        std::string_view key;
        while (NextKey(first, key)) Skip();
      } else {
        while (NextItem(first)) Skip();
      }
      return;
    }
    if (c == '"') {
      String(false);
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      Number();
    } else if (!Literal("true") && !Literal("false") && !Literal("null")) {
      if (!c) ctx_.Fail(WireError::Kind::kTruncated, "the document ends where a value is expected");
      ctx_.Fail(WireError::Kind::kMalformed, "no JSON value at offset " + Offset());
    }
  }

  const char* Position() const { return p_; }
  void Rewind(const char* p) { p_ = p; }

 private:
  std::string Offset() const { return std::to_string(p_ - begin_); }

  unsigned Hex4() {
    if (end_ - p_ < 4) ctx_.Fail(WireError::Kind::kTruncated, "the document ends inside an escape");
    unsigned v = 0;
    for (int i = 0; i < 4; ++i, ++p_) {
      const char c = *p_;
      v <<= 4;
      if (c >= '0' && c <= '9') {
        v |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        v |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        v |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        ctx_.Fail(WireError::Kind::kMalformed, "a bad \\u escape");
      }
    }
    return v;
  }

  void Escape(std::string& out) {
    ++p_;  // the backslash
    if (p_ == end_) ctx_.Fail(WireError::Kind::kTruncated, "the document ends inside an escape");
    const char c = *p_++;
    switch (c) {
      case '"': out += '"'; return;
      case '\\': out += '\\'; return;
      case '/': out += '/'; return;
      case 'b': out += '\b'; return;
      case 'f': out += '\f'; return;
      case 'n': out += '\n'; return;
      case 'r': out += '\r'; return;
      case 't': out += '\t'; return;
      case 'u': break;
      default: ctx_.Fail(WireError::Kind::kMalformed, "an unknown escape in a string");
    }
    unsigned cp = Hex4();
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') {
        ctx_.Fail(WireError::Kind::kMalformed, "a lone surrogate escape");
      }
      p_ += 2;
      const unsigned low = Hex4();
      if (low < 0xDC00 || low > 0xDFFF) ctx_.Fail(WireError::Kind::kMalformed, "a lone surrogate escape");
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      ctx_.Fail(WireError::Kind::kMalformed, "a lone surrogate escape");
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  DecodeContext& ctx_;
  const char* begin_;
  const char* p_;
  const char* end_;
  std::string keyBuffer_;
  std::string valueBuffer_;
};

class JsonDecoder {
 public:
  JsonDecoder(DecodeContext& ctx, JsonReader& r) : ctx_(ctx), r_(r) {}

  // The scalar token at the cursor as text, checked against the kind's JSON
  // form: numbers for numbers, true/false for booleans, strings otherwise.
  ScalarText Scalar(const Slot& slot) {
    const char c = r_.Peek();
    switch (slot.kind) {
      case ValueKind::kBool:
        if (r_.Literal("true")) return ScalarText{"true", slot.secret};
        if (r_.Literal("false")) return ScalarText{"false", slot.secret};
        Wrong(c, "a boolean");
      case ValueKind::kByte:
      case ValueKind::kShort:
      case ValueKind::kInt:
      case ValueKind::kLong:
        if (c == '-' || (c >= '0' && c <= '9')) return ScalarText{r_.Number(), slot.secret};
        Wrong(c, "a number");
      case ValueKind::kFloat:
      case ValueKind::kDouble:
        if (c == '-' || (c >= '0' && c <= '9')) return ScalarText{r_.Number(), slot.secret};
        if (c == '"') return ScalarText{r_.String(false), slot.secret};
        Wrong(c, "a number");
      default:
        if (c == '"') return ScalarText{r_.String(false), slot.secret};
        Wrong(c, "a string");
    }
  }

  [[noreturn]] void Wrong(char c, const char* expected) {
    if (!c) ctx_.Fail(WireError::Kind::kTruncated, std::string("the document ends where ") + expected + " is expected");
    ctx_.Fail(WireError::Kind::kWrongType, std::string(expected) + " is expected here");
  }

  // The value at the cursor in a place of the given slot.
  Basekit::Ref<Any> Value(const Slot& declared) {
    ctx_.CountElement();
    if (r_.Literal("null")) return nullptr;
    if (declared.array) {
      Slot element = declared;
      element.array = false;
      return ArrayValue(element);
    }
    if (IsScalar(declared.kind)) return BoxScalar(ctx_, declared.kind, declared.type, Scalar(declared));
    if (r_.Peek() != '{') Wrong(r_.Peek(), "an object");
    r_.Expect('{');
    std::string named;
    bool first = true;
    bool hasName = TypeName(named, first, false);
    if (!hasName && declared.kind == ValueKind::kData && declared.type) {
      // Writers name a value's class first, as ours does; a name further in
      // is rare. Read the object as the declared type, and only when a name
      // turns up after all start over with a look through the object: looking
      // ahead in every object would read nested documents once per level.
      const char* start = r_.Position();
      try {
        return Data(static_cast<const DataObjectType*>(declared.type), first, true);
      } catch (const LateTypeName&) {
        r_.Rewind(start);
        first = true;
      }
      hasName = TypeName(named, first, true);
    } else if (!hasName) {
      hasName = TypeName(named, first, true);
    }
    Slot slot = declared;
    if (hasName) {
      Slot s;
      if (!SlotOfWireName(named, s)) {
        ctx_.Fail(WireError::Kind::kUnknownType, "unknown type '" + named.substr(0, 80) + "'");
      }
      CheckFits(s, declared, named);
      s.secret = declared.secret;
      slot = s;
    } else if (declared.kind == ValueKind::kAny) {
      ctx_.Fail(WireError::Kind::kWrongType, "a value in a place of any type must name its type");
    }
    if (slot.kind == ValueKind::kData && !slot.array) {
      return Data(static_cast<const DataObjectType*>(slot.type), first);
    }
    if (slot.kind == ValueKind::kMoRef && !slot.array) return Reference(first);
    // A box: {"_typeName":..,"_value":..}.
    Basekit::Ref<Any> v;
    bool seen = false;
    std::string_view key;
    while (r_.NextKey(first, key)) {
      if (key == kTypeKey) {
        r_.String(false);
        continue;
      }
      if (key != kValueKey) {
        if (ctx_.Options().strict) ctx_.Fail(WireError::Kind::kUnknownElement, "a boxed value holds only _value");
        r_.Skip();
        continue;
      }
      PathStep step(ctx_, kValueKey);
      if (slot.array) {
        Slot element = slot;
        element.array = false;
        if (r_.Literal("null")) {
          v = nullptr;
        } else {
          v = ArrayValue(element);
        }
      } else {
        v = BoxScalar(ctx_, slot.kind, slot.type, Scalar(slot));
      }
      seen = true;
    }
    if (!seen) ctx_.Fail(WireError::Kind::kMalformed, "a boxed value without _value");
    return v;
  }

  Basekit::Ref<Any> ArrayValue(const Slot& element) {
    if (r_.Peek() != '[') Wrong(r_.Peek(), "an array");
    r_.Expect('[');
    ArrayBuilder builder(element.kind, element.type);
    bool first = true;
    int i = 0;
    while (r_.NextItem(first)) {
      PathStep step(ctx_, "", i++);
      if (IsScalar(element.kind)) {
        ctx_.CountElement();
        builder.AddScalar(ctx_, Scalar(element));
      } else {
        Basekit::Ref<Any> v = Value(element);
        builder.AddValue(ctx_, v);
      }
    }
    return builder.Finish(ctx_);
  }

  // Right after '{': finds "_typeName", first or (with lookAhead) anywhere
  // in the object, without consuming anything but a leading one.
  bool TypeName(std::string& out, bool& first, bool lookAhead) {
    const char* start = r_.Position();
    std::string_view key;
    bool probeFirst = true;
    if (!r_.NextKey(probeFirst, key)) {
      r_.Rewind(start);
      return false;
    }
    if (key == kTypeKey) {
      out = std::string(r_.String(false));
      first = false;
      return true;
    }
    if (!lookAhead) {
      r_.Rewind(start);
      return false;
    }
    // Not first: look ahead through the object, then come back.
    bool found = false;
    r_.Skip();
    while (r_.NextKey(probeFirst, key)) {
      if (key == kTypeKey) {
        out = std::string(r_.String(false));
        found = true;
        break;
      }
      r_.Skip();
    }
    r_.Rewind(start);
    return found;
  }

  // The members of a data object, after '{' (and a leading _typeName).
  // lateNameRestarts: the caller read no leading _typeName and assumed the
  // declared type; a _typeName among the members throws LateTypeName so that
  // it reads the object again knowing its class.
  Basekit::Ref<DataObject> Data(const DataObjectType* type, bool first, bool lateNameRestarts = false) {
    Basekit::Ref<DataObject> o(type->CreateInstance());
    if (!o) ctx_.Fail(WireError::Kind::kWrongType, "type " + type->GetWsdlName() + " cannot be made");
    const Plan& plan = PlanOf(type);
    std::vector<bool> seen(plan.members.size());
    std::string_view key;
    while (r_.NextKey(first, key)) {
      if (key == kTypeKey) {
        if (lateNameRestarts) throw LateTypeName{};
        r_.String(false);
        continue;
      }
      const int index = plan.Find(key);
      if (index < 0) {
        if (ctx_.Options().strict) {
          PathStep step(ctx_, key);
          ctx_.Fail(WireError::Kind::kUnknownElement,
                    "type " + type->GetWsdlName() + " has no property '" + std::string(key.substr(0, 80)) + "'");
        }
        r_.Skip();
        continue;
      }
      const Member& m = plan.members[static_cast<std::size_t>(index)];
      if (!ctx_.Gate().Allows(m.version)) {
        r_.Skip();
        continue;
      }
      PathStep step(ctx_, m.name);
      if (seen[static_cast<std::size_t>(index)]) ctx_.Fail(WireError::Kind::kMalformed, "the property is given twice");
      seen[static_cast<std::size_t>(index)] = true;
      if (r_.Literal("null")) {
        ctx_.CountElement();
        continue;
      }
      if (m.slot.array) {
        Slot element = m.slot;
        element.array = false;
        ctx_.CountElement();
        Basekit::Ref<Any> array = ArrayValue(element);
        StoreObjectMember(ctx_, o, m, array);
      } else if (IsScalar(m.slot.kind)) {
        ctx_.CountElement();
        StoreMember(ctx_, o, m, Scalar(m.slot));
      } else {
        Basekit::Ref<Any> v = Value(m.slot);
        StoreObjectMember(ctx_, o, m, v);
      }
    }
    return o;
  }

  // The members of a reference, after '{' (and a leading _typeName).
  Basekit::Ref<MoRef> Reference(bool first) {
    std::string type, id, guid;
    bool hasType = false, hasId = false, hasGuid = false;
    std::string_view key;
    while (r_.NextKey(first, key)) {
      if (key == "type") {
        type = std::string(r_.String(false));
        hasType = true;
      } else if (key == "value") {
        id = std::string(r_.String(false));
        hasId = true;
      } else if (key == "serverGuid") {
        guid = std::string(r_.String(false));
        hasGuid = true;
      } else if (key == kTypeKey) {
        r_.String(false);
      } else {
        if (ctx_.Options().strict) ctx_.Fail(WireError::Kind::kUnknownElement, "a reference holds type and value only");
        r_.Skip();
      }
    }
    if (!hasType || !hasId) ctx_.Fail(WireError::Kind::kMalformed, "a reference needs its type and value");
    const Type* t = FindTypeByWsdlName(type);
    if (!t || !t->IsManaged()) ctx_.Fail(WireError::Kind::kUnknownType, "unknown managed type '" + type.substr(0, 80) + "'");
    auto* mt = const_cast<ManagedObjectType*>(static_cast<const ManagedObjectType*>(t));
    if (hasGuid) return Basekit::Ref<MoRef>(new MoRef(mt, std::move(id), std::move(guid)));
    return Basekit::Ref<MoRef>(new MoRef(mt, std::move(id)));
  }

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
  DecodeContext& ctx_;
  JsonReader& r_;
};

Basekit::Ref<MethodFault> ReadFault(DecodeContext& ctx, JsonDecoder& d) {
  PathStep step(ctx, "_fault");
  Slot slot;
  slot.kind = ValueKind::kData;
  slot.type = GetDoType<MethodFault>();
  Basekit::Ref<Any> v = d.Value(slot);
  Basekit::Ref<MethodFault> fault(dynamic_cast<MethodFault*>(v.Get()));
  if (!fault) ctx.Fail(WireError::Kind::kWrongType, "the fault is not a fault");
  return fault;
}

}  // namespace

std::string JsonEncodeValue(const Any* value, const EncodeOptions& options) {
  std::string out;
  out.reserve(1024);
  JsonWriter w(out, options);
  Slot any;
  w.Single(any, value);
  return out;
}

Basekit::Ref<Any> JsonDecodeValue(std::string_view document, const DecodeOptions& options,
                                  const Type* declared) {
  DecodeContext ctx(options);
  JsonReader r(ctx, document);
  JsonDecoder d(ctx, r);
  Slot any;
  Basekit::Ref<Any> v = d.Value(any);
  r.End();
  CheckDeclaredType(ctx, v.Get(), declared);
  return v;
}

std::string JsonEncodeRequest(const MoRef* target, const ManagedMethod* method,
                              const Basekit::RefVector<Any>& args, const EncodeOptions& options) {
  std::string out;
  out.reserve(512);
  JsonWriter w(out, options);
  w.Char('{');
  w.Key("_operation");
  w.String(method->GetWsdlName());
  w.Char(',');
  w.Key("_this");
  w.Reference(target, false);
  const std::vector<Parameter>& params = method->GetParameters();
  for (std::size_t i = 0; i < params.size() && i < args.size(); ++i) {
    const Parameter& p = params[i];
    if (!args[i]) continue;
    if (!w.Gate().Open() && !w.Gate().Allows(FindVersion(p.GetVersionName() ? p.GetVersionName() : ""))) {
      continue;
    }
    w.Char(',');
    w.Key(p.GetName());
    w.Single(SlotOf(p.GetTypeInfo(), p.GetFlags()), args[i]);
  }
  w.Char('}');
  return out;
}

WireRequest JsonDecodeRequest(std::string_view document, const DecodeOptions& options) {
  DecodeContext ctx(options);
  JsonReader r(ctx, document);
  JsonDecoder d(ctx, r);
  WireRequest request;
  r.Expect('{');
  // The operation and the target come first: the parameters are read by
  // the method they name.
  bool first = true;
  std::string_view key;
  if (!r.NextKey(first, key) || key != "_operation") {
    ctx.Fail(WireError::Kind::kMalformed, "a request must begin with _operation");
  }
  const std::string op(r.String(false));
  PathStep root(ctx, op);
  if (!r.NextKey(first, key) || key != "_this") ctx.Fail(WireError::Kind::kMalformed, "a request names _this second");
  {
    PathStep step(ctx, "_this");
    Slot slot;
    slot.kind = ValueKind::kMoRef;
    slot.type = GetManagedObjectRootType();
    Basekit::Ref<Any> target = d.Value(slot);
    request.target = dynamic_cast<MoRef*>(target.Get());
    if (!request.target) ctx.Fail(WireError::Kind::kMalformed, "a request without its target");
  }
  const ManagedObjectType* type = request.target->GetType();
  const ManagedMethod* method = type ? type->FindMethod(op) : nullptr;
  if (!method || (method->GetWsdlName() != op && method->GetName() != op)) {
    ctx.Fail(WireError::Kind::kUnknownMethod, "type " + (type ? type->GetWsdlName() : std::string("?")) +
                                                  " has no operation '" + op.substr(0, 80) + "'");
  }
  request.method = method;
  const std::vector<Parameter>& params = method->GetParameters();
  request.args.resize(params.size());
  std::vector<bool> seen(params.size());
  while (r.NextKey(first, key)) {
    std::size_t index = params.size();
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (key == params[i].GetName()) {
        index = i;
        break;
      }
    }
    if (index == params.size()) {
      if (options.strict) {
        PathStep step(ctx, key);
        ctx.Fail(WireError::Kind::kUnknownElement,
                 "operation " + op + " has no parameter '" + std::string(key.substr(0, 80)) + "'");
      }
      r.Skip();
      continue;
    }
    const Parameter& p = params[index];
    if (!ctx.Gate().Allows(FindVersion(p.GetVersionName() ? p.GetVersionName() : ""))) {
      r.Skip();
      continue;
    }
    PathStep step(ctx, p.GetName());
    if (seen[index]) ctx.Fail(WireError::Kind::kMalformed, "the parameter is given twice");
    seen[index] = true;
    request.args[index] = d.Value(SlotOf(p.GetTypeInfo(), p.GetFlags()));
  }
  r.End();
  return request;
}

std::string JsonEncodeResponse(const ManagedMethod* method, const Any* result,
                               const EncodeOptions& options) {
  std::string out;
  out.reserve(512);
  JsonWriter w(out, options);
  w.Char('{');
  if (result) {
    w.Key("returnval");
    w.Single(ResultSlotOf(method), result);
  }
  w.Char('}');
  return out;
}

Basekit::Ref<Any> JsonDecodeResponse(std::string_view document, const ManagedMethod* method,
                                     const DecodeOptions& options) {
  DecodeContext ctx(options);
  JsonReader r(ctx, document);
  JsonDecoder d(ctx, r);
  r.Expect('{');
  Basekit::Ref<Any> result;
  Basekit::Ref<MethodFault> fault;
  bool first = true;
  bool seen = false;
  std::string_view key;
  while (r.NextKey(first, key)) {
    if (key == "_fault") {
      fault = ReadFault(ctx, d);
    } else if (key == "returnval") {
      PathStep step(ctx, "returnval");
      if (seen) ctx.Fail(WireError::Kind::kMalformed, "the result is given twice");
      seen = true;
      result = d.Value(ResultSlotOf(method));
    } else {
      if (options.strict) {
        PathStep step(ctx, key);
        ctx.Fail(WireError::Kind::kUnknownElement, "a response holds only returnval");
      }
      r.Skip();
    }
  }
  r.End();
  if (fault) fault->Throw();
  return result;
}

std::string JsonEncodeFault(const MethodFault* fault, const EncodeOptions& options) {
  std::string out;
  out.reserve(512);
  JsonWriter w(out, options);
  w.Char('{');
  w.Key("_fault");
  const DataObjectType* type = w.Gate().WireType(fault->_GetDataType(), nullptr);
  if (!type) type = GetDoType<MethodFault>();
  w.Char('{');
  w.Key(kTypeKey);
  w.String(type->GetWsdlName());
  w.Members(fault, PlanOf(type), false);
  w.Char('}');
  w.Char(',');
  w.Key("faultstring");
  w.String(FaultText(fault));
  w.Char('}');
  return out;
}

Basekit::Ref<MethodFault> JsonDecodeFault(std::string_view document, const DecodeOptions& options) {
  DecodeContext ctx(options);
  JsonReader r(ctx, document);
  JsonDecoder d(ctx, r);
  r.Expect('{');
  Basekit::Ref<MethodFault> fault;
  bool first = true;
  std::string_view key;
  while (r.NextKey(first, key)) {
    if (key == "_fault") {
      if (fault) ctx.Fail(WireError::Kind::kMalformed, "two faults in one document");
      fault = ReadFault(ctx, d);
    } else {
      r.Skip();
    }
  }
  r.End();
  if (!fault) ctx.Fail(WireError::Kind::kMalformed, "the document is not a fault");
  return fault;
}

bool JsonIsFault(std::string_view document) {
  std::size_t i = document.find_first_not_of(" \t\r\n");
  if (i == std::string_view::npos || document[i] != '{') return false;
  i = document.find_first_not_of(" \t\r\n", i + 1);
  return i != std::string_view::npos && document.substr(i, 8) == "\"_fault\"";
}

}  // namespace wire
}  // namespace Movel
