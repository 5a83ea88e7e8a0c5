// Owning smart pointers over Basekit::Object (or anything with IncRef/DecRef).
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace Basekit {

template <class T>
class TmpRef;

// Ref<T> owns one counted reference to its pointee. Assigning takes a
// reference on the new value first and releases the old one afterwards, so
// assigning the object already held is safe.
template <class T>
class Ref {
 public:
  Ref() noexcept : p_(nullptr) {}
  Ref(std::nullptr_t) noexcept : p_(nullptr) {}
  Ref(T* p) noexcept : p_(p) {  // NOLINT: implicit by design
    if (p_) p_->IncRef();
  }
  Ref(const Ref& o) noexcept : Ref(o.p_) {}
  Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  template <class U>
  Ref(const Ref<U>& o) noexcept : Ref(o.Get()) {}  // NOLINT
  template <class U>
  Ref(Ref<U>&& o) noexcept : p_(o.Release()) {}  // NOLINT
  ~Ref() {
    if (p_) p_->DecRef();
  }

  Ref& operator=(T* p) noexcept {
    if (p) p->IncRef();
    T* old = p_;
    p_ = p;
    if (old) old->DecRef();
    return *this;
  }
  Ref& operator=(const Ref& o) noexcept { return *this = o.p_; }
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) {
      T* old = p_;
      p_ = o.p_;
      o.p_ = nullptr;
      if (old) old->DecRef();
    }
    return *this;
  }
  template <class U>
  Ref& operator=(const Ref<U>& o) noexcept {
    return *this = o.Get();
  }
  Ref& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }
  // Assigning a TmpRef would otherwise be ambiguous between its conversions to
  // T* and to Ref; an rvalue hands its reference over, an lvalue is shared.
  template <class U>
  Ref& operator=(TmpRef<U>&& o) noexcept {
    Ref moved = std::move(o);
    return *this = std::move(moved);
  }
  template <class U>
  Ref& operator=(const TmpRef<U>& o) noexcept {
    return *this = o.Get();
  }

  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  operator T*() const noexcept { return p_; }  // NOLINT: pass to raw-pointer APIs

  // Drops the held reference and leaves the Ref null.
  void Reset() noexcept {
    T* old = p_;
    p_ = nullptr;
    if (old) old->DecRef();
  }
  // Gives up ownership without releasing: the caller now owns the reference.
  T* Release() noexcept {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  // Puts p in place of the held pointer and returns the old one; no count
  // changes. Used where ownership moves between a Ref and a raw member.
  T* ExchangeRaw(T* p) noexcept {
    T* old = p_;
    p_ = p;
    return old;
  }
  void Swap(Ref& o) noexcept { std::swap(p_, o.p_); }

 private:
  T* p_;
};

template <class T, class U>
bool operator==(const Ref<T>& a, const Ref<U>& b) noexcept {
  return a.Get() == b.Get();
}
template <class T, class U>
bool operator!=(const Ref<T>& a, const Ref<U>& b) noexcept {
  return a.Get() != b.Get();
}

// A reference handed out by a factory function: owns one reference and moves
// it into whatever Ref receives it.
template <class T>
class TmpRef {
 public:
  TmpRef() noexcept : p_(nullptr) {}
  explicit TmpRef(T* p) noexcept : p_(p) {
    if (p_) p_->IncRef();
  }
  TmpRef(const TmpRef& o) noexcept : TmpRef(o.p_) {}
  TmpRef(TmpRef&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  TmpRef& operator=(TmpRef o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~TmpRef() {
    if (p_) p_->DecRef();
  }
  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  operator T*() const noexcept { return p_; }  // NOLINT
  // Gives up the reference without releasing it: the caller now owns it.
  T* Release() noexcept {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  template <class U>
  operator Ref<U>() const& noexcept {  // NOLINT
    return Ref<U>(p_);
  }
  // An expiring TmpRef hands its reference to the Ref without touching the
  // count.
  template <class U>
  operator Ref<U>() && noexcept {  // NOLINT
    Ref<U> r;
    r.ExchangeRaw(p_);
    p_ = nullptr;
    return r;
  }

 private:
  T* p_;
};

// The argument list of a remote call: a vector of owning references, entries
// may be null.
template <class T>
class RefVector : public std::vector<Ref<T>> {
 public:
  using std::vector<Ref<T>>::vector;
  RefVector() = default;
};

}  // namespace Basekit
