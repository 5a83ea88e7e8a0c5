// Reference-counted objects.
//
// Object is the abstract root of everything that is shared by reference
// count. A freshly created object carries no reference; its first holder takes
// one, and the final DecRef destroys it. Counts are atomic, so references may
// be taken and dropped on any thread.
#pragma once

#include <atomic>
#include <string>

#include "basekit/export.h"

namespace Basekit {

class BASEKIT_API Object {
 public:
  virtual void IncRef() const = 0;
  virtual void DecRef() const = 0;
  virtual std::string ToString() const = 0;
  virtual int GetRefCount() const = 0;
  virtual ~Object();

 protected:
  Object() = default;
  Object(const Object&) = default;
  Object& operator=(const Object&) = default;
};

// The usual implementation of Object for hand-written classes. Derives
// virtually so that interfaces sharing the Object base can be joined with it.
class BASEKIT_API ObjectImpl : public virtual Object {
 public:
  void IncRef() const override;
  void DecRef() const override;
  std::string ToString() const override;
  int GetRefCount() const override;

 protected:
  ObjectImpl() noexcept;
  ObjectImpl(const ObjectImpl&) noexcept;  // the copy starts with no reference
  ObjectImpl& operator=(const ObjectImpl&) noexcept { return *this; }
  ~ObjectImpl() override;

  // Called when the count goes from 0 to 1; does nothing by default.
  virtual void FirstIncRef() const;
  // Called when the count drops to 0; deletes the object by default.
  virtual void FinalDecRef() const;

 private:
  mutable std::atomic<int> refCount_;
};

// Demangled name of a dynamic type, for messages.
BASEKIT_API std::string DemangleTypeName(const char* mangled);

}  // namespace Basekit
