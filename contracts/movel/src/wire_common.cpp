// The parts of the wire codecs that do not depend on the format: member
// plans, versions, errors, scalar texts, arrays and base64.
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <system_error>
#include <unordered_map>

#include "internal.h"
#include "movel/builtin.h"
#include "movel/data_types.h"
#include "movel/fault.h"
#include "wire_internal.h"

namespace Movel {

// ---- errors ----

const char* WireErrorKindName(WireError::Kind kind) {
  switch (kind) {
    case WireError::Kind::kMalformed: return "malformed";
    case WireError::Kind::kTruncated: return "truncated";
    case WireError::Kind::kLimit: return "limit exceeded";
    case WireError::Kind::kForbidden: return "forbidden construct";
    case WireError::Kind::kWrongType: return "wrong type";
    case WireError::Kind::kUnknownType: return "unknown type";
    case WireError::Kind::kUnknownEnum: return "unknown enumeration value";
    case WireError::Kind::kOutOfRange: return "number out of range";
    case WireError::Kind::kUnknownElement: return "unknown element";
    case WireError::Kind::kUnknownMethod: return "unknown operation";
    case WireError::Kind::kNotInVersion: return "not in the peer's version";
  }
  return "error";
}

WireError::WireError(Kind kind, std::string path, const std::string& detail)
    : Basekit::Exception("wire: " + std::string(WireErrorKindName(kind)) + " at " + path + ": " +
                         detail),
      kind_(kind),
      path_(std::move(path)) {}
WireError::WireError(const WireError&) = default;
WireError::~WireError() = default;
Basekit::Exception* WireError::Clone() const { return new WireError(*this); }
void WireError::Rethrow() const { throw WireError(*this); }

Basekit::Ref<MethodFault> WireError::ToFault() const {
  Basekit::Ref<Fault::InvalidArgument> fault(new Fault::InvalidArgument());
  fault->SetInvalidProperty(PropertyPath(path_));
  Basekit::Ref<LocalizableMessage> message(new LocalizableMessage("wire.decodeError"));
  message->SetMessage(GetMessage());
  fault->GetOrCreateFaultMessage()->Append(message.Get());
  return Basekit::Ref<MethodFault>(fault.Get());
}

bool IsInVersion(const Version* item, const Version* peer) {
  if (!peer || !item || item == peer) return true;
  // The runtime's core versions precede every API version.
  if (item->GetNamespace() == "tydef") return true;
  return peer->IsSameOrDescendantOf(*item);
}

namespace wire {

// ---- kinds and slots ----

ValueKind KindOfTypeInfo(const TypeInfo* info) {
  if (!info) return ValueKind::kAny;
  switch (info->kind) {
    case kTypeKindEnum: return ValueKind::kEnum;
    case kTypeKindData:
    case kTypeKindFault: return ValueKind::kData;
    case kTypeKindManaged: return ValueKind::kMoRef;
    default: break;
  }
  static const std::pair<const TypeInfo*, ValueKind> kPrimitives[] = {
      {&gStringTypeInfo, ValueKind::kString},     {&gBoolTypeInfo, ValueKind::kBool},
      {&gByteTypeInfo, ValueKind::kByte},         {&gShortTypeInfo, ValueKind::kShort},
      {&gIntTypeInfo, ValueKind::kInt},           {&gLongTypeInfo, ValueKind::kLong},
      {&gFloatTypeInfo, ValueKind::kFloat},       {&gDoubleTypeInfo, ValueKind::kDouble},
      {&gDateTimeTypeInfo, ValueKind::kDateTime}, {&gBinaryTypeInfo, ValueKind::kBinary},
      {&gTypeNameTypeInfo, ValueKind::kTypeName}, {&gMethodNameTypeInfo, ValueKind::kMethodName},
      {&gPropertyPathTypeInfo, ValueKind::kPropertyPath}, {&gUriTypeInfo, ValueKind::kUri},
  };
  for (const auto& p : kPrimitives) {
    if (p.first == info) return p.second;
  }
  return ValueKind::kAny;
}

Slot SlotOf(const TypeInfo* info, Word flags) {
  // A link names its target's type but holds, and sends, only the key.
  if (flags & kFlagLink) info = &gStringTypeInfo;
  Slot s;
  s.kind = KindOfTypeInfo(info);
  s.type = s.kind == ValueKind::kAny ? nullptr : GetType(info);
  s.array = flags & kFlagArray;
  s.secret = flags & kFlagSecret;
  return s;
}

namespace {

Slot SlotOfType(const Type* type) {
  Slot s;
  if (!type) return s;
  if (type->IsArray()) {
    s = SlotOfType(static_cast<const ArrayType*>(type)->GetElementType());
    s.array = true;
    return s;
  }
  if (type->IsManaged()) {
    s.kind = ValueKind::kMoRef;
  } else if (type->IsDataObject()) {
    s.kind = ValueKind::kData;
  } else if (type->IsEnum()) {
    s.kind = ValueKind::kEnum;
  } else {
    s.kind = KindOfTypeInfo(type->GetTypeInfo());
  }
  s.type = s.kind == ValueKind::kAny ? nullptr : type;
  return s;
}

}  // namespace

Slot SlotOfValue(const Any* value) {
  if (const auto* ref = AsA<MoRef>(value)) {
    Slot s;
    s.kind = ValueKind::kMoRef;
    s.type = ref->GetType();
    return s;
  }
  if (const auto* data = AsA<DataObject>(value)) {
    Slot s;
    s.kind = ValueKind::kData;
    s.type = data->_GetDataType();
    return s;
  }
  return SlotOfType(value ? value->_GetType() : nullptr);
}

const void* BoxedValue(const Slot& slot, const Any* v, int& enumValue) {
  const void* p = nullptr;
  switch (slot.kind) {
#define MOVEL_WIRE_BOX(K, T)                                             \
case ValueKind::K:                                                     \
  if (const auto* b = AsA<Primitive<T>>(v)) p = &b->GetValue(); \
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
        enumValue =
            static_cast<const EnumType*>(slot.type)->GetFuncs().unboxValue(const_cast<Any*>(v));
        p = &enumValue;
      }
      break;
    default:
      break;
  }
  return p;
}

// A fault body's text: the fault's name and its first message.
std::string FaultText(const MethodFault* fault) {
  std::string text = fault->_GetType() ? fault->_GetType()->GetName() : std::string("fault");
  if (const DataArray<LocalizableMessage>* messages = fault->GetFaultMessage()) {
    if (messages->GetLength() > 0 && messages->Get(0) && messages->Get(0)->GetMessage()) {
      text += ": " + *messages->Get(0)->GetMessage();
    }
  }
  return text;
}

Slot ResultSlotOf(const ManagedMethod* method) {
  if (method->IsTask()) {
    Slot s;
    s.kind = ValueKind::kMoRef;
    s.type = GetManagedObjectRootType();
    return s;
  }
  const Parameter& result = method->GetResult();
  return SlotOf(result.GetTypeInfo(), result.GetFlags());
}

std::string WireTypeName(const Slot& slot) {
  std::string element;
  if (slot.kind == ValueKind::kMoRef) {
    element = kMoRefWireName;
  } else if (slot.kind == ValueKind::kAny || !slot.type) {
    element = "anyType";
  } else {
    element = slot.type->GetWsdlName();
  }
  return slot.array ? kArrayPrefix + element : element;
}

namespace {

bool FindSlotOfWireName(std::string_view name, Slot& out);

}  // namespace

// The codecs' per-thread memos (see detail::PerThread).
struct ThreadMemos {
  CastMemo casts[kCastMemos] = {};
  // Names of types the thread has resolved, by hash.
  struct Name {
    std::string name;
    Slot slot;
  };
  Name names[64];
  // Plans the thread has used lately, by type.
  struct PlanHit {
    const DataObjectType* type = nullptr;
    const Plan* plan = nullptr;
  };
  PlanHit plans[64];
};

namespace {

// The calling thread's memos, or null when it is exiting or out of memory.
ThreadMemos* Memos() { return detail::PerThread<ThreadMemos>::Get(); }

}  // namespace

CastMemo* ThreadCastMemos() {
  ThreadMemos* memos = Memos();
  return memos ? memos->casts : nullptr;
}

bool SlotOfWireName(std::string_view name, Slot& out) {
  // Documents name the same few types over and over: each thread remembers
  // the names it has resolved (types stay registered as long as the library
  // is loaded), so the registry is searched once per name.
  ThreadMemos* memos = Memos();
  if (!memos) return FindSlotOfWireName(name, out);
  std::size_t h = name.size();
  for (char c : name) h = h * 131 + static_cast<unsigned char>(c);
  ThreadMemos::Name& e = memos->names[h & 63u];
  if (!e.name.empty() && e.name == name) {
    out = e.slot;
    return true;
  }
  if (!FindSlotOfWireName(name, out)) return false;
  if (name.size() <= 64) {
    e.name.assign(name.data(), name.size());
    e.slot = out;
  }
  return true;
}

namespace {

bool FindSlotOfWireName(std::string_view name, Slot& out) {
  if (name == kMoRefWireName) {
    out = Slot{};
    out.kind = ValueKind::kMoRef;
    out.type = GetManagedObjectRootType();
    return true;
  }
  if (const Type* t = FindTypeByWsdlName(name)) {
    if (t->IsManaged()) return false;  // managed types travel as references only
    out = SlotOfType(t);
    return true;
  }
  const std::size_t prefix = sizeof(kArrayPrefix) - 1;
  if (name.size() > prefix && name.compare(0, prefix, kArrayPrefix) == 0) {
    Slot element;
    if (!FindSlotOfWireName(name.substr(prefix), element) || element.array) return false;
    out = element;
    out.array = true;
    return true;
  }
  return false;
}

}  // namespace

// ---- plans ----

int Plan::Find(std::string_view name) const {
  const auto n = static_cast<std::uint32_t>(name.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (nameLengths[i] == n && std::memcmp(members[i].name, name.data(), n) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

namespace {

std::unique_ptr<Plan> MakePlan(const DataObjectType* type) {
  std::vector<const DataObjectType*> chain;
  bool redeclared = false;
  for (const Type* t = type; t && t->IsDataObject();
       t = static_cast<const StructuredType*>(t)->GetParent()) {
    const auto* d = static_cast<const DataObjectType*>(t);
    chain.push_back(d);
    redeclared = redeclared || d->RedeclaresDynamicProperty();
  }
  auto plan = std::make_unique<Plan>();
  plan->type = type;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const DataObjectType* level = *it;
    const std::vector<Property>& own = level->GetOwnProperties();
    const DataLayout* layout = level->GetLayout();
    if (own.empty()) continue;
    if (!layout || layout->count != own.size()) {
      throw WireError(WireError::Kind::kWrongType, "/",
                      "the class of " + level->GetName() + " has no member table");
    }
    plan->levels.push_back(layout);
    const bool root = it == chain.rbegin() && level->GetParent() == nullptr;
    for (std::size_t i = 0; i < own.size(); ++i) {
      const Property& p = own[i];
      // A type that stores dynamicProperty itself shadows the root's.
      if (root && redeclared && p.GetName() == "dynamicProperty") continue;
      Member m;
      m.name = p.GetRecord().name;
      m.field = &layout->fields[i];
      m.version = FindVersion(p.GetVersionName() ? p.GetVersionName() : "");
      m.slot = SlotOf(p.GetTypeInfo(), p.GetFlags());
      m.optional = p.IsOptional();
      plan->members.push_back(m);
      plan->nameLengths.push_back(static_cast<std::uint32_t>(std::strlen(m.name)));
      plan->xmlOpen.push_back("<" + std::string(m.name) + ">");
      plan->xmlClose.push_back("</" + std::string(m.name) + ">");
    }
  }
  return plan;
}

struct PlanCache {
  std::shared_mutex mutex;
  std::unordered_map<const DataObjectType*, std::unique_ptr<Plan>> plans;
};

PlanCache& Plans() {
  static PlanCache* cache = new PlanCache;  // plans live as long as the types
  return *cache;
}

}  // namespace

const Plan& PlanOf(const DataObjectType* type) {
  // Most documents use a handful of types: a small per-thread table spares
  // the shared lock.
  ThreadMemos* memos = Memos();
  ThreadMemos::PlanHit unused;
  ThreadMemos::PlanHit& hit =
      memos ? memos->plans[(reinterpret_cast<std::uintptr_t>(type) >> 4) & 63] : unused;
  if (hit.type == type && hit.plan) return *hit.plan;
  PlanCache& cache = Plans();
  const Plan* plan = nullptr;
  {
    std::shared_lock<std::shared_mutex> lock(cache.mutex);
    auto it = cache.plans.find(type);
    if (it != cache.plans.end()) plan = it->second.get();
  }
  if (!plan) {
    std::unique_ptr<Plan> made = MakePlan(type);
    std::unique_lock<std::shared_mutex> lock(cache.mutex);
    auto& slot = cache.plans[type];
    if (!slot) slot = std::move(made);
    plan = slot.get();
  }
  hit = ThreadMemos::PlanHit{type, plan};
  return *plan;
}

const DataObjectType* VersionGate::WireType(const DataObjectType* type, const Type* declared) const {
  if (!peer_) return type;
  const DataObjectType* found = WireType(type);
  if (found && declared && found != type &&
      !static_cast<const StructuredType*>(found)->IsA(declared)) {
    return nullptr;
  }
  return found;
}

const DataObjectType* VersionGate::WireType(const DataObjectType* type) const {
  if (!peer_) return type;
  for (const Type* t = type; t && t->IsDataObject();
       t = static_cast<const StructuredType*>(t)->GetParent()) {
    if (AllowsType(t)) {
      const auto* d = static_cast<const DataObjectType*>(t);
      // Reaching the root means no type of the value's line is known.
      if (d != type && !static_cast<const StructuredType*>(d)->GetParent()) return nullptr;
      return d;
    }
  }
  return nullptr;
}

// ---- decoding context ----

std::string DecodeContext::Path() const {
  if (path_.empty()) return "/";
  std::string out;
  for (const Seg& s : path_) {
    if (!s.name.empty()) out += '/';  // array elements add their index only
    out += s.name;
    if (s.index >= 0) out += "[" + std::to_string(s.index) + "]";
  }
  // Steps with empty names (an element named "x:", an operation named "")
  // still leave the path rooted.
  if (out.empty() || out[0] != '/') out.insert(out.begin(), '/');
  return out;
}

void DecodeContext::Fail(WireError::Kind kind, const std::string& detail) const {
  throw WireError(kind, Path(), detail);
}

// ---- scalars ----

namespace {

template <class T>
void AppendNumber(std::string& out, T v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

template <class T>
void AppendFloating(std::string& out, T v) {
  if (std::isnan(v)) {
    out += "NaN";
  } else if (std::isinf(v)) {
    out += v < 0 ? "-INF" : "INF";
  } else {
    AppendNumber(out, v);
  }
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

void AppendBase64(std::string& out, const std::vector<unsigned char>& bytes) {
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  if (i + 1 == n) {
    const unsigned v = bytes[i] << 16;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == n) {
    const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += '=';
  }
}

bool DecodeBase64(std::string_view text, std::vector<unsigned char>& out) {
  static const auto kTable = [] {
    std::array<signed char, 256> t{};
    t.fill(-1);
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kBase64[i])] = static_cast<signed char>(i);
    return t;
  }();
  out.clear();
  out.reserve(text.size() / 4 * 3);
  unsigned acc = 0;
  int bits = 0;
  std::size_t pad = 0;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    if (c == '=') {
      ++pad;
      continue;
    }
    if (pad) return false;  // data after padding
    const int v = kTable[static_cast<unsigned char>(c)];
    if (v < 0) return false;
    acc = (acc << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<unsigned char>((acc >> bits) & 0xFF));
    }
  }
  // Leftover bits must be zero padding of a complete final group.
  return pad <= 2 && bits < 6 && (acc & ((1u << bits) - 1)) == 0;
}

namespace {

// The ISO 8601 text of a date-time, as DateTime::ToString writes it (year of
// at least four digits, the fraction without trailing zeros, "Z" or the
// offset), written straight into out: dates are frequent in documents and
// the formatted path allocates and goes through printf.
void AppendDateTime(std::string& out, const Basekit::System::DateTime& t) {
  constexpr std::int64_t kMicrosPerDay = 86400000000LL;
  const std::int64_t local = t.GetUtcTime() + std::int64_t{t.GetOffsetMinutes()} * 60000000LL;
  std::int64_t days = local / kMicrosPerDay;
  if (local % kMicrosPerDay < 0) --days;
  std::int64_t ofDay = local - days * kMicrosPerDay;
  // Civil date of a day count from 1970-01-01 (proleptic Gregorian).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);

  char buf[48];
  char* w = buf;
  std::uint64_t y = year < 0 ? static_cast<std::uint64_t>(-year) : static_cast<std::uint64_t>(year);
  if (year < 0) *w++ = '-';
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + y % 10);
    y /= 10;
  } while (y);
  for (int i = n; i < 4; ++i) *w++ = '0';
  while (n) *w++ = digits[--n];
  auto two = [&w](int v) {
    *w++ = static_cast<char>('0' + v / 10);
    *w++ = static_cast<char>('0' + v % 10);
  };
  *w++ = '-';
  two(month);
  *w++ = '-';
  two(day);
  *w++ = 'T';
  int micros = static_cast<int>(ofDay % 1000000);
  ofDay /= 1000000;
  two(static_cast<int>(ofDay / 3600));
  *w++ = ':';
  two(static_cast<int>(ofDay / 60 % 60));
  *w++ = ':';
  two(static_cast<int>(ofDay % 60));
  if (micros != 0) {
    *w++ = '.';
    int width = 6;
    while (micros % 10 == 0) {
      micros /= 10;
      --width;
    }
    for (int i = width - 1; i >= 0; --i) {
      w[i] = static_cast<char>('0' + micros % 10);
      micros /= 10;
    }
    w += width;
  }
  const int offset = t.GetOffsetMinutes();
  if (offset == 0) {
    *w++ = 'Z';
  } else {
    const int magnitude = offset < 0 ? -offset : offset;
    *w++ = offset < 0 ? '-' : '+';
    two(magnitude / 60 % 100);
    *w++ = ':';
    two(magnitude % 60);
  }
  out.append(buf, static_cast<std::size_t>(w - buf));
}

}  // namespace

