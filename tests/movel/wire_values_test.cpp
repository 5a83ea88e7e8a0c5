// The wire encodings on the runtime's own types: every kind of value a
// place of any type can hold travels through XML and JSON and back, with
// the text forms the encoding promises; malformed documents fail with the
// kind of error and the path they deserve.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "basekit/ref.h"
#include "movel/builtin.h"
#include "movel/data_types.h"
#include "movel/fault.h"
#include "movel/wire.h"

namespace {

using Basekit::Ref;
using Basekit::System::DateTime;
using Movel::WireError;
using Movel::WireFormat;

const WireFormat kFormats[] = {WireFormat::kXml, WireFormat::kJson};

Ref<Movel::Any> RoundTrip(WireFormat f, const Movel::Any* v) {
  return Movel::DecodeValue(f, Movel::EncodeValue(f, v));
}

// One box or array of every value kind.
std::vector<Ref<Movel::Any>> EveryKindOfValue() {
  using Movel::Array;
  using Movel::Primitive;
  std::vector<Ref<Movel::Any>> v;
  v.emplace_back(new Primitive<std::string>("text with <markup> & \"quotes\"\n\ttabs"));
  v.emplace_back(new Primitive<std::string>(""));
  v.emplace_back(new Primitive<std::string>("unicode \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"));
  v.emplace_back(new Primitive<bool>(true));
  v.emplace_back(new Primitive<signed char>(-128));
  v.emplace_back(new Primitive<short>(32767));
  v.emplace_back(new Primitive<int>(std::numeric_limits<int>::min()));
  v.emplace_back(new Primitive<long long>(std::numeric_limits<long long>::max()));
  v.emplace_back(new Primitive<float>(0.1f));
  v.emplace_back(new Primitive<double>(-1.0 / 3.0));
  v.emplace_back(new Primitive<double>(std::numeric_limits<double>::infinity()));
  v.emplace_back(new Primitive<double>(5e-324));
  v.emplace_back(new Primitive<DateTime>(DateTime::FromCivil(1999, 12, 31, 23, 59, 59, 999999, -330)));
  v.emplace_back(new Primitive<std::vector<unsigned char>>(std::vector<unsigned char>{0, 1, 2, 254, 255}));
  v.emplace_back(new Primitive<std::vector<unsigned char>>(std::vector<unsigned char>{}));
  v.emplace_back(new Primitive<Movel::TypeName>("kor.HostSystem"));
  v.emplace_back(new Primitive<Movel::MethodName>("kor.HostSystem.reboot"));
  v.emplace_back(new Primitive<Movel::PropertyPath>("config.hardware.device[2].key"));
  v.emplace_back(new Primitive<Movel::Uri>("https://example.net/a?b=c&d=e"));
  v.emplace_back(new Array<std::string>({"a", "b & c", ""}));
  v.emplace_back(new Array<bool>({true, false, true}));
  v.emplace_back(new Array<int>({1, -2, 3}));
  v.emplace_back(new Array<long long>({1LL << 60}));
  v.emplace_back(new Array<double>({0.5, -0.25}));
  v.emplace_back(new Array<DateTime>({DateTime(123456789), DateTime(-5)}));
  v.emplace_back(new Array<std::vector<unsigned char>>({{1, 2, 3}, {}}));
  auto* changeOp = Movel::GetEnumType<Movel::Query::PropertyCollectorChangeOp>();
  v.emplace_back(changeOp->GetFuncs().boxValue(3));
  Ref<Movel::Array<std::string>> names(new Array<std::string>({"remove", "add"}));
  v.emplace_back(changeOp->GetFuncs().arrayFromNames(names, changeOp));
  v.emplace_back(Movel::MakeMoRef(Movel::GetQueryPropertyCollectorType(), "propertyCollector").Get());
  v.emplace_back(new Movel::MoRef(Movel::GetManagedObjectRootType(), "x-1", "guid-7"));
  auto* refs = new Movel::DataArray<Movel::MoRef>();
  refs->Append(Movel::MakeMoRef(Movel::GetQueryPropertyCollectorType(), "pc-1"));
  refs->Append(nullptr);
  v.emplace_back(refs);
  auto* anys = new Movel::DataArray<Movel::Any>();
  anys->Append(new Primitive<int>(4));
  anys->Append(new Movel::KeyAnyValue("k", new Primitive<std::string>("v")));
  anys->Append(new Array<int>({9}));
  v.emplace_back(anys);
  return v;
}

TEST(WireValues, EveryKindOfValueRoundTripsThroughBothFormats) {
  for (WireFormat f : kFormats) {
    for (const Ref<Movel::Any>& v : EveryKindOfValue()) {
      const std::string doc = Movel::EncodeValue(f, v);
      Ref<Movel::Any> back = Movel::DecodeValue(f, doc);
      ASSERT_TRUE(back) << doc;
      const Movel::Any& decoded = *back;
      const Movel::Any& original = *v;
      EXPECT_EQ(typeid(decoded), typeid(original)) << doc;
      EXPECT_TRUE(Movel::AreEqualAnysInt(v, back, 0, false)) << doc;
      // Each value inside a data object too, in a place of any type.
      Ref<Movel::KeyAnyValue> holder(new Movel::KeyAnyValue("key", v));
      Ref<Movel::Any> held = RoundTrip(f, holder);
      EXPECT_TRUE(Movel::AreEqualAnysInt(holder, held, 0, false)) << Movel::EncodeValue(f, holder);
    }
  }
}

TEST(WireValues, NotANumberTravelsAsItsName) {
  Ref<Movel::Any> nan(new Movel::Primitive<double>(std::nan("")));
  for (WireFormat f : kFormats) {
    Ref<Movel::Any> back = RoundTrip(f, nan);
    auto* box = dynamic_cast<Movel::Primitive<double>*>(back.Get());
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(std::isnan(box->GetValue()));
  }
}

TEST(WireValues, FaultsWithCausesAndMessagesKeepTheirClass) {
  Ref<Movel::Fault::InvalidArgument> fault(new Movel::Fault::InvalidArgument());
  fault->SetInvalidProperty(Movel::PropertyPath("spec.name"));
  Ref<Movel::Fault::ManagedObjectNotFound> cause(new Movel::Fault::ManagedObjectNotFound());
  cause->SetObj(Movel::MakeMoRef(Movel::GetQueryPropertyCollectorType(), "pc-9"));
  fault->SetFaultCause(cause.Get());
  Ref<Movel::LocalizableMessage> message(new Movel::LocalizableMessage("bad.name"));
  message->SetMessage("the name is taken");
  message->GetOrCreateArg()->Append(new Movel::KeyAnyValue("name", new Movel::Primitive<std::string>("vm-1")));
  fault->GetOrCreateFaultMessage()->Append(message.Get());
  for (WireFormat f : kFormats) {
    const std::string doc = Movel::EncodeFault(f, fault);
    EXPECT_TRUE(Movel::IsFaultDocument(f, doc));
    EXPECT_NE(doc.find("InvalidArgument"), std::string::npos);
    EXPECT_NE(doc.find("the name is taken"), std::string::npos);
    Ref<Movel::MethodFault> back = Movel::DecodeFault(f, doc);
    ASSERT_TRUE(back);
    const Movel::MethodFault& decoded = *back;
    EXPECT_EQ(typeid(decoded), typeid(Movel::Fault::InvalidArgument));
    EXPECT_TRUE(Movel::AreEqualAnysInt(fault, back, 0, false)) << doc;
    const Movel::MethodFault* decodedCausePtr = back->GetFaultCause();
    ASSERT_TRUE(decodedCausePtr);
    const Movel::MethodFault& decodedCause = *decodedCausePtr;
    EXPECT_EQ(typeid(decodedCause), typeid(Movel::Fault::ManagedObjectNotFound));
    EXPECT_FALSE(Movel::IsFaultDocument(f, Movel::EncodeValue(f, fault)));
  }
}

TEST(WireValues, XmlTextFormsAreThoseOfTheEncoding) {
  auto* changeOp = Movel::GetEnumType<Movel::Query::PropertyCollectorChangeOp>();
  Ref<Movel::Any> op(changeOp->GetFuncs().boxValue(1));
  const std::string xml = Movel::EncodeValue(WireFormat::kXml, op);
  EXPECT_NE(xml.find("xsi:type=\"" + changeOp->GetWsdlName() + "\">remove</value>"), std::string::npos) << xml;
  Ref<Movel::Any> ints(new Movel::Array<int>({1, 2}));
  const std::string arr = Movel::EncodeValue(WireFormat::kXml, ints);
  EXPECT_NE(arr.find("xsi:type=\"ArrayOfint\"><int>1</int><int>2</int></value>"), std::string::npos) << arr;
  Ref<Movel::Any> ref(new Movel::MoRef(Movel::GetQueryPropertyCollectorType(), "pc-1"));
  const std::string refXml = Movel::EncodeValue(WireFormat::kXml, ref);
  EXPECT_NE(refXml.find("type=\"PropertyCollector\">pc-1</value>"), std::string::npos) << refXml;
  const std::string refJson = Movel::EncodeValue(WireFormat::kJson, ref);
  EXPECT_EQ(refJson, "{\"_typeName\":\"ManagedObjectReference\",\"type\":\"PropertyCollector\",\"value\":\"pc-1\"}");
}

TEST(WireValues, TextsXmlCannotCarryAreRefusedWhenEncoding) {
  Ref<Movel::Any> bell(new Movel::Primitive<std::string>(std::string("ring\x07")));
  EXPECT_THROW(Movel::EncodeValue(WireFormat::kXml, bell), WireError);
  // JSON escapes it and gets it back.
  EXPECT_TRUE(Movel::AreEqualAnysInt(bell, RoundTrip(WireFormat::kJson, bell), 0, false));
}

WireError::Kind FailureKind(WireFormat f, const std::string& doc, std::string* path = nullptr);

// The writers format date-times themselves; their text must be the one the
// date-time gives itself, across eras, leap days, fractions and offsets, and
// decode to the same instant and offset.
TEST(WireValues, DateTimesAreWrittenAsTheirOwnText) {
  std::vector<DateTime> times = {
      DateTime(), DateTime(-1), DateTime(1), DateTime(999999), DateTime(-86400000000LL),
      DateTime(DateTime::kMinUtcMicros), DateTime(DateTime::kMaxUtcMicros)};
  const int years[] = {-4713, -1, 0, 1, 99, 1600, 1900, 1969, 1970, 2000, 2024, 9999, 10000, 123456};
  const int offsets[] = {0, 1, -1, 330, -570, 1439, -1439};
  const int micros[] = {0, 1, 10, 120000, 999999, 500};
  int i = 0;
  for (int y : years) {
    for (int month : {1, 2, 3, 12}) {
      const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
      const int day = month == 2 ? (leap ? 29 : 28) : 31;
      times.push_back(DateTime::FromCivil(y, month, day, i % 24, (i * 7) % 60, (i * 13) % 60,
                                          micros[i % 6], offsets[i % 7]));
      ++i;
    }
  }
  for (const DateTime& t : times) {
    Ref<Movel::Any> box(new Movel::Primitive<DateTime>(t));
    const std::string text = t.ToString();
    EXPECT_NE(Movel::EncodeValue(WireFormat::kJson, box).find("\"_value\":\"" + text + "\""),
              std::string::npos)
        << text;
    EXPECT_NE(Movel::EncodeValue(WireFormat::kXml, box).find(">" + text + "</value>"), std::string::npos)
        << text;
    for (WireFormat f : kFormats) {
      const Ref<Movel::Any> decoded = RoundTrip(f, box);
      auto* back = dynamic_cast<Movel::Primitive<DateTime>*>(decoded.Get());
      ASSERT_NE(back, nullptr) << text;
      EXPECT_EQ(back->GetValue().GetUtcTime(), t.GetUtcTime()) << text;
      EXPECT_EQ(back->GetValue().GetOffsetMinutes(), t.GetOffsetMinutes()) << text;
    }
  }
}

// The reading side refuses what the writing side could not write: a decoded
// text always encodes again. Character references and raw bytes outside
// XML's characters fail as malformed; the ones XML allows decode to their
// character and survive a second round trip.
TEST(WireValues, XmlRefusesCharactersItCouldNotWriteBack) {
  const std::string open =
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"string\">";
  const std::string refused[] = {"&#1;", "&#0;", "&#x0;", "&#xD800;", "&#xFFFE;", "&#x110000;",
                                 "&#1114112;", "&#;", "&#x;", "&#12a;", "&#xG1;",
                                 "a\x01z", std::string(1, '\0')};
  for (const std::string& body : refused) {
    const std::string doc = open + body + "</value>";
    EXPECT_EQ(FailureKind(WireFormat::kXml, doc), WireError::Kind::kMalformed) << body;
  }
  const std::pair<const char*, std::string> accepted[] = {
      {"&#9;&#10;&#13;", "\t\n\r"},
      {"&#x20;&#xd7ff;", " \xed\x9f\xbf"},
      {"&#xE000;&#x10FFFF;", "\xee\x80\x80\xf4\x8f\xbf\xbf"},
      {"&#65;&amp;&lt;", "A&<"},
  };
  for (const auto& [body, text] : accepted) {
    Ref<Movel::Any> v = Movel::DecodeValue(WireFormat::kXml, open + body + "</value>");
    auto* s = dynamic_cast<Movel::Primitive<std::string>*>(v.Get());
    ASSERT_NE(s, nullptr) << body;
    EXPECT_EQ(s->GetValue(), text) << body;
    EXPECT_TRUE(Movel::AreEqualAnysInt(v, RoundTrip(WireFormat::kXml, v), 0, false)) << body;
  }
}

// Names that are empty once their prefix is gone, or empty outright, still
// give errors whose path starts at the root.
// JSON objects are unordered: a class named after some members (here two
// levels deep) is found all the same, and must still fit its place.
TEST(WireValues, JsonFindsAClassNamedAfterTheMembers) {
  Ref<Movel::MethodFault> outer(new Movel::MethodFault());
  Ref<Movel::Fault::InvalidArgument> middle(new Movel::Fault::InvalidArgument());
  Ref<Movel::Fault::InvalidArgument> inner(new Movel::Fault::InvalidArgument());
  middle->SetInvalidProperty(Movel::PropertyPath("a"));
  inner->SetInvalidProperty(Movel::PropertyPath("b"));
  middle->SetFaultCause(inner);
  outer->SetFaultCause(middle);
  const std::string named = "\"_typeName\":\"InvalidArgument\"";
  const std::string docs[] = {
      "{\"_typeName\":\"MethodFault\",\"faultCause\":{\"faultCause\":{\"invalidProperty\":\"b\"," + named +
          "},\"invalidProperty\":\"a\"," + named + "}}",
      "{\"_typeName\":\"MethodFault\",\"faultCause\":{\"invalidProperty\":\"a\",\"faultCause\":{" + named +
          ",\"invalidProperty\":\"b\"}," + named + "}}",
      Movel::EncodeValue(WireFormat::kJson, outer)};
  for (const std::string& doc : docs) {
    Ref<Movel::Any> back = Movel::DecodeValue(WireFormat::kJson, doc);
    EXPECT_TRUE(Movel::AreEqualAnysInt(outer, back, 0, false)) << doc << "\n" << Movel::DebugString(back);
  }
  std::string path;
  EXPECT_EQ(FailureKind(WireFormat::kJson,
                        "{\"_typeName\":\"MethodFault\",\"faultCause\":{\"key\":\"k\",\"_typeName\":\"LocalizableMessage\"}}",
                        &path),
            WireError::Kind::kWrongType);
  EXPECT_EQ(path, "/faultCause");
  EXPECT_EQ(FailureKind(WireFormat::kJson,
                        "{\"_typeName\":\"MethodFault\",\"faultCause\":{\"invalidProperty\":\"a\",\"_typeName\":\"Nope\"}}"),
            WireError::Kind::kUnknownType);
}

TEST(WireValues, ErrorsUnderEmptyNamesKeepARootedPath) {
  const std::string docs[][2] = {
      {"xml", "<x: xmlns:x=\"urn:a\"/>"},
      {"xml", "<a:>1</a:>"},
      {"json", "{\"_operation\":\"\",\"_this\":{\"type\":\"x\"}}"},
      {"json", "{\"_operation\":\"\"_tyName\xa9\"}"},
  };
  for (const auto& [format, doc] : docs) {
    const WireFormat f = format == std::string("xml") ? WireFormat::kXml : WireFormat::kJson;
    for (int kind = 0; kind < 3; ++kind) {
      try {
        if (kind == 0) Movel::DecodeValue(f, doc);
        if (kind == 1) Movel::DecodeRequest(f, doc);
        if (kind == 2) Movel::DecodeFault(f, doc);
        ADD_FAILURE() << "accepted: " << doc;
      } catch (const WireError& e) {
        ASSERT_FALSE(e.GetPath().empty()) << doc << ": " << e.what();
        EXPECT_EQ(e.GetPath()[0], '/') << doc << ": " << e.what();
      }
    }
  }
}

WireError::Kind FailureKind(WireFormat f, const std::string& doc, std::string* path) {
  try {
    Movel::DecodeValue(f, doc);
  } catch (const WireError& e) {
    if (path) *path = e.GetPath();
    return e.GetKind();
  }
  ADD_FAILURE() << "accepted: " << doc;
  return WireError::Kind::kNotInVersion;
}

TEST(WireValues, MalformedDocumentsFailWithTheirKind) {
  const std::string xsi = " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
  EXPECT_EQ(FailureKind(WireFormat::kXml, ""), WireError::Kind::kTruncated);
  EXPECT_EQ(FailureKind(WireFormat::kXml, "<value" + xsi + " xsi:type=\"int\">1</value><x/>"), WireError::Kind::kMalformed);
  EXPECT_EQ(FailureKind(WireFormat::kXml, "<value" + xsi + " xsi:type=\"byte\">300</value>"), WireError::Kind::kOutOfRange);
  EXPECT_EQ(FailureKind(WireFormat::kXml, "<value" + xsi + " xsi:type=\"binary\">@@@</value>"), WireError::Kind::kWrongType);
  EXPECT_EQ(FailureKind(WireFormat::kXml, "<value" + xsi + ">1</value>"), WireError::Kind::kWrongType);
  EXPECT_EQ(FailureKind(WireFormat::kJson, ""), WireError::Kind::kTruncated);
  EXPECT_EQ(FailureKind(WireFormat::kJson, "{\"_typeName\":\"int\",\"_value\":1} x"), WireError::Kind::kMalformed);
  EXPECT_EQ(FailureKind(WireFormat::kJson, "{\"_typeName\":\"short\",\"_value\":70000}"), WireError::Kind::kOutOfRange);
  EXPECT_EQ(FailureKind(WireFormat::kJson, "{\"_typeName\":\"int\",\"_value\":\"1\"}"), WireError::Kind::kWrongType);
  EXPECT_EQ(FailureKind(WireFormat::kJson, "{\"_typeName\":\"string\",\"_value\":\"\\ud800\"}"), WireError::Kind::kMalformed);
  EXPECT_EQ(FailureKind(WireFormat::kJson, "{\"_typeName\":\"string\",\"_value\":\"abc"), WireError::Kind::kTruncated);
  EXPECT_EQ(FailureKind(WireFormat::kJson, "{\"_value\":1}"), WireError::Kind::kWrongType);
  std::string path;
  EXPECT_EQ(FailureKind(WireFormat::kJson,
                        "{\"_typeName\":\"LocalizableMessage\",\"key\":\"k\",\"arg\":[{\"key\":\"a\",\"value\":"
                        "{\"_typeName\":\"int\",\"_value\":true}}]}",
                        &path),
            WireError::Kind::kWrongType);
  EXPECT_EQ(path, "/arg[0]/value/_value");
}

TEST(WireValues, ErrorsBecomeFaultsNamingThePath) {
  try {
    Movel::DecodeValue(WireFormat::kJson, "{\"_typeName\":\"SystemError\",\"reason\":5}");
    FAIL() << "accepted a number for a string";
  } catch (const WireError& e) {
    Ref<Movel::MethodFault> fault = e.ToFault();
    auto* invalid = dynamic_cast<Movel::Fault::InvalidArgument*>(fault.Get());
    ASSERT_NE(invalid, nullptr);
    ASSERT_NE(invalid->GetInvalidProperty(), nullptr);
    EXPECT_EQ(invalid->GetInvalidProperty()->str(), "/reason");
    // The fault itself travels.
    Ref<Movel::MethodFault> back = Movel::DecodeFault(WireFormat::kXml, Movel::EncodeFault(WireFormat::kXml, fault));
    EXPECT_TRUE(Movel::AreEqualAnysInt(fault, back, 0, false));
  }
}

}  // namespace
