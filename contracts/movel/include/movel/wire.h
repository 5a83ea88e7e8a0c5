// Wire encodings of values, requests, responses and faults: XML and JSON,
// both driven by the registered type descriptors alone.
//
// Names on the wire are WSDL names: a data object's properties are elements
// (XML) or members (JSON) named after the properties, in declaration order,
// inherited ones first; a value whose class differs from the type its place
// declares names its class (xsi:type in XML, "_typeName" in JSON); arrays are
// repeated elements (XML) or JSON arrays; a managed object reference is
// <name type="HostSystem">host-12</name> or {"type":"HostSystem","value":"host-12"};
// enumerations travel as their value strings, date-times as ISO 8601 with
// their zone, binaries as base64. An empty array and an absent one are the
// same on the wire (no element) and decode as absent.
//
// Documents:
//   value     XML  <value xmlns:xsi=".." xsi:type="TaskInfo">..</value>
//             JSON {"_typeName":"TaskInfo", ..}
//   request   XML  <RetrieveServiceContent><_this type="ServiceInstance">ServiceInstance</_this>
//                  <param>..</param>..</RetrieveServiceContent>
//             JSON {"_operation":"RetrieveServiceContent","_this":{..},"param":..}
//   response  XML  <RetrieveServiceContentResponse><returnval>..</returnval></..Response>
//             JSON {"returnval":..}
//   fault     XML  <Fault><faultstring>..</faultstring><detail><InvalidStateFault
//                  xsi:type="InvalidState">..</InvalidStateFault></detail></Fault>
//             JSON {"_fault":{"_typeName":"InvalidState",..},"faultstring":".."}
//
// Versions: an encoder given the peer's version leaves out every property,
// parameter and value newer than it (the version table's descent decides); a
// data object of a type the peer does not know yet travels as its nearest
// ancestor the peer knows. A decoder given the version it speaks skips
// elements of properties newer than that; elements it does not know at all
// are skipped, or rejected in strict mode.
//
// Decoding treats its input as hostile: sizes, depth, element counts and
// string lengths are limited, XML document type declarations and entity
// references are refused (so nothing is ever expanded or fetched), and every
// failure throws WireError naming where in the document it happened. Nothing
// decoded is handed out on failure.
//
// Secret properties and parameters are encoded like any other (the peer
// needs them); EncodeOptions::maskSecrets writes a rendition for logs
// instead, and decoding errors never quote a secret's text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "basekit/ref.h"
#include "basekit/throwable.h"
#include "movel/any.h"
#include "movel/export.h"
#include "movel/fault.h"
#include "movel/moref.h"
#include "movel/type.h"
#include "movel/version.h"

namespace Movel {

enum class WireFormat { kXml, kJson };

struct EncodeOptions {
  // The version the peer speaks; null sends everything.
  const Version* peerVersion = nullptr;
  // Writes "(secret)" in place of secret values: for logs only.
  bool maskSecrets = false;
};

// What a decoder accepts. The defaults suit a server facing any client.
struct DecodeLimits {
  std::size_t maxMessageBytes = 32u << 20;
  // Nesting of elements, objects and arrays.
  int maxDepth = 64;
  // Elements (XML) or values (JSON) in one document.
  std::size_t maxElements = 1u << 20;
  // Bytes of one text, after unescaping.
  std::size_t maxStringBytes = 4u << 20;
};

struct DecodeOptions {
  // The version this side speaks; properties and parameters newer than it
  // are skipped. Null accepts every version.
  const Version* version = nullptr;
  // Unknown elements are errors instead of being skipped.
  bool strict = false;
  DecodeLimits limits;
};

// A document that could not be decoded, or a value that cannot be encoded.
class MOVEL_API WireError : public Basekit::Exception {
 public:
  enum class Kind {
    kMalformed,       // not well-formed XML or JSON, or not shaped as expected
    kTruncated,       // the document ends early
    kLimit,           // a decode limit was exceeded
    kForbidden,       // a document type declaration or entity reference
    kWrongType,       // a value of another type than the place requires
    kUnknownType,     // a type name no registered type has
    kUnknownEnum,     // a string that is not a value of the enumeration
    kOutOfRange,      // a number outside its type's range
    kUnknownElement,  // strict mode: an element no property or parameter has
    kUnknownMethod,   // a request for an operation the target does not have
    kNotInVersion,    // encoding something the peer's version does not have
  };
  WireError(Kind kind, std::string path, const std::string& detail);
  WireError(const WireError&);
  ~WireError() override;
  Basekit::Exception* Clone() const override;
  [[noreturn]] void Rethrow() const override;