void AppendScalar(std::string& out, ValueKind kind, const void* p, const Type* type) {
  switch (kind) {
    case ValueKind::kString: out += *static_cast<const std::string*>(p); break;
    case ValueKind::kBool: out += *static_cast<const bool*>(p) ? "true" : "false"; break;
    case ValueKind::kByte: AppendNumber(out, static_cast<int>(*static_cast<const signed char*>(p))); break;
    case ValueKind::kShort: AppendNumber(out, *static_cast<const short*>(p)); break;
    case ValueKind::kInt: AppendNumber(out, *static_cast<const int*>(p)); break;
    case ValueKind::kLong: AppendNumber(out, *static_cast<const long long*>(p)); break;
    case ValueKind::kFloat: AppendFloating(out, *static_cast<const float*>(p)); break;
    case ValueKind::kDouble: AppendFloating(out, *static_cast<const double*>(p)); break;
    case ValueKind::kDateTime:
      AppendDateTime(out, *static_cast<const Basekit::System::DateTime*>(p));
      break;
    case ValueKind::kBinary:
      AppendBase64(out, *static_cast<const std::vector<unsigned char>*>(p));
      break;
    case ValueKind::kTypeName: out += static_cast<const TypeName*>(p)->str(); break;
    case ValueKind::kMethodName: out += static_cast<const MethodName*>(p)->str(); break;
    case ValueKind::kPropertyPath: out += static_cast<const PropertyPath*>(p)->str(); break;
    case ValueKind::kUri: out += static_cast<const Uri*>(p)->str(); break;
    case ValueKind::kEnum: {
      const int v = *static_cast<const int*>(p);
      const auto* e = static_cast<const EnumType*>(type);
      if (!e || v < 0 || static_cast<std::size_t>(v) >= e->GetValues().size()) {
        throw WireError(WireError::Kind::kUnknownEnum, "/",
                        "value " + std::to_string(v) + " of " +
                            (e ? e->GetName() : std::string("an enumeration")) +
                            " has no wire string");
      }
      out += e->GetValues()[static_cast<std::size_t>(v)];
      break;
    }
    default: break;
  }
}

