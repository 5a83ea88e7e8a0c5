// The wire encodings over the whole catalogue: every data and fault type
// round-trips through XML and JSON with every property set, documents
// filtered for each version of the table hold only what that version knows,
// faults keep their class, calls travel with their parameters, and hostile
// documents end in a WireError naming where they went wrong.
#include "movel/wire.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <typeinfo>
#include <vector>

#include "kortypes/kortypes.h"
#include "random_graph.h"

namespace {

using namespace randomgraph;
using Movel::WireError;
using Movel::WireFormat;

// The dynamic class of an object. typeid of a named reference, so compilers
// that warn about typeid evaluating a call (as clang does) build these tests.
template <class X>
const std::type_info& DynamicClass(const X& x) {
  return typeid(x);
}

std::uint64_t WireSeed(std::uint32_t run, const std::string& name) {
  std::uint64_t h = 1469598103934665603ull ^ run;
  for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h;
}

const WireFormat kFormats[] = {WireFormat::kXml, WireFormat::kJson};
const char* FormatName(WireFormat f) { return f == WireFormat::kXml ? "XML" : "JSON"; }

std::vector<std::string> DiffPaths(const Movel::Any* a, const Movel::Any* b) {
  Movel::PropertyDiffSet diff;
  Movel::DiffAnyPropertiesInt(a, b, "obj", 0, diff);
  std::vector<std::string> out;
  for (const Movel::PropertyPath& p : diff.GetChanged()) out.push_back(p.str());
  return out;
}

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += (s.empty() ? "" : ", ") + x;
  return s;
}

// Builds a full random instance of every library data type; calls check(type,
// instance) and counts what it reports.
template <class Check>
int ForEveryType(std::uint32_t salt, Check check) {
  int failures = 0;
  for (const Movel::DataObjectType* type : Registry::Get().libraryDataTypes) {
    if (!type->GetRecord()->createObject) continue;
    Builder b(WireSeed(RunSeed() ^ salt, type->GetName()), true);
    Ref<Movel::DataObject> a = b.Build(type);
    std::string problem = check(type, a.Get());
    if (!problem.empty() && ++failures <= kMaxFailuresReported) {
      ADD_FAILURE() << type->GetName() << ": " << problem << " (seed " << RunSeed() << ")";
    }
  }
  return failures;
}

TEST(Wire, EveryTypeRoundTripsThroughBothFormatsWithEveryPropertySet) {
  for (WireFormat format : kFormats) {
    int checked = 0;
    const int failures = ForEveryType(1, [&](const Movel::DataObjectType*, Movel::DataObject* a) -> std::string {
      ++checked;
      std::string doc;
      Ref<Movel::Any> back;
      try {
        doc = Movel::EncodeValue(format, a);
        back = Movel::DecodeValue(format, doc);
      } catch (const Basekit::Exception& e) {
        return std::string(FormatName(format)) + ": " + e.what();
      }
      if (!back || back->_GetType() != a->_GetType()) return "decoded as another type";
      if (!Movel::AreEqualAnysInt(a, back, 0, false) || !Movel::AreEqualAnysInt(back, a, 0, false)) {
        return std::string(FormatName(format)) + " round trip differs at " + Join(DiffPaths(a, back));
      }
      // Encoding is a function of the value: the decoded copy encodes alike.
      if (Movel::EncodeValue(format, back) != doc) return "the decoded copy encodes differently";
      return "";
    });
    EXPECT_EQ(failures, 0) << FormatName(format);
    EXPECT_GT(checked, 1000);
  }
}

// Every value of the kinds the catalogue uses reached the wire: each
// property of a round-tripped root object was set, so the round trip above
// could not pass by leaving properties out.
TEST(Wire, FullInstancesSetEveryPropertyTheyCan) {
  int unset = 0, total = 0;
  ForEveryType(1, [&](const Movel::DataObjectType* type, Movel::DataObject* a) -> std::string {
    for (const Movel::Property* p : type->GetAllProperties()) {
      if (IsRootProperty(*p)) continue;
      const Kind k = KindOf(*p);
      if (k == Kind::kData) continue;  // depends on room left in the graph
      ++total;
      if (!RecordOf(*p)->propIsSet(a, p->GetIndex())) ++unset;
    }
    return "";
  });
  EXPECT_GT(total, 3000);
  EXPECT_EQ(unset, 0);
}

// ---- shape of the documents ------------------------------------------------

