// Managed objects: server-side objects addressed by reference.
#pragma once

#include <atomic>

#include "basekit/object.h"
#include "movel/export.h"

namespace Movel {

class ManagedObjectType;
class MoRef;

// Root of every managed object interface. Interfaces derive from it (and from
// each other) virtually, so that an implementation or a stub can join an
// interface with its own implementation bases.
class MOVEL_API ManagedObject : public virtual Basekit::Object {
 public:
  virtual ManagedObjectType* _GetType() const = 0;

  // The object's reference. A stub answers the reference it calls through;
  // an implementation answers the reference it was first registered under
  // with a server, or null before any registration. The reference outlives
  // an unregistration: it stays the object's identity for its whole life.
  //
  // This and _Unregistered are defined here so that the virtual tables of a
  // library's interfaces and stubs point into that library.
  virtual MoRef* _GetRef() const { return boundRef_.Get(); }

  // Called by a server after it has removed the object from its table, with
  // no server lock held. Does nothing by default.
  virtual void _Unregistered() {}

  // Records ref as the object's reference, for servers registering it. The
  // first reference bound stays: binding a reference equal to it (same type
  // and id) succeeds and changes nothing, binding a different one returns
  // false. Safe to call from several threads.
  bool _BindRef(MoRef* ref);

 protected:
  ManagedObject() = default;
  ManagedObject(const ManagedObject&) = default;
  ManagedObject& operator=(const ManagedObject&) = default;
  ~ManagedObject() override;

 private:
  // Owns one reference to the bound MoRef. Copies of an object start unbound:
  // a copy is a different object and has to be registered on its own.
  class MOVEL_API BoundRef {
   public:
    BoundRef() noexcept : ref_(nullptr) {}
    BoundRef(const BoundRef&) noexcept : ref_(nullptr) {}
    BoundRef& operator=(const BoundRef&) noexcept { return *this; }
    ~BoundRef();
    MoRef* Get() const noexcept { return ref_.load(std::memory_order_acquire); }
    bool Bind(MoRef* ref);

   private:
    std::atomic<MoRef*> ref_;
  };

  BoundRef boundRef_;
};

}  // namespace Movel
