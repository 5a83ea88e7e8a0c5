// Values that hold a sequence of elements.
#pragma once

#include "movel/any.h"

namespace Movel {

class MOVEL_API Collection : public Any {
 public:
  ~Collection() override;
  virtual int GetLength() const = 0;

 protected:
  Collection() noexcept = default;
  Collection(const Collection& other) noexcept : Any(other) {}
};

}  // namespace Movel
