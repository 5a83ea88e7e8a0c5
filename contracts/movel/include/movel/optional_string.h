// The member type of optional strings in data objects.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace Movel {

// An optional string: one pointer to a separately allocated string, null when
// unset, owned by the member. Assigning a string copies it in; assigning a
// newly allocated std::string* hands it over; assigning nullptr unsets. The
// old string is freed in every case, so
//
//   info->entityName = "web-1";
//   info->entityName = new std::string(name);
//   info->entityName = nullptr;
//
// neither leak nor lose anything. Reads look like a pointer's: test it, then
// *member or member->size().
class OptionalString {
 public:
  OptionalString() noexcept = default;
  OptionalString(std::nullptr_t) noexcept {}  // NOLINT: unset
  OptionalString(const std::string& value) : p_(new std::string(value)) {}  // NOLINT
  OptionalString(const OptionalString& other)
      : p_(other.p_ ? new std::string(*other.p_) : nullptr) {}
  OptionalString(OptionalString&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~OptionalString() { delete p_; }

  OptionalString& operator=(const std::string& value) {
    std::string* fresh = new std::string(value);
    delete p_;
    p_ = fresh;
    return *this;
  }
  OptionalString& operator=(std::string&& value) {
    std::string* fresh = new std::string(std::move(value));
    delete p_;
    p_ = fresh;
    return *this;
  }
  OptionalString& operator=(const char* value) { return *this = std::string(value); }
  // Takes over a string allocated with new; null unsets.
  OptionalString& operator=(std::string* owned) noexcept {
    if (owned != p_) {
      delete p_;
      p_ = owned;
    }
    return *this;
  }
  OptionalString& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }
  OptionalString& operator=(const OptionalString& other) {
    if (this != &other) {
      std::string* fresh = other.p_ ? new std::string(*other.p_) : nullptr;
      delete p_;
      p_ = fresh;
    }
    return *this;
  }
  OptionalString& operator=(OptionalString&& other) noexcept {
    if (this != &other) {
      delete p_;
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }

  bool IsSet() const noexcept { return p_ != nullptr; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // The string, or null when unset. Still owned by the member.
  const std::string* Get() const noexcept { return p_; }
  // Only when set.
  const std::string& operator*() const noexcept { return *p_; }
  std::string& operator*() noexcept { return *p_; }
  const std::string* operator->() const noexcept { return p_; }
  std::string* operator->() noexcept { return p_; }

  void Reset() noexcept {
    delete p_;
    p_ = nullptr;
  }
  // Gives up the string: the caller deletes it.
  std::string* Release() noexcept { return std::exchange(p_, nullptr); }
  void Swap(OptionalString& other) noexcept { std::swap(p_, other.p_); }
  friend void swap(OptionalString& a, OptionalString& b) noexcept { a.Swap(b); }

  friend bool operator==(const OptionalString& a, std::nullptr_t) noexcept { return !a.p_; }
  friend bool operator!=(const OptionalString& a, std::nullptr_t) noexcept { return a.p_ != nullptr; }
  friend bool operator==(std::nullptr_t, const OptionalString& a) noexcept { return !a.p_; }
  friend bool operator!=(std::nullptr_t, const OptionalString& a) noexcept { return a.p_ != nullptr; }
  // Set and holding value.
  friend bool operator==(const OptionalString& a, const std::string& value) noexcept {
    return a.p_ && *a.p_ == value;
  }
  friend bool operator!=(const OptionalString& a, const std::string& value) noexcept {
    return !(a == value);
  }

 private:
  std::string* p_ = nullptr;
};
static_assert(sizeof(OptionalString) == sizeof(void*), "an optional string is one pointer");

}  // namespace Movel