namespace {

// What a text is to the messages: quoted, or withheld when secret.
std::string Shown(const ScalarText& t) {
  if (t.secret) return "a secret value";
  std::string shown(t.text.substr(0, 40));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return "'" + shown + (t.text.size() > 40 ? "...'" : "'");
}

template <class T>
T ParseInteger(DecodeContext& ctx, const ScalarText& t, const char* what) {
  std::string_view s = t.text;
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  long long v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    ctx.Fail(WireError::Kind::kOutOfRange, Shown(t) + " is outside the range of " + what);
  }
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || s.empty()) {
    ctx.Fail(WireError::Kind::kWrongType, Shown(t) + " is not " + what);
  }
  if (v < static_cast<long long>(std::numeric_limits<T>::min()) ||
      v > static_cast<long long>(std::numeric_limits<T>::max())) {
    ctx.Fail(WireError::Kind::kOutOfRange, Shown(t) + " is outside the range of " + what);
  }
  return static_cast<T>(v);
}

template <class T>
T ParseFloating(DecodeContext& ctx, const ScalarText& t, const char* what) {
  std::string_view s = t.text;
  if (s == "NaN") return std::numeric_limits<T>::quiet_NaN();
  if (s == "INF" || s == "Infinity") return std::numeric_limits<T>::infinity();
  if (s == "-INF" || s == "-Infinity") return -std::numeric_limits<T>::infinity();
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  T v{};
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    ctx.Fail(WireError::Kind::kOutOfRange, Shown(t) + " is outside the range of " + what);
  }
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || s.empty()) {
    ctx.Fail(WireError::Kind::kWrongType, Shown(t) + " is not " + what);
  }
  return v;
}

