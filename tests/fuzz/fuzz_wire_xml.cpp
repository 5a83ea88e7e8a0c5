// The XML decoders (value, request, response, fault) on arbitrary bytes; see
// fuzz_wire.h for the input's layout and the invariants.
#include "fuzz_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::RunWireInput(Movel::WireFormat::kXml, data, size);
}
