// Version tables: the versions of each namespace and their descent.
#include "movel/version.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace Movel {

struct VersionNamespace {
  std::string name;
  std::vector<std::string> imports;
  std::vector<const Version*> versions;
  std::vector<std::pair<const Version*, const Version*>> parents;
};

class VersionTable {
 public:
  static VersionTable& Get() {
    static VersionTable* table = new VersionTable;  // never destroyed
    return *table;
  }

  const Version* Find(std::string_view name) {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    auto it = byName_.find(std::string(name));
    return it == byName_.end() ? nullptr : it->second;
  }

  template <class F>
  auto WithNamespace(std::string_view ns, F f) {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    for (const VersionNamespace& n : namespaces_) {
      if (n.name == ns) return f(&n);
    }
    return f(static_cast<const VersionNamespace*>(nullptr));
  }

  std::vector<std::string> Namespaces() {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const VersionNamespace& n : namespaces_) names.push_back(n.name);
    return names;
  }

  void Load(const char* ns, const TydefVersions& table) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    for (const VersionNamespace& n : namespaces_) {
      if (n.name == ns) Fatal(std::string("version table of ") + ns + " loaded twice");
    }
    VersionNamespace space;
    space.name = ns;
    for (Word i = 0; i < table.importCount; ++i) {
      bool known = false;
      for (const VersionNamespace& n : namespaces_) known = known || n.name == table.imports[i];
      if (!known) Fatal(std::string("version table of ") + ns + " imports unknown namespace " +
                        table.imports[i]);
      space.imports.emplace_back(table.imports[i]);
    }
    for (Word i = 0; i < table.versionCount; ++i) {
      const VersionRow& row = table.versions[i];
      if (byName_.count(row.name)) Fatal(std::string("version declared twice: ") + row.name);
      auto* v = new Version;
      v->name_ = row.name;
      v->namespace_ = ns;
      v->wireNamespace_ = row.wireNamespace ? row.wireNamespace : "";
      v->versionId_ = row.versionId ? row.versionId : "";
      v->taskType_ = row.taskType ? row.taskType : "";
      v->serviceNamespace_ = row.serviceNamespace ? row.serviceNamespace : "";
      v->flags_ = row.flags;
      v->ordinal_ = static_cast<int>(i);
      byName_.emplace(v->name_, v);
      space.versions.push_back(v);
    }
    // A version must appear in the pairs only after every version it extends
    // has been declared, so descent can never form a cycle.
    for (Word i = 0; i < table.parentCount; ++i) {
      const VersionParent& pair = table.parents[i];
      auto child = byName_.find(pair.version);
      auto parent = byName_.find(pair.parent);
      if (child == byName_.end() || parent == byName_.end()) {
        Fatal(std::string("descent pair names an unknown version: ") + pair.version + " extends " +
              pair.parent);
      }
      if (child->second->IsSameOrDescendantOf(*parent->second) ||
          parent->second->IsSameOrDescendantOf(*child->second)) {
        Fatal(std::string("descent pair repeats or loops: ") + pair.version + " extends " +
              pair.parent);
      }
      const_cast<Version*>(child->second)->parents_.push_back(parent->second);
      space.parents.emplace_back(child->second, parent->second);
    }
    namespaces_.push_back(std::move(space));
  }

 private:
  VersionTable() { LoadRuntimeVersions(); }

  [[noreturn]] static void Fatal(const std::string& message) {
    std::fprintf(stderr, "fatal: version table: %s\n", message.c_str());
    std::abort();
  }

  // The runtime's own namespaces, which API tables import.
  void LoadRuntimeVersions() {
    static const VersionRow tydefRows[] = {
        {"tydef.version.version0", "tydef", "0.0", "", "tydef", 0},
        {"tydef.version.version1", "tydef", "1.0", "", "tydef", 0},
    };
    static const VersionParent tydefParents[] = {
        {"tydef.version.version1", "tydef.version.version0"}};
    static const VersionRow queryRows[] = {
        {"tydef.query.version.version1", "query", "1.0", "", "query", 0},
        {"tydef.query.version.version2", "query", "2.0", "", "query", 0},
        {"tydef.query.version.version3", "query", "3.0", "", "query", 0},
        {"tydef.query.version.version4", "query", "4.0", "", "query", 0},
    };
    static const VersionParent queryParents[] = {
        {"tydef.query.version.version2", "tydef.query.version.version1"},
        {"tydef.query.version.version3", "tydef.query.version.version2"},
        {"tydef.query.version.version4", "tydef.query.version.version3"},
    };
    static const VersionRow reflectRows[] = {
        {"tydef.reflect.version.version1", "reflect", "1.0", "", "reflect", 0},
        {"tydef.reflect.version.version2", "reflect", "2.0", "", "reflect", 0},
    };
    static const VersionParent reflectParents[] = {
        {"tydef.reflect.version.version2", "tydef.reflect.version.version1"}};
    Load("tydef", {nullptr, 0, tydefRows, 2, tydefParents, 1});
    Load("tydef.query", {nullptr, 0, queryRows, 4, queryParents, 3});
    Load("tydef.reflect", {nullptr, 0, reflectRows, 2, reflectParents, 1});
  }

  std::shared_mutex mutex_;
  std::vector<VersionNamespace> namespaces_;
  std::unordered_map<std::string, const Version*> byName_;
};

bool Version::IsSameOrDescendantOf(const Version& other) const {
  if (this == &other) return true;
  for (const Version* p : parents_) {
    if (p->IsSameOrDescendantOf(other)) return true;
  }
  return false;
}

const Version* FindVersion(std::string_view name) { return VersionTable::Get().Find(name); }

std::vector<const Version*> GetVersions(std::string_view ns) {
  return VersionTable::Get().WithNamespace(ns, [](const VersionNamespace* n) {
    return n ? n->versions : std::vector<const Version*>{};
  });
}

std::vector<std::string> GetVersionNamespaces() { return VersionTable::Get().Namespaces(); }

std::vector<std::string> GetImportedNamespaces(std::string_view ns) {
  return VersionTable::Get().WithNamespace(ns, [](const VersionNamespace* n) {
    return n ? n->imports : std::vector<std::string>{};
  });
}

std::vector<std::pair<const Version*, const Version*>> GetVersionParents(std::string_view ns) {
  return VersionTable::Get().WithNamespace(ns, [](const VersionNamespace* n) {
    return n ? n->parents : std::vector<std::pair<const Version*, const Version*>>{};
  });
}

std::string GetVersionId(std::string_view name) {
  const Version* v = FindVersion(name);
  return v ? v->GetVersionId() : std::string();
}

void LoadVersionTable(const char* ns, const TydefVersions& table) {
  VersionTable::Get().Load(ns, table);
}

}  // namespace Movel