// Parses t as a value of kind and calls sink with it as its C++ type (an int
// for enumerations).
template <class Sink>
decltype(auto) ParseScalar(DecodeContext& ctx, ValueKind kind, const Type* type, const ScalarText& t,
                           Sink&& sink) {
  switch (kind) {
    case ValueKind::kString:
      ctx.CheckString(t.text.size());
      return sink(std::string(t.text));
    case ValueKind::kBool:
      if (t.text == "true" || t.text == "1") return sink(true);
      if (t.text == "false" || t.text == "0") return sink(false);
      ctx.Fail(WireError::Kind::kWrongType, Shown(t) + " is not a boolean");
    case ValueKind::kByte: return sink(ParseInteger<signed char>(ctx, t, "a byte"));
    case ValueKind::kShort: return sink(ParseInteger<short>(ctx, t, "a short"));
    case ValueKind::kInt: return sink(ParseInteger<int>(ctx, t, "an int"));
    case ValueKind::kLong: return sink(ParseInteger<long long>(ctx, t, "a long"));
    case ValueKind::kFloat: return sink(ParseFloating<float>(ctx, t, "a float"));
    case ValueKind::kDouble: return sink(ParseFloating<double>(ctx, t, "a double"));
    case ValueKind::kDateTime: {
      Basekit::System::DateTime v;
      if (!Basekit::System::DateTime::Parse(std::string(t.text), v)) {
        ctx.Fail(WireError::Kind::kWrongType, Shown(t) + " is not an ISO 8601 date-time");
      }
      return sink(v);
    }
    case ValueKind::kBinary: {
      ctx.CheckString(t.text.size());
      std::vector<unsigned char> v;
      if (!DecodeBase64(t.text, v)) ctx.Fail(WireError::Kind::kWrongType, Shown(t) + " is not base64");
      return sink(std::move(v));
    }
    case ValueKind::kTypeName:
      ctx.CheckString(t.text.size());
      return sink(TypeName(std::string(t.text)));
    case ValueKind::kMethodName:
      ctx.CheckString(t.text.size());
      return sink(MethodName(std::string(t.text)));
    case ValueKind::kPropertyPath:
      ctx.CheckString(t.text.size());
      return sink(PropertyPath(std::string(t.text)));
    case ValueKind::kUri:
      ctx.CheckString(t.text.size());
      return sink(Uri(std::string(t.text)));
    case ValueKind::kEnum: {
      const auto* e = static_cast<const EnumType*>(type);
      const int v = e ? e->FindValue(t.text) : -1;
      if (v < 0) {
        ctx.Fail(WireError::Kind::kUnknownEnum,
                 Shown(t) + " is not a value of " + (e ? e->GetName() : std::string("the enumeration")));
      }
      return sink(v);
    }
    default:
      ctx.Fail(WireError::Kind::kWrongType, "a text where an object is expected");
  }
}

