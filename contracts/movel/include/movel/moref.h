// References to managed objects.
#pragma once

#include <string>

#include "basekit/optional.h"
#include "basekit/ref.h"
#include "movel/any.h"
#include "movel/export.h"

namespace Movel {

class ManagedObjectType;

// Names one managed object on a server: its managed type and its id, and
// optionally the guid of the server that owns it. Immutable.
class MOVEL_API MoRef : public Any {
 public:
  MoRef(ManagedObjectType* type, std::string id);
  MoRef(ManagedObjectType* type, std::string id, std::string serverGuid);
  MoRef(const MoRef& other);
  MoRef& operator=(const MoRef&) = delete;
  ~MoRef() override;

  // The referenced object's managed type (not the runtime type of the
  // reference value, which _GetType gives).
  ManagedObjectType* GetType() const noexcept { return type_; }
  const std::string& GetId() const noexcept { return id_; }
  // The owning server's guid, or null when the reference does not say.
  const std::string* GetServerGuid() const noexcept {
    return serverGuid_.IsSet() ? &serverGuid_.GetValue() : nullptr;
  }

  // "kor.HostSystem:host-12".
  std::string ToString() const override;

  // "tydef.ManagedObject".
  Type* _GetType() const override;
  unsigned _GetSize(RoundFn r) const override;
  Any* _Clone() const override;
  // Same referenced type and same id.
  bool _IsEqual(const Any* other, bool lenient) const override;
  void _DiffProperties(const Any* other, const std::string& path,
                       PropertyDiffSet& set) const override;

 private:
  ManagedObjectType* type_;
  std::string id_;
  Basekit::Optional<std::string> serverGuid_;
};

// Equality by referenced type and id.
MOVEL_API bool operator==(const MoRef& a, const MoRef& b) noexcept;
inline bool operator!=(const MoRef& a, const MoRef& b) noexcept { return !(a == b); }

MOVEL_API Basekit::TmpRef<MoRef> MakeMoRef(ManagedObjectType* type, const std::string& id);

}  // namespace Movel
