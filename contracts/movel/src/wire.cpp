// The public entry points of the wire encodings: each picks its format's
// implementation (xml_codec.cpp, json_codec.cpp).
#include "movel/wire.h"

#include "wire_internal.h"

namespace Movel {
namespace wire {

std::string XmlEncodeValue(const Any* value, const EncodeOptions& options);
Basekit::Ref<Any> XmlDecodeValue(std::string_view document, const DecodeOptions& options,
                                 const Type* declared);
std::string XmlEncodeRequest(const MoRef* target, const ManagedMethod* method,
                             const Basekit::RefVector<Any>& args, const EncodeOptions& options);
WireRequest XmlDecodeRequest(std::string_view document, const DecodeOptions& options);
std::string XmlEncodeResponse(const ManagedMethod* method, const Any* result,
                              const EncodeOptions& options);
Basekit::Ref<Any> XmlDecodeResponse(std::string_view document, const ManagedMethod* method,
                                    const DecodeOptions& options);
std::string XmlEncodeFault(const MethodFault* fault, const EncodeOptions& options);
Basekit::Ref<MethodFault> XmlDecodeFault(std::string_view document, const DecodeOptions& options);
bool XmlIsFault(std::string_view document);

std::string JsonEncodeValue(const Any* value, const EncodeOptions& options);
Basekit::Ref<Any> JsonDecodeValue(std::string_view document, const DecodeOptions& options,
                                  const Type* declared);
std::string JsonEncodeRequest(const MoRef* target, const ManagedMethod* method,
                              const Basekit::RefVector<Any>& args, const EncodeOptions& options);
WireRequest JsonDecodeRequest(std::string_view document, const DecodeOptions& options);
std::string JsonEncodeResponse(const ManagedMethod* method, const Any* result,
                               const EncodeOptions& options);
Basekit::Ref<Any> JsonDecodeResponse(std::string_view document, const ManagedMethod* method,
                                     const DecodeOptions& options);
std::string JsonEncodeFault(const MethodFault* fault, const EncodeOptions& options);
Basekit::Ref<MethodFault> JsonDecodeFault(std::string_view document, const DecodeOptions& options);
bool JsonIsFault(std::string_view document);

namespace {

void Require(const void* p, const char* what) {
  if (!p) throw WireError(WireError::Kind::kMalformed, "/", std::string("no ") + what + " given");
}

void CheckMethodVersion(const ManagedMethod* method, const EncodeOptions& options) {
  if (!options.peerVersion) return;
  const Version* v = FindVersion(method->GetVersionName() ? method->GetVersionName() : "");
  if (!IsInVersion(v, options.peerVersion)) {
    throw WireError(WireError::Kind::kNotInVersion, "/" + method->GetWsdlName(),
                    "operation " + method->GetFullName() + " is newer than version " +
                        options.peerVersion->GetName());
  }
}

}  // namespace
}  // namespace wire

using namespace wire;

std::string EncodeValue(WireFormat format, const Any* value, const EncodeOptions& options) {
  return format == WireFormat::kXml ? XmlEncodeValue(value, options) : JsonEncodeValue(value, options);
}

Basekit::Ref<Any> DecodeValue(WireFormat format, std::string_view document,
                              const DecodeOptions& options, const Type* declared) {
  return format == WireFormat::kXml ? XmlDecodeValue(document, options, declared)
                                    : JsonDecodeValue(document, options, declared);
}

std::string EncodeRequest(WireFormat format, const MoRef* target, const ManagedMethod* method,
                          const Basekit::RefVector<Any>& args, const EncodeOptions& options) {
  Require(target, "target");
  Require(method, "method");
  CheckMethodVersion(method, options);
  return format == WireFormat::kXml ? XmlEncodeRequest(target, method, args, options)
                                    : JsonEncodeRequest(target, method, args, options);
}

WireRequest DecodeRequest(WireFormat format, std::string_view document,
                          const DecodeOptions& options) {
  WireRequest request = format == WireFormat::kXml ? XmlDecodeRequest(document, options)
                                                   : JsonDecodeRequest(document, options);
  if (options.version) {
    const Version* v =
        FindVersion(request.method->GetVersionName() ? request.method->GetVersionName() : "");
    if (!IsInVersion(v, options.version)) {
      throw WireError(WireError::Kind::kUnknownMethod, "/" + request.method->GetWsdlName(),
                      "operation " + request.method->GetFullName() + " is newer than version " +
                          options.version->GetName());
    }
  }
  return request;
}

std::string EncodeResponse(WireFormat format, const ManagedMethod* method, const Any* result,
                           const EncodeOptions& options) {
  Require(method, "method");
  return format == WireFormat::kXml ? XmlEncodeResponse(method, result, options)
                                    : JsonEncodeResponse(method, result, options);
}

Basekit::Ref<Any> DecodeResponse(WireFormat format, std::string_view document,
                                 const ManagedMethod* method, const DecodeOptions& options) {
  Require(method, "method");
  return format == WireFormat::kXml ? XmlDecodeResponse(document, method, options)
                                    : JsonDecodeResponse(document, method, options);
}

std::string EncodeFault(WireFormat format, const MethodFault* fault, const EncodeOptions& options) {
  Require(fault, "fault");
  return format == WireFormat::kXml ? XmlEncodeFault(fault, options) : JsonEncodeFault(fault, options);
}

Basekit::Ref<MethodFault> DecodeFault(WireFormat format, std::string_view document,
                                      const DecodeOptions& options) {
  return format == WireFormat::kXml ? XmlDecodeFault(document, options)
                                    : JsonDecodeFault(document, options);
}

bool IsFaultDocument(WireFormat format, std::string_view document) {
  return format == WireFormat::kXml ? XmlIsFault(document) : JsonIsFault(document);
}

}  // namespace Movel