template <class V>
struct Plain {
  using type = std::decay_t<V>;
};

}  // namespace

void StoreMember(DecodeContext& ctx, DataObject* object, const Member& m, ScalarText t) {
  const FieldInfo& f = *m.field;
  ParseScalar(ctx, m.slot.kind, m.slot.type, t, [&](auto&& v) {
    using V = typename Plain<decltype(v)>::type;
    if constexpr (std::is_same<V, std::string>::value) {
      if (f.optional) {
        SetOptionalString(MemberAt<OptionalString>(object, f), v);
      } else {
        MemberAt<std::string>(object, f) = std::move(v);
      }
    } else if (f.optional) {
      MemberAt<Basekit::Optional<V>>(object, f) = v;
    } else {
      MemberAt<V>(object, f) = std::move(v);
    }
  });
}

void CheckDeclaredType(DecodeContext& ctx, const Any* v, const Type* declared) {
  if (!declared || !v) return;
  const Type* t = v->_GetType();
  const bool fits = t == declared ||
                    (t && !t->IsArray() && t->IsDataObject() &&
                     static_cast<const StructuredType*>(t)->IsA(declared)) ||
                    (declared->IsManaged() && dynamic_cast<const MoRef*>(v));
  if (!fits) {
    ctx.Fail(WireError::Kind::kWrongType, "a value of type " + (t ? t->GetName() : std::string("?")) +
                                              " where " + declared->GetName() + " is required");
  }
}

