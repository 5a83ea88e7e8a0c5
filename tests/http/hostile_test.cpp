// Requests no adapter sends, on raw connections: each is answered with a
// fault saying what is wrong, and the server serves the next good request.
#include <string>

#include "http_fixture.h"

namespace httptest {
namespace {

using Movel::WireError;
using Movel::WireFormat;

class HostileTest : public HttpTest {
 protected:
  static constexpr std::size_t kMaxMessage = 256u << 10;
  static constexpr std::size_t kMaxString = 4096;

  void SetUp() override {
    Movel::HttpServerOptions options;
    options.limits.maxMessageBytes = kMaxMessage;
    options.limits.maxStringBytes = kMaxString;
    options.readTimeout = std::chrono::milliseconds(2000);
    Serve(options);
  }

  Movel::ManagedMethod* Method(Movel::ManagedObjectType* type, const char* name) {
    return const_cast<Movel::ManagedMethod*>(type->FindMethod(name));
  }

  // A good RetrieveServiceContent request.
  std::string Retrieve(WireFormat format) {
    Ref<Movel::MoRef> si = Movel::MakeMoRef(Movel::GetMoType<Kor::ServiceInstance>(),
                                            kortypes::demo::kServiceInstanceId);
    Basekit::RefVector<Movel::Any> none;
    return Movel::EncodeRequest(
        format, si, Method(Movel::GetMoType<Kor::ServiceInstance>(), "RetrieveServiceContent"),
        none);
  }

  // A good QueryOverhead request on the host, with memorySize 4294967296.
  std::string Overhead(WireFormat format) {
    Ref<Movel::MoRef> host =
        Movel::MakeMoRef(Movel::GetMoType<Kor::HostSystem>(), kortypes::demo::kHostId);
    Basekit::RefVector<Movel::Any> args;
    args.push_back(Ref<Movel::Any>(new Movel::Primitive<long long>(4LL << 30)));
    args.push_back(nullptr);
    args.push_back(Ref<Movel::Any>(new Movel::Primitive<int>(2)));
    return Movel::EncodeRequest(format, host,
                                Method(Movel::GetMoType<Kor::HostSystem>(), "QueryOverhead"), args);
  }

  static const char* Type(WireFormat format) {
    return format == WireFormat::kJson ? "application/json" : "text/xml";
  }

  // The answer is a fault document of format, with status, decoding to
  // InvalidArgument whose message names kind; the server then still
  // answers a good call.
  void ExpectRefused(const RawAnswer& answer, int status, WireFormat format, WireError::Kind kind) {
    EXPECT_EQ(answer.status, status) << answer.body;
    ASSERT_TRUE(Movel::IsFaultDocument(format, answer.body)) << answer.body;
    Ref<Movel::MethodFault> fault = Movel::DecodeFault(format, answer.body);
    ASSERT_TRUE(dynamic_cast<Movel::Fault::InvalidArgument*>(fault.Get()))
        << fault->_GetType()->GetName();
    const auto* messages = fault->GetFaultMessage();
    ASSERT_TRUE(messages && messages->GetLength() > 0);
    const std::string* text = messages->Get(0)->GetMessage();
    ASSERT_TRUE(text);
    EXPECT_NE(text->find(Movel::WireErrorKindName(kind)), std::string::npos) << *text;
    ExpectServing();
  }

