// The type registry: every type object, found by wire name, WSDL name or
// record. Registration happens while libraries load; lookups may come from any
// thread at any time, so the maps are guarded by a reader-writer lock.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "internal.h"

namespace Movel {
namespace {

struct Registry {
  std::shared_mutex mutex;
  std::vector<Type*> all;
  // Keys view the type objects' own names, which live as long as the types.
  // The indexes cover all[0, indexed): registering a type only appends it,
  // and the first lookup after a registration indexes what is new. A library
  // of thousands of types thus registers without a hash insert per type.
  std::unordered_map<std::string_view, Type*> byName;
  std::unordered_map<std::string_view, Type*> byWsdl;
  std::unordered_map<const TypeInfo*, Type*> byInfo;
  size_t indexed = 0;
  std::vector<LoadedModule> modules;

  Registry() {
    // Room for a full catalogue and the runtime's own types without growing.
    constexpr size_t kExpectedTypes = 4096;
    all.reserve(kExpectedTypes);
  }

  bool Current() const { return indexed == all.size(); }

  // Indexes the types registered since the last lookup; the caller holds the
  // lock exclusively.
  void Index();
};

Registry& TheRegistry() {
  // Never destroyed: type objects outlive every static destructor that might
  // still look them up.
  static Registry* registry = new Registry;
  return *registry;
}

[[noreturn]] void Fatal(const std::string& message) {
  std::fprintf(stderr, "fatal: type registration: %s\n", message.c_str());
  std::abort();
}

void Registry::Index() {
  if (byName.empty()) {
    byName.reserve(all.size() * 2);
    byWsdl.reserve(all.size() * 2);
    byInfo.reserve(all.size() * 2);
  }
  for (; indexed < all.size(); ++indexed) {
    Type* type = all[indexed];
    if (!byName.emplace(std::string_view(type->GetName()), type).second) {
      Fatal("duplicate wire name " + type->GetName());
    }
    if (!byWsdl.emplace(std::string_view(type->GetWsdlName()), type).second) {
      Fatal("duplicate WSDL name " + type->GetWsdlName() + " of " + type->GetName());
    }
    if (type->GetTypeInfo() && !byInfo.emplace(type->GetTypeInfo(), type).second) {
      Fatal("record registered twice: " + type->GetName());
    }
  }
}

// Runs find on the indexes, indexing new types first when there are any.
template <class F>
Type* Lookup(F find) {
  Registry& r = TheRegistry();
  {
    std::shared_lock<std::shared_mutex> lock(r.mutex);
    if (r.Current()) return find(r);
  }
  std::unique_lock<std::shared_mutex> lock(r.mutex);
  r.Index();
  return find(r);
}

}  // namespace

namespace detail {

void RegisterType(Type* type) {
  Registry& r = TheRegistry();
  std::unique_lock<std::shared_mutex> lock(r.mutex);
  r.all.push_back(type);
}

void AddLoadedModule(LoadedModule module) {
  Registry& r = TheRegistry();
  std::unique_lock<std::shared_mutex> lock(r.mutex);
  r.modules.push_back(std::move(module));
}

}  // namespace detail

Type* GetType(const TypeInfo* info) {
  if (!info) return nullptr;
  return Lookup([info](Registry& r) -> Type* {
    auto it = r.byInfo.find(info);
    return it == r.byInfo.end() ? nullptr : it->second;
  });
}

Type* FindType(std::string_view wireName) {
  return Lookup([wireName](Registry& r) -> Type* {
    auto it = r.byName.find(wireName);
    return it == r.byName.end() ? nullptr : it->second;
  });
}

Type* FindTypeByWsdlName(std::string_view wsdlName) {
  return Lookup([wsdlName](Registry& r) -> Type* {
    auto it = r.byWsdl.find(wsdlName);
    return it == r.byWsdl.end() ? nullptr : it->second;
  });
}

std::vector<Type*> GetAllTypes() {
  Registry& r = TheRegistry();
  std::shared_lock<std::shared_mutex> lock(r.mutex);
  return r.all;
}

std::vector<LoadedModule> GetLoadedModules() {
  Registry& r = TheRegistry();
  std::shared_lock<std::shared_mutex> lock(r.mutex);
  return r.modules;
}

}  // namespace Movel