Basekit::Ref<Any> BoxScalar(DecodeContext& ctx, ValueKind kind, const Type* type, ScalarText t) {
  return ParseScalar(ctx, kind, type, t, [&](auto&& v) -> Basekit::Ref<Any> {
    using V = typename Plain<decltype(v)>::type;
    if (kind == ValueKind::kEnum) {
      if constexpr (std::is_same<V, int>::value) {
        const auto* e = static_cast<const EnumType*>(type);
        return Basekit::Ref<Any>(e->GetFuncs().boxValue(v));
      }
    }
    return Basekit::Ref<Any>(new Primitive<V>(std::move(v)));
  });
}

void ArrayBuilder::Start() {
  switch (kind_) {
    case ValueKind::kString: array_ = new Array<std::string>(); break;
    case ValueKind::kBool: array_ = new Array<bool>(); break;
    case ValueKind::kByte: array_ = new Array<signed char>(); break;
    case ValueKind::kShort: array_ = new Array<short>(); break;
    case ValueKind::kInt: array_ = new Array<int>(); break;
    case ValueKind::kLong: array_ = new Array<long long>(); break;
    case ValueKind::kFloat: array_ = new Array<float>(); break;
    case ValueKind::kDouble: array_ = new Array<double>(); break;
    case ValueKind::kDateTime: array_ = new Array<Basekit::System::DateTime>(); break;
    case ValueKind::kBinary: array_ = new Array<std::vector<unsigned char>>(); break;
    case ValueKind::kTypeName: array_ = new Array<TypeName>(); break;
    case ValueKind::kMethodName: array_ = new Array<MethodName>(); break;
    case ValueKind::kPropertyPath: array_ = new Array<PropertyPath>(); break;
    case ValueKind::kUri: array_ = new Array<Uri>(); break;
    case ValueKind::kEnum: enumNames_ = new Array<std::string>(); break;
    case ValueKind::kData:
      array_ = type_ ? static_cast<const DataObjectType*>(type_)->CreateArrayInstance()
                     : static_cast<Any*>(new DataArray<DynamicData>());
      break;
    case ValueKind::kMoRef: array_ = new DataArray<MoRef>(); break;
    case ValueKind::kAny: array_ = new DataArray<Any>(); break;
  }
}

