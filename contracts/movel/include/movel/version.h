// API versions and their descent.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "movel/export.h"
#include "movel/records.h"

namespace Movel {

// One version of a namespace, as declared by a version table row.
class MOVEL_API Version {
 public:
  const std::string& GetName() const noexcept { return name_; }
  // The namespace whose table declared the version ("kor", "tydef.query").
  const std::string& GetNamespace() const noexcept { return namespace_; }
  const std::string& GetWireNamespace() const noexcept { return wireNamespace_; }
  const std::string& GetVersionId() const noexcept { return versionId_; }
  const std::string& GetTaskType() const noexcept { return taskType_; }
  const std::string& GetServiceNamespace() const noexcept { return serviceNamespace_; }
  unsigned GetFlagByte(int i) const noexcept { return (flags_ >> (8 * i)) & 0xFFu; }
  Word GetFlagsWord() const noexcept { return flags_; }
  // Position in its namespace's table, from 0.
  int GetOrdinal() const noexcept { return ordinal_; }
  // The versions this one extends, in table order.
  const std::vector<const Version*>& GetParents() const noexcept { return parents_; }
  // True when this is other, or extends it directly or through other versions.
  bool IsSameOrDescendantOf(const Version& other) const;

 private:
  friend class VersionTable;
  Version() = default;
  std::string name_, namespace_, wireNamespace_, versionId_, taskType_, serviceNamespace_;
  Word flags_ = 0;
  int ordinal_ = 0;
  std::vector<const Version*> parents_;
};

// Finds a version of any namespace by name, or null.
MOVEL_API const Version* FindVersion(std::string_view name);
// The versions a namespace's table declared, in table order.
MOVEL_API std::vector<const Version*> GetVersions(std::string_view ns);
// The namespaces whose tables are loaded, in load order.
MOVEL_API std::vector<std::string> GetVersionNamespaces();
// The namespaces a table imports ("tydef.query", ...), in table order.
MOVEL_API std::vector<std::string> GetImportedNamespaces(std::string_view ns);
// The descent pairs of a namespace's table, in table order.
MOVEL_API std::vector<std::pair<const Version*, const Version*>> GetVersionParents(
    std::string_view ns);
// The wire version id of a version name ("kor.version.version7" gives "5.0"),
// or "" for an unknown name.
MOVEL_API std::string GetVersionId(std::string_view name);

// Loads a namespace's version table. Each parent must be a version declared
// earlier, in this table or an imported namespace; a malformed table is a
// fatal error. Loading the same namespace twice is a fatal error too.
MOVEL_API void LoadVersionTable(const char* ns, const TydefVersions& table);

}  // namespace Movel