const Movel::Property* FindProperty(const Movel::DataObjectType* t, const char* name) {
  return t->FindProperty(name);
}

TEST(Wire, XmlNamesPropertiesInDeclarationOrderWithReferencesEnumsAndTypes) {
  using Kor::TaskInfo;
  Ref<TaskInfo> info(new TaskInfo());
  // Required values start unassigned.
  info->state = static_cast<TaskInfo::State>(1);
  info->cancelled = false;
  info->cancelable = true;
  info->eventChainId = 5;
  const Movel::DataObjectType* type = Movel::GetDoType<TaskInfo>();
  Ref<Movel::MoRef> task = Movel::MakeMoRef(Movel::GetMoType<Kor::Task>(), "task-12");
  Movel::Any* in = task.Get();
  const Movel::Property* taskProp = FindProperty(type, "task");
  ASSERT_NE(taskProp, nullptr);
  RecordOf(*taskProp)->propSet(info, taskProp->GetIndex(), &in);
  const std::string key = "k-1";
  RecordOf(*FindProperty(type, "key"))->propSet(info, FindProperty(type, "key")->GetIndex(), &key);
  const std::string doc = Movel::EncodeValue(WireFormat::kXml, info);
  // The root names its type; the reference carries its managed type's WSDL
  // name; the required enumeration travels as its string.
  EXPECT_NE(doc.find("xsi:type=\"" + type->GetWsdlName() + "\""), std::string::npos) << doc;
  EXPECT_NE(doc.find("<task type=\"" + Movel::GetMoType<Kor::Task>()->GetWsdlName() + "\">task-12</task>"),
            std::string::npos)
      << doc;
  const auto* stateType = static_cast<const Movel::EnumType*>(FindProperty(type, "state")->GetType());
  ASSERT_GT(stateType->GetValues().size(), 1u);
  EXPECT_NE(doc.find("<state>" + stateType->GetValues()[1] + "</state>"), std::string::npos) << doc;
  // Properties appear in declaration order, inherited first.
  std::size_t last = 0;
  for (const Movel::Property* p : type->GetAllProperties()) {
    const std::size_t at = doc.find("<" + p->GetName() + ">", 0);
    const std::size_t atAttr = doc.find("<" + p->GetName() + " ", 0);
    const std::size_t pos = std::min(at, atAttr);
    if (pos == std::string::npos) continue;
    EXPECT_GT(pos, last) << p->GetName() << " out of order in " << doc;
    last = pos;
  }
}

TEST(Wire, ValuesOfADerivedClassNameTheirTypeAndArraysRepeat) {
  // A fault's messages: an array of LocalizableMessage, each with arguments
  // whose values are of any type.
  Ref<Movel::Fault::SystemError> fault(new Movel::Fault::SystemError("disk gone"));
  Ref<Movel::LocalizableMessage> m1(new Movel::LocalizableMessage("msg.one"));
  Ref<Movel::LocalizableMessage> m2(new Movel::LocalizableMessage("msg.two"));
  Ref<Movel::KeyAnyValue> arg(new Movel::KeyAnyValue("count", new Movel::Primitive<int>(7)));
  m1->GetOrCreateArg()->Append(arg.Get());
  fault->GetOrCreateFaultMessage()->Append(m1.Get());
  fault->GetOrCreateFaultMessage()->Append(m2.Get());
  Ref<Movel::Fault::SystemError> cause(new Movel::Fault::SystemError("inner"));
  fault->SetFaultCause(cause.Get());
  const std::string xml = Movel::EncodeValue(WireFormat::kXml, fault);
  EXPECT_EQ(2u, [&] {
    std::size_t n = 0;
    for (std::size_t i = xml.find("<faultMessage>"); i != std::string::npos; i = xml.find("<faultMessage>", i + 1)) ++n;
    return n;
  }());
  EXPECT_NE(xml.find("<faultCause xsi:type=\"SystemError\">"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<value xsi:type=\"int\">7</value>"), std::string::npos) << xml;
  const std::string json = Movel::EncodeValue(WireFormat::kJson, fault);
  EXPECT_NE(json.find("\"faultCause\":{\"_typeName\":\"SystemError\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"value\":{\"_typeName\":\"int\",\"_value\":7}"), std::string::npos) << json;
  for (WireFormat f : kFormats) {
    Ref<Movel::Any> back = Movel::DecodeValue(f, Movel::EncodeValue(f, fault));
    EXPECT_TRUE(Movel::AreEqualAnysInt(fault, back, 0, false)) << FormatName(f);
  }
}