void ArrayBuilder::AddScalar(DecodeContext& ctx, ScalarText t) {
  if (!array_ && !enumNames_) Start();
  ParseScalar(ctx, kind_, type_, t, [&](auto&& v) {
    using V = typename Plain<decltype(v)>::type;
    if (kind_ == ValueKind::kEnum) {
      enumNames_->Append(std::string(t.text));
    } else {
      static_cast<Array<V>*>(array_.Get())->Append(std::move(v));
    }
  });
}

void ArrayBuilder::AddValue(DecodeContext& ctx, Any* value) {
  if (!array_) Start();
  try {
    static_cast<DataArrayBase*>(array_.Get())->Append(value);
  } catch (const Basekit::TypeMismatchException& e) {
    ctx.Fail(WireError::Kind::kWrongType, "an element of class " + e.GetActual() +
                                              " in an array of " + e.GetExpected());
  }
}

Basekit::Ref<Any> ArrayBuilder::Finish(DecodeContext& ctx) {
  if (!array_ && !enumNames_) Start();
  if (kind_ == ValueKind::kEnum) {
    const auto* e = static_cast<const EnumType*>(type_);
    try {
      return Basekit::Ref<Any>(e->GetFuncs().arrayFromNames(enumNames_.Get(), e));
    } catch (const Basekit::Exception& x) {
      ctx.Fail(WireError::Kind::kUnknownEnum, x.GetMessage());
    }
  }
  return array_;
}

