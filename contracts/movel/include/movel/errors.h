// Exceptions of the runtime that are not API faults.
#pragma once

#include <string>

#include "basekit/throwable.h"
#include "movel/export.h"

namespace Movel {

// A string that is not a value of an enumeration, or an integer outside it.
class MOVEL_API InvalidEnumValue : public Basekit::Exception {
 public:
  InvalidEnumValue(const std::string& enumName, const std::string& value);
  InvalidEnumValue(const InvalidEnumValue&);
  ~InvalidEnumValue() override;
  Basekit::Exception* Clone() const override;
  [[noreturn]] void Rethrow() const override;
  const std::string& GetEnumName() const noexcept { return enumName_; }
  const std::string& GetValue() const noexcept { return value_; }

 private:
  std::string enumName_;
  std::string value_;
};

}  // namespace Movel
