// The host network part of `kortypes demo`.
#pragma once

#include <ostream>

namespace kortypes {

// Builds a host's network state with the network factory, derives the
// host's network configuration from it and shows what the IPv6 filter
// dropped.
void ShowHostNetwork(std::ostream& out);

}  // namespace kortypes
