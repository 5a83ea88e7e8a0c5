// Runtime-internal hooks shared by the runtime's own sources.
#pragma once

#include "movel/type.h"

namespace Movel {
namespace detail {

// Enters a type in the registry. A second type with the same wire name, the
// same WSDL name within its kind family, or the same record is a fatal error:
// the generator guarantees uniqueness, so a clash means two libraries describe
// one type.
void RegisterType(Type* type);

}  // namespace detail
}  // namespace Movel