TEST(Wire, DateTimesCarryTheirZoneAndBinariesAreBase64) {
  const Basekit::System::DateTime when = Basekit::System::DateTime::FromCivil(2026, 12, 5, 18, 7, 26, 500000, 60);
  Ref<Movel::Any> box(new Movel::Primitive<Basekit::System::DateTime>(when));
  const std::string xml = Movel::EncodeValue(WireFormat::kXml, box);
  EXPECT_NE(xml.find(">2026-12-05T18:07:26.5"), std::string::npos) << xml;
  EXPECT_NE(xml.find("+01:00<"), std::string::npos) << xml;
  Ref<Movel::Any> bytes(new Movel::Primitive<std::vector<unsigned char>>({'k', 'o', 'r', 0, 255}));
  const std::string json = Movel::EncodeValue(WireFormat::kJson, bytes);
  EXPECT_NE(json.find("\"a29yAP8=\""), std::string::npos) << json;
  for (WireFormat f : kFormats) {
    EXPECT_TRUE(Movel::AreEqualAnysInt(box, Movel::DecodeValue(f, Movel::EncodeValue(f, box)), 0, false));
    EXPECT_TRUE(Movel::AreEqualAnysInt(bytes, Movel::DecodeValue(f, Movel::EncodeValue(f, bytes)), 0, false));
  }
}

// ---- secrets ---------------------------------------------------------------

TEST(Wire, SecretValuesReachThePeerButNotTheLogForm) {
  int secrets = 0;
  ForEveryType(2, [&](const Movel::DataObjectType* type, Movel::DataObject* a) -> std::string {
    for (const Movel::Property* p : type->GetAllProperties()) {
      if (!p->IsSecret() || KindOf(*p) != Kind::kString || p->IsArray()) continue;
      const std::string secret = "s3cr3t-" + type->GetName();
      RecordOf(*p)->propSet(a, p->GetIndex(), &secret);
      ++secrets;
      for (WireFormat f : kFormats) {
        if (Movel::EncodeValue(f, a).find(secret) == std::string::npos) return "the secret was not sent";
        Movel::EncodeOptions log;
        log.maskSecrets = true;
        if (Movel::EncodeValue(f, a, log).find(secret) != std::string::npos) return "the log form shows the secret";
      }
    }
    return "";
  });
  EXPECT_GT(secrets, 10);
}

// ---- versions --------------------------------------------------------------

// True when the graph under v holds nothing newer than version: no set
// optional or object property, and no object of a type, newer than it.
std::string NewerThan(const Movel::Any* v, const Movel::Version* version, int depth = 0) {
  const auto* o = dynamic_cast<const Movel::DataObject*>(v);
  if (const auto* items = dynamic_cast<const Movel::DataArrayBase*>(v)) {
    for (Movel::Any* item : items->GetItems()) {
      std::string s = NewerThan(item, version, depth + 1);
      if (!s.empty()) return s;
    }
    return "";
  }
  if (!o || depth > 20) return "";
  const Movel::DataObjectType* type = o->_GetDataType();
  if (!Movel::IsInVersion(type->GetVersion(), version)) return "an object of type " + type->GetName();
  for (const Movel::Property* p : type->GetAllProperties()) {
    const Movel::DataTypeInfo* rec = RecordOf(*p);
    const void* held = rec->propPeek(o, p->GetIndex());
    const bool valueKind = !p->IsArray() && !IsHeld(KindOf(*p));
    if (!Movel::IsInVersion(Movel::FindVersion(p->GetVersionName()), version)) {
      if (held && (p->IsOptional() || !valueKind)) return "property " + type->GetName() + "." + p->GetName();
      continue;
    }
    if (held && !valueKind) {
      std::string s = NewerThan(static_cast<const Movel::Any*>(held), version, depth + 1);
      if (!s.empty()) return s;
    }
  }
  return "";
}

