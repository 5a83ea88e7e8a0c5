// Writes the seed corpora of fuzz_wire_xml and fuzz_wire_json: valid
// documents of every shape encoded from sample-library values (each data
// type left default, smp.AllKinds with every property set, a box and an
// array of every scalar kind, a request and a response of every method, a
// fault of every fault type), then hostile documents written by hand.
// Each file starts with the fuzzers' control byte (fuzz_wire.h).
//
//   wire_seeds OUT_DIR     writes OUT_DIR/wire_xml and OUT_DIR/wire_json
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_values.h"
#include "fuzz_wire.h"
#include "movel/builtin.h"
#include "probes.h"

namespace {

using Basekit::Ref;
using Movel::WireFormat;

class SeedWriter {
 public:
  SeedWriter(std::string dir, WireFormat format) : dir_(std::move(dir)), format_(format) {}

  void Write(unsigned control, const std::string& doc, int methodIndex = -1) {
    std::string bytes(1, static_cast<char>(control));
    if (methodIndex >= 0) bytes += static_cast<char>(methodIndex);
    bytes += doc;
    char name[32];
    std::snprintf(name, sizeof name, "/seed-%03d", count_++);
    std::ofstream file(dir_ + name, std::ios::binary);
    file << bytes;
    if (!file.flush()) {
      std::fprintf(stderr, "wire_seeds: cannot write %s%s\n", dir_.c_str(), name);
      std::exit(1);
    }
  }

  // A value decoded with any version and again as smp.version.v1 (bits 3-4).
  void Value(const Ref<Movel::Any>& v) {
    const std::string doc = Movel::EncodeValue(format_, v);
    Write(fuzz::kValueDoc, doc);
    Write(fuzz::kValueDoc | (1u << 3), doc);
  }

  WireFormat Format() const { return format_; }
  int Count() const { return count_; }

