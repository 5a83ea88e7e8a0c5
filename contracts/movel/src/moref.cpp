// Managed object references.
#include "movel/moref.h"

#include "movel/array.h"
#include "movel/type.h"

namespace Movel {

MoRef::MoRef(ManagedObjectType* type, std::string id) : type_(type), id_(std::move(id)) {}

MoRef::MoRef(ManagedObjectType* type, std::string id, std::string serverGuid)
    : type_(type), id_(std::move(id)), serverGuid_(std::move(serverGuid)) {}

MoRef::MoRef(const MoRef& other)
    : Any(other), type_(other.type_), id_(other.id_), serverGuid_(other.serverGuid_) {}

MoRef::~MoRef() = default;

std::string MoRef::ToString() const {
  return (type_ ? type_->GetName() : std::string("?")) + ":" + id_;
}

Type* MoRef::_GetType() const { return GetManagedObjectRootType(); }

unsigned MoRef::_GetSize(RoundFn r) const {
  unsigned total = r(static_cast<unsigned>(sizeof(MoRef))) + GetExtraSize(r, id_);
  if (serverGuid_.IsSet()) total += GetExtraSize(r, serverGuid_.GetValue());
  return total;
}

Any* MoRef::_Clone() const { return new MoRef(*this); }

bool MoRef::_IsEqual(const Any* other, bool /*lenient*/) const {
  const auto* o = dynamic_cast<const MoRef*>(other);
  return o && *this == *o;
}

void MoRef::_DiffProperties(const Any* other, const std::string& path,
                            PropertyDiffSet& set) const {
  if (!_IsEqual(other, false)) set.Append(path);
}

bool operator==(const MoRef& a, const MoRef& b) noexcept {
  return a.GetType() == b.GetType() && a.GetId() == b.GetId();
}

Basekit::TmpRef<MoRef> MakeMoRef(ManagedObjectType* type, const std::string& id) {
  return Basekit::TmpRef<MoRef>(new MoRef(type, id));
}

}  // namespace Movel
