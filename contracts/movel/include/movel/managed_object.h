// Managed objects: server-side objects addressed by reference.
#pragma once

#include "basekit/object.h"
#include "movel/export.h"

namespace Movel {

class ManagedObjectType;

// Root of every managed object interface. Interfaces derive from it (and from
// each other) virtually, so that an implementation or a stub can join an
// interface with its own implementation bases.
class MOVEL_API ManagedObject : public virtual Basekit::Object {
 public:
  virtual ManagedObjectType* _GetType() const = 0;

 protected:
  ManagedObject() = default;
  ManagedObject(const ManagedObject&) = default;
  ManagedObject& operator=(const ManagedObject&) = default;
  ~ManagedObject() override;
};

}  // namespace Movel