 private:
  std::string dir_;
  WireFormat format_;
  int count_ = 0;
};

// A value for a parameter or result of type t: a default data object, a
// reference, an enumeration's first value or a box; null for other kinds.
Ref<Movel::Any> SampleOf(Movel::Type* t, bool array) {
  if (!t) return nullptr;
  if (t->IsDataObject() && !t->IsArray()) {
    auto* d = static_cast<Movel::DataObjectType*>(t);
    return array ? Ref<Movel::Any>(d->CreateArrayInstance()) : Ref<Movel::Any>(d->CreateInstance());
  }
  if (t->IsManaged()) {
    Ref<Movel::Any> ref = Movel::MakeMoRef(static_cast<Movel::ManagedObjectType*>(t), "obj-1");
    if (!array) return ref;
    auto* refs = new Movel::DataArray<Movel::MoRef>();
    refs->Append(static_cast<Movel::MoRef*>(ref.Get()));
    return refs;
  }
  if (t->IsEnum() && !array) return static_cast<Movel::EnumType*>(t)->GetFuncs().boxValue(0);
  if (t->GetName() == "string") {
    return array ? Ref<Movel::Any>(new Movel::Array<std::string>({"a", "b"}))
                 : Ref<Movel::Any>(new Movel::Primitive<std::string>("text"));
  }
  if (t->GetName() == "boolean" && !array) return new Movel::Primitive<bool>(true);
  if (t->GetName() == "int" && !array) return new Movel::Primitive<int>(7);
  return nullptr;
}

void ValidSeeds(SeedWriter& w) {
  using Basekit::System::DateTime;
  w.Value(sample::Filled(0));
  w.Value(sample::Filled(1));
  for (Movel::Type* t : fuzz::TypesWhere([](const Movel::Type* t) { return t->IsDataObject() && !t->IsArray(); })) {
    Ref<Movel::Any> o(static_cast<Movel::DataObjectType*>(t)->CreateInstance());
    if (o) w.Value(o);
  }
  w.Value(nullptr);
  w.Value(new Movel::Primitive<std::string>("a < b & c > \"d\"\n"));
  w.Value(new Movel::Primitive<bool>(false));
  w.Value(new Movel::Primitive<signed char>(-128));
  w.Value(new Movel::Primitive<short>(-32768));
  w.Value(new Movel::Primitive<int>(2147483647));
  w.Value(new Movel::Primitive<long long>(-9223372036854775807LL - 1));
  w.Value(new Movel::Primitive<float>(1.5e-7f));
  w.Value(new Movel::Primitive<double>(-2.5e300));
  w.Value(new Movel::Primitive<DateTime>(DateTime::FromCivil(2024, 2, 29, 23, 59, 59, 999999, 330)));
  w.Value(new Movel::Primitive<std::vector<unsigned char>>(std::vector<unsigned char>{0, 1, 254, 255}));
  w.Value(new Movel::Primitive<Movel::TypeName>("smp.AllKinds"));
  w.Value(new Movel::Primitive<Movel::MethodName>("smp.Task.cancel"));
  w.Value(new Movel::Primitive<Movel::PropertyPath>("info.state[2]"));
  w.Value(new Movel::Primitive<Movel::Uri>("https://example.net/?a=b&c"));
  w.Value(new Movel::Array<std::string>({"x", "", "y & z"}));
  w.Value(new Movel::Array<bool>({true, false}));
  w.Value(new Movel::Array<long long>({1, -1}));
  w.Value(new Movel::Array<double>({0.25, -8.0}));
  w.Value(new Movel::Array<DateTime>({DateTime(0), DateTime(-1)}));
  w.Value(new Movel::Array<std::vector<unsigned char>>({{1, 2, 3}, {}}));
  auto* anys = new Movel::DataArray<Movel::Any>();
  anys->Append(new Movel::Primitive<int>(4));
  anys->Append(new Movel::KeyAnyValue("k", new Movel::Primitive<std::string>("v")));
  anys->Append(new Movel::Array<int>({9}));
  w.Value(anys);

  const std::vector<const Movel::ManagedMethod*>& methods = fuzz::AllMethods();
  for (std::size_t i = 0; i < methods.size() && i < 256; ++i) {
    const Movel::ManagedMethod* m = methods[i];
    Ref<Movel::MoRef> target = Movel::MakeMoRef(const_cast<Movel::ManagedObjectType*>(m->GetOwner()), "target-1");
    Basekit::RefVector<Movel::Any> none(m->GetParameters().size());
    Basekit::RefVector<Movel::Any> filled;
    for (const Movel::Parameter& p : m->GetParameters()) filled.push_back(SampleOf(p.GetType(), p.IsArray()));
    w.Write(fuzz::kRequestDoc, Movel::EncodeRequest(w.Format(), target, m, none));
    w.Write(fuzz::kRequestDoc, Movel::EncodeRequest(w.Format(), target, m, filled));
    w.Write(fuzz::kResponseDoc, Movel::EncodeResponse(w.Format(), m, nullptr), static_cast<int>(i));
    const Movel::Parameter& result = m->GetResult();
    Ref<Movel::Any> value = SampleOf(result.GetType(), result.IsArray());
    if (m->IsTask()) value = SampleOf(Movel::FindTypeByWsdlName("Task"), false);
    if (value) w.Write(fuzz::kResponseDoc, Movel::EncodeResponse(w.Format(), m, value), static_cast<int>(i));
  }
  for (Movel::Type* t : fuzz::TypesWhere([](const Movel::Type* t) {
         return t->IsDataObject() && !t->IsArray() &&
                static_cast<const Movel::StructuredType*>(t)->IsA(Movel::GetDoType<Movel::MethodFault>());
       })) {
    Ref<Movel::MethodFault> f(dynamic_cast<Movel::MethodFault*>(static_cast<Movel::DataObjectType*>(t)->CreateInstance()));
    if (!f) continue;
    auto* message = new Movel::LocalizableMessage("sample.fault");
    message->SetMessage("it failed");
    f->GetOrCreateFaultMessage()->Append(message);
    const std::string doc = Movel::EncodeFault(w.Format(), f);
    w.Write(fuzz::kFaultDoc, doc);
    if (w.Count() % 4 == 0) w.Write(fuzz::kResponseDoc, doc, 0);
  }
}

void HostileXml(SeedWriter& w) {
  const char* const docs[] = {
      "<!DOCTYPE value [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;\">]><value>&b;</value>",
      "<!DOCTYPE value SYSTEM \"file:///etc/passwd\"><value>&x;</value>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"xsd:string\">&ext;</value>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"xsd:string\">&#1;&#xD800;&#0;</value>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"NoSuchType\"/>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"xsd:int\">99999999999999999999</value>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"xsd:byte\">-129</value>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"xsd:double\">1e99999</value>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"xsd:base64Binary\">QUJD=A==</value>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"xsd:dateTime\">2024-02-30T25:61:00+99:00</value>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"Color\">purple</value>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"AllKinds\"><reqInt>1<reqInt>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"AllKinds\"><reqInt>x</reqInt></value>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"AllKinds\"><reqData xsi:type=\"Task\"/></value>",
      "<value xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"><anyType xsi:type=\"ArrayOfAnyType\"/></anyType></anyType></anyType></anyType></anyType></anyType></anyType></anyType></anyType></anyType></anyType></anyType></value>",
      "<value><![CDATA[text]]></value>",
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?><value/>",
      "<a:value xmlns:a=\"urn:x\" xmlns:b=\"http://www.w3.org/2001/XMLSchema-instance\" b:type=\"xsd:string\" b:nil=\"1\"/>",
  };
  for (const char* d : docs) w.Write(fuzz::kValueDoc, d);
  w.Write(fuzz::kRequestDoc, "<cancel><_this type=\"Task\">t</_this><extra/></cancel>");
  w.Write(fuzz::kRequestDoc, "<NoSuchOp><_this type=\"Task\">t</_this></NoSuchOp>");
  w.Write(fuzz::kRequestDoc | 4u, "<cancel><_this type=\"NoSuchType\">t</_this></cancel>");
  w.Write(fuzz::kFaultDoc, "<Fault><faultstring>x</faultstring><detail><AFault xsi:type=\"Task\"/></detail></Fault>");
  w.Write(fuzz::kFaultDoc, "<Fault><detail/></Fault>");
  w.Write(fuzz::kResponseDoc, "<Fault><faultstring>x</faultstring><detail></detail></Fault>", 1);
}

void HostileJson(SeedWriter& w) {
  const char* const docs[] = {
      "{\"_typeName\":\"string\",\"_value\":\"\\ud800\"}",
      "{\"_typeName\":\"int\",\"_value\":99999999999999999999}",
      "{\"_typeName\":\"byte\",\"_value\":-129}",
      "{\"_typeName\":\"double\",\"_value\":1e99999}",
      "{\"_typeName\":\"long\",\"_value\":1.5}",
      "{\"_typeName\":\"base64Binary\",\"_value\":\"QUJD=A==\"}",
      "{\"_typeName\":\"dateTime\",\"_value\":\"2024-02-30T25:61:00+99:00\"}",
      "{\"_typeName\":\"Color\",\"_value\":\"purple\"}",
      "{\"_typeName\":\"NoSuchType\"}",
      "{\"_typeName\":\"AllKinds\",\"reqInt\":1",
      "{\"_typeName\":\"AllKinds\",\"reqInt\":\"x\"}",
      "{\"_typeName\":\"AllKinds\",\"reqInt\":1,\"reqInt\":2}",
      "{\"_typeName\":\"AllKinds\",\"reqData\":{\"_typeName\":\"Task\"}}",
      "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]",
      "{\"_typeName\":\"ArrayOfAnyType\",\"_value\":[{\"_typeName\":\"ArrayOfAnyType\",\"_value\":[{\"_typeName\":\"ArrayOfAnyType\",\"_value\":[{\"_typeName\":\"ArrayOfAnyType\",\"_value\":[{\"_typeName\":\"ArrayOfAnyType\",\"_value\":[{\"_typeName\":\"ArrayOfAnyType\",\"_value\":[]}]}]}]}]}]}",
      "\xef\xbb\xbf{\"_typeName\":\"string\",\"_value\":\"\\u0000\"} x",
      "{\"_typeName\":\"string\",\"_value\":\"\xff\xfe\"}",
  };
  for (const char* d : docs) w.Write(fuzz::kValueDoc, d);
  w.Write(fuzz::kRequestDoc, "{\"_operation\":\"NoSuchOp\",\"_this\":{\"type\":\"Task\",\"value\":\"t\"}}");
  w.Write(fuzz::kRequestDoc | 4u, "{\"_operation\":\"cancel\",\"_this\":{\"type\":\"Task\",\"value\":\"t\"},\"extra\":1}");
  w.Write(fuzz::kFaultDoc, "{\"_fault\":{\"_typeName\":\"Task\"},\"faultstring\":\"x\"}");
  w.Write(fuzz::kFaultDoc, "{\"_fault\":null}");
  w.Write(fuzz::kResponseDoc, "{\"_fault\":{\"_typeName\":\"SampleFault\"},\"faultstring\":\"x\"}", 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wire_seeds OUT_DIR\n");
    return 2;
  }
  const std::string out = argv[1];
  SeedWriter xml(out + "/wire_xml", WireFormat::kXml);
  ValidSeeds(xml);
  HostileXml(xml);
  SeedWriter json(out + "/wire_json", WireFormat::kJson);
  ValidSeeds(json);
  HostileJson(json);
  std::printf("wire_seeds: %d XML and %d JSON seeds\n", xml.Count(), json.Count());
  return 0;
}