void StoreObjectMember(DecodeContext& ctx, DataObject* object, const Member& m, Any* value) {
  const FieldInfo& f = *m.field;
  Any* narrowed = value;
  try {
    if (f.narrow) narrowed = f.narrow(value);
  } catch (const Basekit::TypeMismatchException& e) {
    ctx.Fail(WireError::Kind::kWrongType,
             "a value of class " + e.GetActual() + " where " + e.GetExpected() + " is required");
  }
  if (f.kind == FieldKind::kArray) {
    AssignArray(MemberAt<std::atomic<Any*>>(object, f), narrowed);
  } else {
    AssignObject(MemberAt<Any*>(object, f), narrowed);
  }
}

const void* PeekMember(const DataObject* object, const Member& m) {
  const FieldInfo& f = *m.field;
  switch (f.kind) {
    case FieldKind::kObject: return MemberAt<Any*>(object, f);
    case FieldKind::kArray: {
      const Any* held = MemberAt<std::atomic<Any*>>(object, f).load(std::memory_order_acquire);
      return held && static_cast<const Collection*>(held)->GetLength() > 0 ? held : nullptr;
    }
    case FieldKind::kString:
      if (f.optional) return MemberAt<OptionalString>(object, f).Get();
      return &MemberAt<std::string>(object, f);
    default: break;
  }
  if (!f.optional) return static_cast<const char*>(static_cast<const void*>(object)) + f.offset;
  // An optional value: the value, then its is-set flag.
  bool set = false;
  switch (f.kind) {
#define MOVEL_WIRE_OPTIONAL(K, V) \
  case FieldKind::K: set = MemberAt<Basekit::Optional<V>>(object, f).IsSet(); break;
    MOVEL_WIRE_OPTIONAL(kBool, bool)
    MOVEL_WIRE_OPTIONAL(kByte, signed char)
    MOVEL_WIRE_OPTIONAL(kShort, short)
    MOVEL_WIRE_OPTIONAL(kInt, int)
    MOVEL_WIRE_OPTIONAL(kLong, long long)
    MOVEL_WIRE_OPTIONAL(kFloat, float)
    MOVEL_WIRE_OPTIONAL(kDouble, double)
    MOVEL_WIRE_OPTIONAL(kEnum, int)
    MOVEL_WIRE_OPTIONAL(kDateTime, Basekit::System::DateTime)
    MOVEL_WIRE_OPTIONAL(kBinary, std::vector<unsigned char>)
    MOVEL_WIRE_OPTIONAL(kTypeName, TypeName)
    MOVEL_WIRE_OPTIONAL(kMethodName, MethodName)
    MOVEL_WIRE_OPTIONAL(kPropertyPath, PropertyPath)
    MOVEL_WIRE_OPTIONAL(kUri, Uri)
#undef MOVEL_WIRE_OPTIONAL
    default: break;
  }
  // Optional<V> keeps its value first, so the value's address is the member's.
  return set ? static_cast<const char*>(static_cast<const void*>(object)) + f.offset : nullptr;
}

}  // namespace wire
}  // namespace Movel