TEST(Wire, EncodingForEachVersionSendsExactlyTheFilteredCopy) {
  const std::vector<const Movel::Version*> versions = Movel::GetVersions("kor");
  ASSERT_EQ(versions.size(), 15u);
  int filteredOut = 0;
  for (const Movel::Version* version : versions) {
    Movel::EncodeOptions enc;
    enc.peerVersion = version;
    const int failures = ForEveryType(3, [&](const Movel::DataObjectType*, Movel::DataObject* a) -> std::string {
      Ref<Movel::Any> filtered = Movel::FilterToVersion(a, *version);
      std::string newer = NewerThan(filtered, version);
      if (!newer.empty()) return "the copy for " + version->GetName() + " keeps " + newer;
      if (!filtered) {
        ++filteredOut;
        return "";
      }
      if (!Movel::AreEqualAnysInt(filtered, a, 0, false)) ++filteredOut;
      for (WireFormat f : kFormats) {
        std::string doc;
        Ref<Movel::Any> back;
        try {
          doc = Movel::EncodeValue(f, a, enc);
          back = Movel::DecodeValue(f, doc);
        } catch (const Basekit::Exception& e) {
          return std::string(FormatName(f)) + " for " + version->GetName() + ": " + e.what();
        }
        if (!Movel::AreEqualAnysInt(filtered, back, 0, false)) {
          return std::string(FormatName(f)) + " for " + version->GetName() + " differs from the filtered copy at " +
                 Join(DiffPaths(filtered, back));
        }
      }
      return "";
    });
    EXPECT_EQ(failures, 0) << version->GetName();
  }
  // The table's older versions really leave things out.
  EXPECT_GT(filteredOut, 100);
}

TEST(Wire, TheNewestVersionSeesEverything) {
  const std::vector<const Movel::Version*> versions = Movel::GetVersions("kor");
  const Movel::Version* newest = versions.back();
  const int failures = ForEveryType(4, [&](const Movel::DataObjectType*, Movel::DataObject* a) -> std::string {
    Ref<Movel::Any> filtered = Movel::FilterToVersion(a, *newest);
    return Movel::AreEqualAnysInt(filtered, a, 0, false) ? "" : "filtering to the newest version lost " + Join(DiffPaths(a, filtered));
  });
  EXPECT_EQ(failures, 0);
}

TEST(Wire, ADecoderSkipsWhatIsNewerThanItsVersionAndStrictModeRejectsTheUnknown) {
  const Movel::Version* oldest = Movel::GetVersions("kor").front();
  Movel::DecodeOptions speaks;
  speaks.version = oldest;
  const int failures = ForEveryType(5, [&](const Movel::DataObjectType* type, Movel::DataObject* a) -> std::string {
    if (!Movel::IsInVersion(type->GetVersion(), oldest)) return "";
    for (WireFormat f : kFormats) {
      Ref<Movel::Any> back = Movel::DecodeValue(f, Movel::EncodeValue(f, a), speaks);
      // Objects of newer types may come through (the decoder knows them);
      // properties newer than the version it speaks never do.
      std::string newer = NewerThan(back, oldest);
      if (newer.rfind("property ", 0) == 0) return std::string(FormatName(f)) + " decoded " + newer;
    }
    return "";
  });
  EXPECT_EQ(failures, 0);

  Ref<Kor::AboutInfo> about(new Kor::AboutInfo());
  about->name = "n";
  std::string xml = Movel::EncodeValue(WireFormat::kXml, about);
  xml.insert(xml.find("<name>"), "<fromTheFuture>x</fromTheFuture>");
  std::string json = Movel::EncodeValue(WireFormat::kJson, about);
  json.insert(json.find("\"name\""), "\"fromTheFuture\":{\"a\":[1,2]},");
  Movel::DecodeOptions strict;
  strict.strict = true;
  for (const auto& [format, doc] : {std::pair<WireFormat, std::string>{WireFormat::kXml, xml}, {WireFormat::kJson, json}}) {
    Ref<Movel::Any> lenient = Movel::DecodeValue(format, doc);
    EXPECT_TRUE(Movel::AreEqualAnysInt(about, lenient, 0, false)) << FormatName(format);
    try {
      Movel::DecodeValue(format, doc, strict);
      ADD_FAILURE() << FormatName(format) << ": strict mode accepted an unknown element";
    } catch (const WireError& e) {
      EXPECT_EQ(e.GetKind(), WireError::Kind::kUnknownElement) << e.what();
      EXPECT_NE(e.GetPath().find("fromTheFuture"), std::string::npos) << e.GetPath();
    }
  }
}

// ---- faults ----------------------------------------------------------------

