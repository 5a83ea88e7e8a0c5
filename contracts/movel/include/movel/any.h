// The root of every value the runtime handles: data objects, arrays, boxed
// primitives and managed object references.
#pragma once

#include <atomic>
#include <cstddef>
#include <new>
#include <string>

#include "basekit/object.h"
#include "movel/diff.h"
#include "movel/export.h"
#include "movel/records.h"
#include "movel/size.h"

namespace Movel {

class Type;

// A reference-counted value. A new value carries no reference; the first
// holder takes one and the final DecRef deletes it. Counts are atomic.
//
// The underscore-prefixed virtuals are the runtime's interface to values and
// are called through the generic entry points (AreEqualAnysInt,
// DiffAnyPropertiesInt, ...) rather than directly.
class MOVEL_API Any : public Basekit::Object {
 public:
  using RoundFn = Movel::RoundFn;

  // Counting is defined here rather than in the runtime library so that the
  // virtual tables of the thousands of value classes in a bindings library
  // point at that library's own copies: the loader then fixes these slots up
  // as plain offsets instead of looking the runtime's symbols up.
  // Final, so calls through any value class compile to the atomic operation
  // itself.
  void IncRef() const final { refCount_.fetch_add(1, std::memory_order_relaxed); }
  // The holder of the only reference destroys without the atomic decrement:
  // no one else holds the value, so no one else can take a reference to it.
  void DecRef() const final {
    if (refCount_.load(std::memory_order_acquire) == 1 ||
        refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      Destroy(this);
    }
  }
  // The wire name of the value's type.
  std::string ToString() const override { return TypeNameOf(this); }
  int GetRefCount() const override { return refCount_.load(std::memory_order_relaxed); }

  ~Any() override;

  // Values are allocated through a per-thread cache of blocks by size (see
  // value_memory.cpp): trees of small objects are built and dropped whole,
  // and the cache makes each allocation a list operation.
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size) noexcept;
  // The other forms, which declaring the above would otherwise hide.
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* p, const std::nothrow_t&) noexcept;
  static void* operator new(std::size_t, void* place) noexcept { return place; }
  static void operator delete(void*, void*) noexcept {}
  // The value's runtime type; an array's is the array type of its elements.
  virtual Type* _GetType() const = 0;
  // Bytes the value occupies and owns, each allocation rounded through r.
  virtual unsigned _GetSize(RoundFn r) const;
  // A new copy sharing nothing mutable with this value, with no reference
  // taken. Immutable values (boxes) may return themselves instead.
  virtual Any* _Clone() const = 0;
  // Deep equality with a value of the same class (see AreEqualAnysInt).
  virtual bool _IsEqual(const Any* other, bool lenient) const;
  // Appends the paths under path that differ from other, a value of the same
  // class (see DiffAnyPropertiesInt).
  virtual void _DiffProperties(const Any* other, const std::string& path,
                               PropertyDiffSet& set) const;

 protected:
  Any() noexcept : refCount_(0) {}
  // A copy starts without references.
  Any(const Any&) noexcept : Basekit::Object(), refCount_(0) {}
  Any& operator=(const Any&) noexcept { return *this; }

 private:
  // Deletes a value whose last reference went (deep graphs without deep
  // native recursion).
  static void Destroy(const Any* p) noexcept;
  // The wire name of p's type, or its demangled class name when it has none.
  static std::string TypeNameOf(const Any* p);

  mutable std::atomic<int> refCount_;

  template <class T>
  friend T* CloneOwned(const T* p);
};

// Takes a reference on a clone of p and returns it; null gives null. The
// clone of a T is a T, so the result may be used as one.
template <class T>
T* CloneOwned(const T* p) {
  if (!p) return nullptr;
  Any* copy = p->_Clone();
  if (copy == p) {
    copy->IncRef();
  } else {
    // A new copy is reachable from this thread only: its first reference
    // needs no atomic read-modify-write.
    copy->refCount_.store(1, std::memory_order_relaxed);
  }
  return static_cast<T*>(copy);
}

// An indented, multi-line dump of a value for logs and debugging: data
// objects list every property (inherited first), arrays their elements,
// boxes their value. Secret properties are masked.
MOVEL_API std::string DebugString(const Any* value);

}  // namespace Movel