  Kind GetKind() const noexcept { return kind_; }
  // Where in the document: "/TaskInfo/locked[2]" style, "/" for the root.
  const std::string& GetPath() const noexcept { return path_; }
  // A fault to answer the peer with: InvalidArgument naming the path, whose
  // message carries this error's text.
  Basekit::Ref<MethodFault> ToFault() const;

 private:
  Kind kind_;
  std::string path_;
};

MOVEL_API const char* WireErrorKindName(WireError::Kind kind);

// ---- values ----

// A standalone value: a data object (fault types included), a reference, a
// boxed primitive or enumeration, or an array.
MOVEL_API std::string EncodeValue(WireFormat format, const Any* value,
                                  const EncodeOptions& options = {});
// The decoded value; declared, when given, is the type the value must be
// (or derive from).
MOVEL_API Basekit::Ref<Any> DecodeValue(WireFormat format, std::string_view document,
                                        const DecodeOptions& options = {},
                                        const Type* declared = nullptr);

// ---- calls ----

struct WireRequest {
  Basekit::Ref<MoRef> target;
  const ManagedMethod* method = nullptr;
  // One entry per parameter, boxed as stubs box them; null for an absent
  // optional parameter.
  Basekit::RefVector<Any> args;
};

// Throws WireError(kNotInVersion) when the method is newer than the peer.
MOVEL_API std::string EncodeRequest(WireFormat format, const MoRef* target,
                                    const ManagedMethod* method,
                                    const Basekit::RefVector<Any>& args,
                                    const EncodeOptions& options = {});
// Finds the operation by its WSDL name on the target's type.
MOVEL_API WireRequest DecodeRequest(WireFormat format, std::string_view document,
                                    const DecodeOptions& options = {});

MOVEL_API std::string EncodeResponse(WireFormat format, const ManagedMethod* method,
                                     const Any* result, const EncodeOptions& options = {});
// The result of a response; a fault document is thrown as the fault's own
// Exception class.
MOVEL_API Basekit::Ref<Any> DecodeResponse(WireFormat format, std::string_view document,
                                           const ManagedMethod* method,
                                           const DecodeOptions& options = {});

MOVEL_API std::string EncodeFault(WireFormat format, const MethodFault* fault,
                                  const EncodeOptions& options = {});
MOVEL_API Basekit::Ref<MethodFault> DecodeFault(WireFormat format, std::string_view document,
                                                const DecodeOptions& options = {});
// True when the document is a fault rather than a response.
MOVEL_API bool IsFaultDocument(WireFormat format, std::string_view document);

// ---- versions ----

// True when an item introduced in version `item` exists for a peer of
// version `peer`: the peer's version is it or descends from it. Items of the
// runtime's core versions exist for every peer; a null peer has everything.
MOVEL_API bool IsInVersion(const Version* item, const Version* peer);

// A deep copy of value as a peer of the given version sees it: properties
// newer than the version are unset (required ones reset to their empty
// value), data objects of newer types become their nearest ancestor the
// version knows, and values of newer enumerations or types in places of any
// type are dropped. Null gives null.
MOVEL_API Basekit::Ref<Any> FilterToVersion(const Any* value, const Version& version);

}  // namespace Movel