TEST(Wire, EveryFaultTypeKeepsItsClassThroughEncodingAndIsThrownAsItsOwnException) {
  const Movel::ManagedMethod* method = Movel::GetMoType<Kor::ServiceInstance>()->FindMethod("retrieveContent");
  ASSERT_NE(method, nullptr);
  int faults = 0;
  const int failures = ForEveryType(6, [&](const Movel::DataObjectType* type, Movel::DataObject* a) -> std::string {
    auto* fault = dynamic_cast<Movel::MethodFault*>(a);
    if (!fault) return "";
    ++faults;
    Ref<Movel::LocalizableMessage> message(new Movel::LocalizableMessage("fault.text"));
    message->SetMessage("it broke");
    fault->GetOrCreateFaultMessage()->Append(message.Get());
    for (WireFormat f : kFormats) {
      const std::string doc = Movel::EncodeFault(f, fault);
      if (!Movel::IsFaultDocument(f, doc)) return "not recognised as a fault";
      Ref<Movel::MethodFault> back = Movel::DecodeFault(f, doc);
      if (!back || DynamicClass(*back) != DynamicClass(*fault)) return std::string(FormatName(f)) + ": the fault changed class";
      if (!Movel::AreEqualAnysInt(fault, back, 0, false)) return std::string(FormatName(f)) + ": the fault differs at " + Join(DiffPaths(fault, back));
      try {
        Movel::DecodeResponse(f, doc, method);
        return "a fault response did not throw";
      } catch (const Movel::MethodFault::Exception& e) {
        if (!e.GetFault() || DynamicClass(*e.GetFault()) != DynamicClass(*fault)) return "the thrown fault changed class";
        // The thrown exception is the fault class's own: its copy rethrows as it.
        std::unique_ptr<Basekit::Exception> copy(e.Clone());
        if (DynamicClass(*copy) != typeid(e)) return "the exception lost its class";
      }
      (void)type;
    }
    return "";
  });
  EXPECT_EQ(failures, 0);
  EXPECT_GT(faults, 100);
}

TEST(Wire, ARuntimeFaultResponseIsCaughtAsItsOwnClass) {
  Ref<Movel::Fault::SystemError> fault(new Movel::Fault::SystemError("out of disk"));
  const Movel::ManagedMethod* method = Movel::GetMoType<Kor::ServiceInstance>()->FindMethod("currentTime");
  for (WireFormat f : kFormats) {
    EXPECT_THROW(Movel::DecodeResponse(f, Movel::EncodeFault(f, fault), method), Movel::Fault::SystemError::Exception);
  }
}

// ---- calls -----------------------------------------------------------------

// A value for a parameter slot, as a stub boxes it.
Ref<Movel::Any> ArgumentFor(const Movel::Parameter& p, Builder& b) {
  const Movel::TypeInfo* t = p.GetTypeInfo();
  const Movel::Type* type = p.GetType();
  auto one = [&]() -> Ref<Movel::Any> {
    if (t == &gStringTypeInfo) return Ref<Movel::Any>(new Movel::Primitive<std::string>(b.Text()));
    if (t == &gBoolTypeInfo) return Ref<Movel::Any>(new Movel::Primitive<bool>(b.Chance(50)));
    if (t == &gIntTypeInfo) return Ref<Movel::Any>(new Movel::Primitive<int>(b.Uniform(-9999, 9999)));
    if (t == &gLongTypeInfo) return Ref<Movel::Any>(new Movel::Primitive<long long>(b.Uniform(0, 1 << 30) * 1000LL));
    if (t == &gDateTimeTypeInfo) return Ref<Movel::Any>(new Movel::Primitive<Basekit::System::DateTime>(Basekit::System::DateTime(b.Uniform(0, 1 << 30))));
    if (!type) return nullptr;
    if (type->IsEnum()) {
      const auto* e = static_cast<const Movel::EnumType*>(type);
      return Ref<Movel::Any>(e->GetFuncs().boxValue(b.Uniform(0, static_cast<int>(e->GetValues().size()) - 1)));
    }
    if (type->IsManaged()) return Ref<Movel::Any>(b.NewReference(type).Get());
    if (type->IsDataObject()) {
      const auto* d = static_cast<const Movel::DataObjectType*>(type);
      if (!d->GetRecord()->createObject) return nullptr;
      return Ref<Movel::Any>(b.Build(d).Get());
    }
    return nullptr;
  };
  if (!p.IsArray()) return one();
  Ref<Movel::Any> first = one();
  if (!first) return nullptr;
  if (type && type->IsEnum()) {
    const auto* e = static_cast<const Movel::EnumType*>(type);
    Ref<Movel::Array<std::string>> names(new Movel::Array<std::string>({e->GetValues()[0]}));
    return Ref<Movel::Any>(e->GetFuncs().arrayFromNames(names, e));
  }
  if (auto* s = dynamic_cast<Movel::Primitive<std::string>*>(first.Get())) return Ref<Movel::Any>(new Movel::Array<std::string>({s->GetValue()}));
  if (auto* i = dynamic_cast<Movel::Primitive<int>*>(first.Get())) return Ref<Movel::Any>(new Movel::Array<int>({i->GetValue()}));
  if (auto* l = dynamic_cast<Movel::Primitive<long long>*>(first.Get())) return Ref<Movel::Any>(new Movel::Array<long long>({l->GetValue()}));
  if (auto* r = dynamic_cast<Movel::MoRef*>(first.Get())) return Ref<Movel::Any>(new Movel::DataArray<Movel::MoRef>({r}));
  if (type && type->IsDataObject()) {
    Ref<Movel::Any> array(static_cast<const Movel::DataObjectType*>(type)->CreateArrayInstance());
    static_cast<Movel::DataArrayBase*>(array.Get())->Append(first);
    return array;
  }
  return nullptr;
}