  void ExpectServing() {
    Ref<Kor::ServiceInstanceContent> content;
    Kor::GetMoStubFactory()->CreateServiceInstance(Client())->RetrieveContent(content);
    ASSERT_TRUE(content && content->PeekAbout());
    RawAnswer good = SendRaw(http->GetPort(), Post("/sdk", "text/xml", Retrieve(WireFormat::kXml)));
    EXPECT_EQ(good.status, 200);
  }
};

TEST_F(HostileTest, GoodRawRequestsAreAnswered) {
  for (WireFormat format : {WireFormat::kXml, WireFormat::kJson}) {
    RawAnswer answer = SendRaw(http->GetPort(), Post("/sdk", Type(format), Overhead(format)));
    EXPECT_EQ(answer.status, 200) << answer.body;
    EXPECT_FALSE(Movel::IsFaultDocument(format, answer.body));
  }
}

TEST_F(HostileTest, TruncatedDocumentsAreRefused) {
  for (WireFormat format : {WireFormat::kXml, WireFormat::kJson}) {
    std::string whole = Overhead(format);
    for (std::size_t cut : {whole.size() / 3, whole.size() - 2}) {
      RawAnswer answer = SendRaw(http->GetPort(), Post("/sdk", Type(format), whole.substr(0, cut)));
      EXPECT_EQ(answer.status, 500);
      EXPECT_TRUE(Movel::IsFaultDocument(format, answer.body)) << answer.body;
    }
  }
  // A body shorter than its Content-Length, then the connection half
  // closed: the server drops the connection and goes on serving.
  std::string whole = Overhead(WireFormat::kXml);
  std::string request = Post("/sdk", "text/xml", whole);
  SendRaw(http->GetPort(), request.substr(0, request.size() - whole.size() / 2), true);
  ExpectServing();
}

TEST_F(HostileTest, ValuesOfTheWrongTypeAreRefused) {
  std::string xml = Overhead(WireFormat::kXml);
  const std::string size = std::to_string(4LL << 30);
  ASSERT_NE(xml.find(size), std::string::npos);
  xml.replace(xml.find(size), size.size(), "four-gigabytes");
  ExpectRefused(SendRaw(http->GetPort(), Post("/sdk", "text/xml", xml)), 500, WireFormat::kXml,
                WireError::Kind::kWrongType);

  std::string json = Overhead(WireFormat::kJson);
  ASSERT_NE(json.find(size), std::string::npos);
  json.replace(json.find(size), size.size(), "[1,2]");
  ExpectRefused(SendRaw(http->GetPort(), Post("/sdk", "application/json", json)), 500,
                WireFormat::kJson, WireError::Kind::kWrongType);
}

TEST_F(HostileTest, DeepNestingIsRefused) {
  std::string xml = Retrieve(WireFormat::kXml);
  std::string open, close;
  for (int i = 0; i < 5000; ++i) {
    open += "<a>";
    close = "</a>" + close;
  }
  std::size_t end = xml.rfind("</");
  xml.insert(end, open + close);
  ExpectRefused(SendRaw(http->GetPort(), Post("/sdk", "text/xml", xml)), 500, WireFormat::kXml,
                WireError::Kind::kLimit);

  std::string json = Retrieve(WireFormat::kJson);
  std::string nested = std::string(5000, '[') + std::string(5000, ']');
  json.insert(json.rfind('}'), ",\"deep\":" + nested);
  ExpectRefused(SendRaw(http->GetPort(), Post("/sdk", "application/json", json)), 500,
                WireFormat::kJson, WireError::Kind::kLimit);
}

TEST_F(HostileTest, EntityDeclarationsAreRefused) {
  std::string doctype = "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aaaaaaaaaa\">";
  std::string previous = "a";
  for (int level = 0; level < 8; ++level) {
    std::string name = "e" + std::to_string(level);
    doctype += "<!ENTITY " + name + " \"";
    for (int i = 0; i < 10; ++i) doctype += "&" + previous + ";";
    doctype += "\">";
    previous = name;
  }
  doctype += "]>";
  std::string xml = Retrieve(WireFormat::kXml);
  std::string body = doctype + xml.insert(xml.rfind("</"), "<x>&" + previous + ";</x>");
  ExpectRefused(SendRaw(http->GetPort(), Post("/sdk", "text/xml", body)), 500, WireFormat::kXml,
                WireError::Kind::kForbidden);
  // An external entity in the document type alone.
  ExpectRefused(SendRaw(http->GetPort(),
                        Post("/sdk", "text/xml",
                             "<!DOCTYPE d SYSTEM \"file:///etc/passwd\">" +
                                 Retrieve(WireFormat::kXml))),
                500, WireFormat::kXml, WireError::Kind::kForbidden);
}

TEST_F(HostileTest, OversizedStringsAndBodiesAreRefused) {
  // A string beyond the string limit, inside a body within the size limit.
  Ref<Movel::MoRef> vm = Movel::MakeMoRef(Movel::GetMoType<Kor::VirtualMachine>(), kortypes::demo::kVmId);
  Basekit::RefVector<Movel::Any> args;
  args.push_back(Ref<Movel::Any>(new Movel::Primitive<std::string>(std::string(kMaxString * 2, 'n'))));
  for (WireFormat format : {WireFormat::kXml, WireFormat::kJson}) {
    std::string body = Movel::EncodeRequest(
        format, vm, Method(Movel::GetMoType<Kor::VirtualMachine>(), "rename"), args);
    ASSERT_LT(body.size(), kMaxMessage);
    ExpectRefused(SendRaw(http->GetPort(), Post("/sdk", Type(format), body)), 500, format,
                  WireError::Kind::kLimit);
  }
  // A body beyond the message limit is refused before it is read.
  std::string huge = Retrieve(WireFormat::kXml);
  huge.insert(huge.rfind("</"), "<x>" + std::string(kMaxMessage, 'x') + "</x>");
  ExpectRefused(SendRaw(http->GetPort(), Post("/sdk", "text/xml", huge)), 413, WireFormat::kXml,
                WireError::Kind::kLimit);
}

TEST_F(HostileTest, CompressedBodiesAreRefusedUnread) {
  // Expanded, a compressed body could dwarf every limit: whatever it holds,
  // it is refused before it is read.
  const std::string body(64u << 10, '\x1f');
  std::string request = Post("/sdk", "text/xml", body);
  request.insert(request.find("\r\n") + 2, "Content-Encoding: gzip\r\n");
  RawAnswer answer = SendRaw(http->GetPort(), request);
  ExpectRefused(answer, 415, WireFormat::kXml, WireError::Kind::kForbidden);
  EXPECT_NE(answer.body.find("gzip"), std::string::npos);
}

TEST_F(HostileTest, WrongContentTypesPathsAndOperationsAreRefused) {
  ExpectRefused(SendRaw(http->GetPort(), Post("/sdk", "text/plain", Retrieve(WireFormat::kXml))),
                415, WireFormat::kXml, WireError::Kind::kMalformed);
  // XML sent as JSON is not JSON.
  ExpectRefused(SendRaw(http->GetPort(), Post("/sdk", "application/json", Retrieve(WireFormat::kXml))),
                500, WireFormat::kJson, WireError::Kind::kMalformed);
  ExpectRefused(SendRaw(http->GetPort(), Post("/elsewhere", "text/xml", Retrieve(WireFormat::kXml))),
                404, WireFormat::kXml, WireError::Kind::kMalformed);

  std::string xml = Retrieve(WireFormat::kXml);
  for (std::size_t at; (at = xml.find("RetrieveServiceContent")) != std::string::npos;) {
    xml.replace(at, 22, "NoSuchOperation");
  }
  ExpectRefused(SendRaw(http->GetPort(), Post("/sdk", "text/xml", xml)), 500, WireFormat::kXml,
                WireError::Kind::kUnknownMethod);
  std::string json = Retrieve(WireFormat::kJson);
  json.replace(json.find("RetrieveServiceContent"), 22, "NoSuchOperation");
  ExpectRefused(SendRaw(http->GetPort(), Post("/sdk", "application/json", json)), 500,
                WireFormat::kJson, WireError::Kind::kUnknownMethod);

  // Headers the server reads, garbled.
  std::string request = Post("/sdk", "text/xml", Retrieve(WireFormat::kXml));
  std::string version = request;
  version.insert(version.find("\r\n") + 2, std::string(Movel::kHttpVersionHeader) + ": kor.version.none\r\n");
  ExpectRefused(SendRaw(http->GetPort(), version), 500, WireFormat::kXml, WireError::Kind::kMalformed);
  std::string context = request;
  context.insert(context.find("\r\n") + 2, std::string(Movel::kHttpContextHeader) + ": user=%zz!\r\n");
  ExpectRefused(SendRaw(http->GetPort(), context), 500, WireFormat::kXml, WireError::Kind::kMalformed);
}

TEST_F(HostileTest, GarbageConnectionsLeaveTheServerServing) {
  SendRaw(http->GetPort(), std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), true);
  SendRaw(http->GetPort(), "NOT HTTP AT ALL\r\n\r\n", true);
  SendRaw(http->GetPort(), "", true);
  ExpectServing();
}

}  // namespace
}  // namespace httptest
