// A value with an is-set flag, laid out as the value followed by the flag.
#pragma once

#include <utility>

namespace Basekit {

template <class T>
class Optional {
 public:
  Optional() : value_(), isSet_(false) {}
  Optional(const T& v) : value_(v), isSet_(true) {}  // NOLINT: implicit by design
  Optional(T&& v) : value_(std::move(v)), isSet_(true) {}  // NOLINT

  bool IsSet() const noexcept { return isSet_; }
  explicit operator bool() const noexcept { return isSet_; }
  const T& GetValue() const noexcept { return value_; }
  T& GetValue() noexcept { return value_; }
  const T& operator*() const noexcept { return value_; }
  const T* operator->() const noexcept { return &value_; }

  Optional& operator=(const T& v) {
    value_ = v;
    isSet_ = true;
    return *this;
  }
  void SetValue(const T& v) { *this = v; }
  // Clears the flag; the value keeps whatever it held.
  void Unset() noexcept { isSet_ = false; }
  // Clears the flag and resets the value.
  void Reset() {
    value_ = T();
    isSet_ = false;
  }
  void Swap(Optional& o) noexcept {
    using std::swap;
    swap(value_, o.value_);
    swap(isSet_, o.isSet_);
  }

  // Equal when both are unset, or both set with equal values.
  friend bool operator==(const Optional& a, const Optional& b) {
    return a.isSet_ == b.isSet_ && (!a.isSet_ || a.value_ == b.value_);
  }
  friend bool operator!=(const Optional& a, const Optional& b) { return !(a == b); }

 private:
  T value_;
  bool isSet_;
};

}  // namespace Basekit