TEST(Wire, EveryMethodsRequestTravelsWithItsTargetAndParameters) {
  int calls = 0, failures = 0;
  for (Movel::ManagedObjectType* type : Registry::Get().managedTypes) {
    for (const Movel::ManagedMethod* method : type->GetMethodObjects()) {
      // Full objects: an empty array and an absent one are one thing on the wire.
      Builder b(WireSeed(RunSeed(), method->GetFullName()), true);
      Basekit::RefVector<Movel::Any> args;
      for (const Movel::Parameter& p : method->GetParameters()) args.push_back(ArgumentFor(p, b));
      Ref<Movel::MoRef> target = Movel::MakeMoRef(type, "obj-1");
      for (WireFormat f : kFormats) {
        ++calls;
        std::string problem;
        try {
          Movel::WireRequest r = Movel::DecodeRequest(f, Movel::EncodeRequest(f, target, const_cast<Movel::ManagedMethod*>(method), args));
          if (r.method != method) problem = "decoded as " + (r.method ? r.method->GetFullName() : std::string("nothing"));
          else if (!Movel::AreEqualAnysInt(target, r.target, 0, false)) problem = "the target changed";
          else if (r.args.size() != args.size()) problem = "the argument count changed";
          for (std::size_t i = 0; problem.empty() && i < args.size(); ++i) {
            if (!Movel::AreEqualAnysInt(args[i], r.args[i], 0, false)) problem = "parameter " + std::string(method->GetParameters()[i].GetName()) + " changed";
          }
        } catch (const Basekit::Exception& e) {
          problem = e.what();
        }
        if (!problem.empty() && ++failures <= kMaxFailuresReported) {
          ADD_FAILURE() << FormatName(f) << " " << method->GetFullName() << ": " << problem;
        }
      }
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(calls, 1000);
}

TEST(Wire, ARequestNamesTheOperationAndTheTargetAsThis) {
  const Movel::ManagedMethod* method = Movel::GetMoType<Kor::ServiceInstance>()->FindMethod("retrieveContent");
  ASSERT_NE(method, nullptr);
  Ref<Movel::MoRef> si = Movel::MakeMoRef(Movel::GetMoType<Kor::ServiceInstance>(), "ServiceInstance");
  const std::string xml = Movel::EncodeRequest(WireFormat::kXml, si, const_cast<Movel::ManagedMethod*>(method), {});
  EXPECT_EQ(xml.rfind("<" + method->GetWsdlName() + " ", 0), 0u) << xml;
  EXPECT_NE(xml.find("<_this type=\"" + Movel::GetMoType<Kor::ServiceInstance>()->GetWsdlName() + "\">ServiceInstance</_this>"),
            std::string::npos)
      << xml;
  // An operation the peer's version does not have is not sent.
  const Movel::ManagedMethod* newer = nullptr;
  for (const Movel::ManagedMethod* m : Movel::GetMoType<Kor::ServiceInstance>()->GetMethodObjects()) {
    if (std::string(m->GetVersionName()) != "kor.version.version1") newer = m;
  }
  ASSERT_NE(newer, nullptr);
  Movel::EncodeOptions v1;
  v1.peerVersion = Movel::FindVersion("kor.version.version1");
  try {
    Movel::EncodeRequest(WireFormat::kJson, si, const_cast<Movel::ManagedMethod*>(newer), Basekit::RefVector<Movel::Any>(newer->GetParameters().size()), v1);
    ADD_FAILURE() << "a newer operation was encoded for an older peer";
  } catch (const WireError& e) {
    EXPECT_EQ(e.GetKind(), WireError::Kind::kNotInVersion);
  }
}

// ---- hostile input ---------------------------------------------------------

Ref<Kor::TaskInfo> SampleTask() {
  Builder b(77, true);
  return Ref<Kor::TaskInfo>(static_cast<Kor::TaskInfo*>(b.Build(Movel::GetDoType<Kor::TaskInfo>()).Get()));
}

WireError::Kind KindOfFailure(WireFormat f, const std::string& doc, const Movel::DecodeOptions& o = {},
                              std::string* path = nullptr) {
  try {
    Movel::DecodeValue(f, doc, o);
  } catch (const WireError& e) {
    if (path) *path = e.GetPath();
    return e.GetKind();
  }
  ADD_FAILURE() << FormatName(f) << " accepted: " << doc.substr(0, 200);
  return WireError::Kind::kNotInVersion;
}

TEST(WireHostile, EveryTruncationIsAClearError) {
  Ref<Kor::TaskInfo> task = SampleTask();
  for (WireFormat f : kFormats) {
    const std::string doc = Movel::EncodeValue(f, task);
    int truncated = 0;
    for (std::size_t n = 0; n < doc.size(); n += 1 + n / 64) {
      const WireError::Kind k = KindOfFailure(f, doc.substr(0, n));
      EXPECT_TRUE(k == WireError::Kind::kTruncated || k == WireError::Kind::kMalformed) << FormatName(f) << " at " << n;
      truncated += k == WireError::Kind::kTruncated;
    }
    EXPECT_GT(truncated, 10) << FormatName(f);
  }
}

TEST(WireHostile, WrongTypesRangesEnumsAndTypesAreNamedWithTheirPath) {
  struct Case {
    const char* what;
    std::string xml, json;
    WireError::Kind kind;
    const char* path;
  };
  const std::string x = "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"TaskInfo\">";
  const std::string j = "{\"_typeName\":\"TaskInfo\",";
  const Case cases[] = {
      {"not a number", x + "<progress>abc</progress></value>", j + "\"progress\":\"abc\"}", WireError::Kind::kWrongType, "/progress"},
      {"an int too large", x + "<progress>99999999999</progress></value>", j + "\"progress\":99999999999}", WireError::Kind::kOutOfRange, "/progress"},
      {"an unknown enumeration string", x + "<state>exploded</state></value>", j + "\"state\":\"exploded\"}", WireError::Kind::kUnknownEnum, "/state"},
      {"an unknown type", x + "<error xsi:type=\"NoSuchFault\"/></value>", j + "\"error\":{\"_typeName\":\"NoSuchFault\"}}", WireError::Kind::kUnknownType, "/error"},
      {"a type that does not fit", x + "<error xsi:type=\"AboutInfo\"/></value>", j + "\"error\":{\"_typeName\":\"AboutInfo\"}}", WireError::Kind::kWrongType, "/error"},
      {"a bad date", x + "<queueTime>yesterday</queueTime></value>", j + "\"queueTime\":\"yesterday\"}", WireError::Kind::kWrongType, "/queueTime"},
      {"an object for a string", x + "<key><a/></key></value>", j + "\"key\":{}}", WireError::Kind::kWrongType, "/key"},
  };
  for (const Case& c : cases) {
    for (WireFormat f : kFormats) {
      std::string path;
      const WireError::Kind k = KindOfFailure(f, f == WireFormat::kXml ? c.xml : c.json, {}, &path);
      EXPECT_EQ(k, c.kind) << c.what << " in " << FormatName(f);
      EXPECT_NE(path.find(c.path), std::string::npos) << c.what << " in " << FormatName(f) << ": " << path;
    }
  }
}

TEST(WireHostile, DeepNestingStopsAtTheDepthLimit) {
  const int depth = 100000;
  std::string xml = "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"TaskInfo\">";
  for (int i = 0; i < depth; ++i) xml += "<a>";
  for (int i = 0; i < depth; ++i) xml += "</a>";
  xml += "</value>";
  std::string json = "{\"_typeName\":\"TaskInfo\",\"a\":";
  for (int i = 0; i < depth; ++i) json += "[";
  for (int i = 0; i < depth; ++i) json += "]";
  json += "}";
  for (WireFormat f : kFormats) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(KindOfFailure(f, f == WireFormat::kXml ? xml : json), WireError::Kind::kLimit) << FormatName(f);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  }
}

TEST(WireHostile, EntitiesAreNeverExpandedNorFetched) {
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  laughs += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">";
  for (int i = 2; i < 10; ++i) {
    laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&lol" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"string\">&lol9;</value>";
  const std::string external =
      "<?xml version=\"1.0\"?><!DOCTYPE v [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>"
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"string\">&xxe;</value>";
  const std::string undeclared =
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"string\">&xxe;</value>";
  for (const std::string& doc : {laughs, external, undeclared}) {
    const auto started = std::chrono::steady_clock::now();
    try {
      Movel::DecodeValue(WireFormat::kXml, doc);
      ADD_FAILURE() << "accepted " << doc.substr(0, 80);
    } catch (const WireError& e) {
      EXPECT_EQ(e.GetKind(), WireError::Kind::kForbidden) << e.what();
      EXPECT_EQ(std::string(e.what()).find("root:"), std::string::npos);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  }
}

TEST(WireHostile, SizesCountsAndLongStringsHitTheirLimits) {
  Ref<Kor::TaskInfo> task = SampleTask();
  for (WireFormat f : kFormats) {
    const std::string doc = Movel::EncodeValue(f, task);
    Movel::DecodeOptions small;
    small.limits.maxMessageBytes = doc.size() - 1;
    EXPECT_EQ(KindOfFailure(f, doc, small), WireError::Kind::kLimit);
    Movel::DecodeOptions few;
    few.limits.maxElements = 5;
    EXPECT_EQ(KindOfFailure(f, doc, few), WireError::Kind::kLimit);
    // Within the limits the same document decodes.
    EXPECT_TRUE(Movel::AreEqualAnysInt(task, Movel::DecodeValue(f, doc), 0, false));
  }
  const std::string big(5000, 'x');
  Movel::DecodeOptions shortStrings;
  shortStrings.limits.maxStringBytes = 1000;
  const std::string xml = "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"string\">" + big + "</value>";
  const std::string json = "{\"_typeName\":\"string\",\"_value\":\"" + big + "\"}";
  EXPECT_EQ(KindOfFailure(WireFormat::kXml, xml, shortStrings), WireError::Kind::kLimit);
  EXPECT_EQ(KindOfFailure(WireFormat::kJson, json, shortStrings), WireError::Kind::kLimit);
}

// A server loop: each bad request is answered with a fault naming where it
// went wrong, and the next good request is served as usual.
TEST(WireHostile, TheServerAnswersBadRequestsWithAFaultAndKeepsServing) {
  const Movel::ManagedMethod* method = Movel::GetMoType<Kor::ServiceInstance>()->FindMethod("retrieveContent");
  Ref<Movel::MoRef> si = Movel::MakeMoRef(Movel::GetMoType<Kor::ServiceInstance>(), "ServiceInstance");
  for (WireFormat f : kFormats) {
    const std::string good = Movel::EncodeRequest(f, si, const_cast<Movel::ManagedMethod*>(method), {});
    const std::vector<std::string> requests = {good, good.substr(0, good.size() / 2), "<<<{{{", good,
                                               f == WireFormat::kXml ? "<NoSuchOp><_this type=\"ServiceInstance\">x</_this></NoSuchOp>"
                                                                     : "{\"_operation\":\"NoSuchOp\",\"_this\":{\"type\":\"ServiceInstance\",\"value\":\"x\"}}",
                                               good};
    int served = 0, refused = 0;
    for (const std::string& request : requests) {
      std::string answer;
      try {
        Movel::WireRequest r = Movel::DecodeRequest(f, request);
        ++served;
        answer = Movel::EncodeResponse(f, r.method, nullptr);
      } catch (const WireError& e) {
        ++refused;
        answer = Movel::EncodeFault(f, e.ToFault());
      }
      // The client side sees a fault it can catch, naming the place.
      if (Movel::IsFaultDocument(f, answer)) {
        try {
          Movel::DecodeResponse(f, answer, method);
          ADD_FAILURE() << "a fault answer did not throw";
        } catch (const Movel::Fault::InvalidArgument::Exception& e) {
          EXPECT_NE(e.GetFault()->GetInvalidProperty(), nullptr);
        }
      }
    }
    EXPECT_EQ(served, 3) << FormatName(f);
    EXPECT_EQ(refused, 3) << FormatName(f);
  }
}

}  // namespace
