// The wire decoders fed arbitrary bytes. One driver serves both formats
// (fuzz_wire_xml.cpp, fuzz_wire_json.cpp).
//
// Input: the first byte chooses the document kind (bits 0-1: value, request,
// response, fault), strict mode (bit 2) and the version this side speaks
// (bits 3-4: any, or the sample table's v1, v2, v3). A response takes one
// more byte choosing the method whose result it carries. The rest is the
// document, decoded under tight limits.
//
// Invariants: decoding gives a value or throws WireError (a response may
// also throw the fault it carries as a MethodFault::Exception); anything else
// escapes and is a crash. A decoded value re-encodes for the same version,
// and that text decodes and re-encodes to the same text (the writers are
// deterministic, so a lossy or inconsistent decoder shows as a difference).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "kortypes/kortypes.h"
#include "movel/fault.h"
#include "movel/wire.h"

namespace fuzz {

enum DocKind { kValueDoc = 0, kRequestDoc = 1, kResponseDoc = 2, kFaultDoc = 3 };

[[noreturn]] inline void WireBroken(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "invariant broken: %s\n--- first\n%s\n--- second\n%s\n", what, a.c_str(),
               b.c_str());
  std::abort();
}

// Every method of every registered managed type, in registration order.
inline const std::vector<const Movel::ManagedMethod*>& AllMethods() {
  static const std::vector<const Movel::ManagedMethod*> methods = [] {
    std::vector<const Movel::ManagedMethod*> out;
    for (Movel::Type* t : Movel::GetAllTypes()) {
      if (!t->IsManaged()) continue;
      for (const Movel::ManagedMethod* m :
           static_cast<Movel::ManagedObjectType*>(t)->GetMethodObjects()) {
        out.push_back(m);
      }
    }
    return out;
  }();
  return methods;
}

inline const Movel::Version* VersionOfBits(unsigned bits) {
  static const char* const kNames[] = {nullptr, "smp.version.v1", "smp.version.v2", "smp.version.v3"};
  return kNames[bits & 3u] ? Movel::FindVersion(kNames[bits & 3u]) : nullptr;
}

// Limits small enough that every limit is within the fuzzer's reach.
inline Movel::DecodeLimits TightLimits() {
  Movel::DecodeLimits limits;
  limits.maxMessageBytes = 16u << 10;
  limits.maxDepth = 12;
  limits.maxElements = 256;
  limits.maxStringBytes = 512;
  return limits;
}

// Decodes a document the codec wrote itself: the limits of a server.
inline Movel::DecodeOptions Relaxed(const Movel::DecodeOptions& options) {
  Movel::DecodeOptions out = options;
  out.limits = Movel::DecodeLimits();
  return out;
}

inline void SameText(const char* what, const std::string& first, const std::string& second) {
  if (first != second) WireBroken(what, first, second);
}

// The round trip of a decoded value: encode, decode, encode gives one text.
inline void CheckValue(Movel::WireFormat format, const Movel::Any* v,
                       const Movel::DecodeOptions& options, const Movel::EncodeOptions& encode) {
  const std::string first = Movel::EncodeValue(format, v, encode);
  Basekit::Ref<Movel::Any> back;
  try {
    back = Movel::DecodeValue(format, first, Relaxed(options));
  } catch (const Movel::WireError& e) {
    WireBroken("a re-encoded value does not decode", first, e.what());
  }
  SameText("a value changed on its round trip", first, Movel::EncodeValue(format, back, encode));
}

inline void CheckRequest(Movel::WireFormat format, const Movel::WireRequest& r,
                         const Movel::DecodeOptions& options, const Movel::EncodeOptions& encode) {
  if (!r.target || !r.method) WireBroken("a request decoded without target or method", "", "");
  if (r.args.size() != r.method->GetParameters().size()) {
    WireBroken("a request decoded with a wrong argument count", r.method->GetFullName(), "");
  }
  const std::string first = Movel::EncodeRequest(format, r.target, r.method, r.args, encode);
  Movel::WireRequest back;
  try {
    back = Movel::DecodeRequest(format, first, Relaxed(options));
  } catch (const Movel::WireError& e) {
    WireBroken("a re-encoded request does not decode", first, e.what());
  }
  if (back.method != r.method) WireBroken("a request changed its method", first, "");
  SameText("a request changed on its round trip", first,
           Movel::EncodeRequest(format, back.target, back.method, back.args, encode));
}

