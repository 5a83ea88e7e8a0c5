// The root of every value the runtime handles: data objects, arrays, boxed
// primitives and managed object references.
#pragma once

#include <atomic>
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

  void IncRef() const override;
  void DecRef() const override;
  // The wire name of the value's type.
  std::string ToString() const override;
  int GetRefCount() const override;

  ~Any() override;
  // The value's runtime type; an array's is the array type of its elements.
  virtual Type* _GetType() const = 0;
  // Bytes the value occupies and owns, each allocation rounded through r.
  virtual unsigned _GetSize(RoundFn r) const;
  // A copy sharing nothing mutable with this value, with no reference taken.
  // Immutable values (boxes) may return themselves.
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
  mutable std::atomic<int> refCount_;
};

// Takes a reference on a clone of p and returns it; null gives null. The
// clone of a T is a T, so the result may be used as one.
template <class T>
T* CloneOwned(const T* p) {
  if (!p) return nullptr;
  Any* copy = p->_Clone();
  copy->IncRef();
  return static_cast<T*>(copy);
}

// An indented, multi-line dump of a value for logs and debugging: data
// objects list every property (inherited first), arrays their elements,
// boxes their value. Secret properties are masked.
MOVEL_API std::string DebugString(const Any* value);

}  // namespace Movel