inline void CheckResponse(Movel::WireFormat format, const Movel::ManagedMethod* method,
                          const Movel::Any* result, const Movel::DecodeOptions& options,
                          const Movel::EncodeOptions& encode) {
  const std::string first = Movel::EncodeResponse(format, method, result, encode);
  if (Movel::IsFaultDocument(format, first)) WireBroken("a response reads as a fault", first, "");
  Basekit::Ref<Movel::Any> back;
  try {
    back = Movel::DecodeResponse(format, first, method, Relaxed(options));
  } catch (const Movel::WireError& e) {
    WireBroken("a re-encoded response does not decode", first, e.what());
  }
  SameText("a response changed on its round trip", first,
           Movel::EncodeResponse(format, method, back, encode));
}

inline void CheckFault(Movel::WireFormat format, const Movel::MethodFault* fault,
                       const Movel::DecodeOptions& options, const Movel::EncodeOptions& encode) {
  if (!fault) WireBroken("a fault document decoded to null", "", "");
  const std::string first = Movel::EncodeFault(format, fault, encode);
  if (!Movel::IsFaultDocument(format, first)) WireBroken("a fault does not read as a fault", first, "");
  Basekit::Ref<Movel::MethodFault> back;
  try {
    back = Movel::DecodeFault(format, first, Relaxed(options));
  } catch (const Movel::WireError& e) {
    WireBroken("a re-encoded fault does not decode", first, e.what());
  }
  SameText("a fault changed on its round trip", first, Movel::EncodeFault(format, back, encode));
}

inline int RunWireInput(Movel::WireFormat format, const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const unsigned control = data[0];
  ++data;
  --size;
  const auto kind = static_cast<DocKind>(control & 3u);
  Movel::DecodeOptions options;
  options.strict = (control & 4u) != 0;
  options.version = VersionOfBits(control >> 3);
  options.limits = TightLimits();
  Movel::EncodeOptions encode;
  encode.peerVersion = options.version;

  const Movel::ManagedMethod* method = nullptr;
  if (kind == kResponseDoc) {
    if (size < 1 || AllMethods().empty()) return 0;
    method = AllMethods()[data[0] % AllMethods().size()];
    ++data;
    --size;
  }
  const std::string_view doc(reinterpret_cast<const char*>(data), size);
  // Decoding may refuse the document; everything after it must succeed.
  Basekit::Ref<Movel::Any> value;
  Movel::WireRequest request;
  Basekit::Ref<Movel::MethodFault> fault;
  try {
    switch (kind) {
      case kValueDoc:
        value = Movel::DecodeValue(format, doc, options);
        break;
      case kRequestDoc:
        request = Movel::DecodeRequest(format, doc, options);
        break;
      case kResponseDoc:
        try {
          value = Movel::DecodeResponse(format, doc, method, options);
        } catch (const Movel::MethodFault::Exception& e) {
          if (!Movel::IsFaultDocument(format, doc)) {
            WireBroken("a response threw a fault but is no fault document", std::string(doc), "");
          }
          fault = e.GetFault();
          if (!fault) WireBroken("a thrown fault carries no fault", std::string(doc), "");
        }
        break;
      case kFaultDoc:
        fault = Movel::DecodeFault(format, doc, options);
        break;
    }
  } catch (const Movel::WireError& e) {
    // A refused document: the error names where, and what.
    if (e.GetPath().empty() || e.GetPath()[0] != '/') {
      WireBroken("a wire error without a path", e.GetPath(), e.what());
    }
    if (std::string_view(e.what()).empty()) WireBroken("a wire error without text", "", "");
    return 0;
  }
  try {
    if (fault) {
      CheckFault(format, fault, options, encode);
    } else if (kind == kRequestDoc) {
      CheckRequest(format, request, options, encode);
    } else if (kind == kResponseDoc) {
      CheckResponse(format, method, value, options, encode);
    } else {
      CheckValue(format, value, options, encode);
    }
  } catch (const Movel::WireError& e) {
    WireBroken("a decoded value cannot be encoded again", std::string(doc), e.what());
  }
  return 0;
}

}  // namespace fuzz
