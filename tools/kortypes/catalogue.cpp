#include "catalogue.h"

#include "kortypes/base.h"

#include <dlfcn.h>

#include <cctype>
#include <cstdio>

namespace kortypes {

namespace {

std::string Hex(Movel::Word bits) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(bits));
  return buffer;
}

struct FlagName {
  Movel::Word bit;
  const char* name;
};

std::vector<std::string> FlagNames(Movel::Word flags, const FlagName* table, size_t size) {
  std::vector<std::string> names;
  for (size_t i = 0; i < size; ++i) {
    if (flags & table[i].bit) {
      names.emplace_back(table[i].name);
      flags &= ~table[i].bit;
    }
  }
  if (flags) names.push_back(Hex(flags));
  return names;
}

}  // namespace


Catalogue::Catalogue() {
  std::vector<Movel::LoadedModule> loaded = Movel::GetLoadedModules();
  int nameCount = 0;
  const char* const* names = Kor::GetModuleNames(nameCount);
  std::vector<const char*> moduleNames(names, names + nameCount);
  for (size_t i = 0; i < loaded.size(); ++i) {
    Module module;
    module.ns = loaded[i].ns;
    module.loader = static_cast<int>(i);
    for (int k = 0; loaded[i].types && k < loaded[i].count; ++k) {
      if (const Movel::Type* type = loaded[i].types[k]) {
        module.types.push_back(type);
        moduleOfType_.emplace(type, module.loader);
      }
    }
    // The library names the module each loader registers; a loader that
    // registers nothing has no module.
    if (i < moduleNames.size() && moduleNames[i]) module.name = moduleNames[i];
    loaders_.push_back(std::move(module));
  }
}

std::vector<const Module*> Catalogue::Modules() const {
  std::vector<const Module*> modules;
  for (const Module& m : loaders_) {
    if (!m.name.empty()) modules.push_back(&m);
  }
  return modules;
}

int Catalogue::EmptyLoaderCount() const {
  int empty = 0;
  for (const Module& m : loaders_) empty += m.name.empty() ? 1 : 0;
  return empty;
}

const Module* Catalogue::ModuleOf(const Movel::Type* type) const {
  auto it = moduleOfType_.find(type);
  return it == moduleOfType_.end() ? nullptr : &loaders_[static_cast<size_t>(it->second)];
}

bool Catalogue::HasModule(std::string_view name) const {
  for (const Module& m : loaders_) {
    if (!m.types.empty() && m.name == name) return true;
  }
  return false;
}

std::vector<const Movel::Type*> Catalogue::LibraryTypes() const {
  std::vector<const Movel::Type*> types;
  for (const Module& m : loaders_) types.insert(types.end(), m.types.begin(), m.types.end());
  return types;
}

std::vector<const Movel::Type*> Catalogue::RuntimeTypes() const {
  std::vector<const Movel::Type*> types;
  for (const Movel::Type* type : Movel::GetAllTypes()) {
    if (!type->IsArray() && moduleOfType_.count(type) == 0) types.push_back(type);
  }
  return types;
}

std::string KindName(Movel::Word kind) {
  switch (kind) {
    case Movel::kTypeKindPrimitive: return "primitive";
    case Movel::kTypeKindEnum: return "enum";
    case Movel::kTypeKindData: return "data";
    case Movel::kTypeKindFault: return "fault";
    case Movel::kTypeKindManaged: return "managed";
    default: return "kind " + std::to_string(kind);
  }
}

bool ParseKind(std::string_view name, Movel::Word* kind) {
  static const Movel::Word kKinds[] = {Movel::kTypeKindManaged, Movel::kTypeKindData,
                                       Movel::kTypeKindFault, Movel::kTypeKindEnum,
                                       Movel::kTypeKindPrimitive};
  for (Movel::Word k : kKinds) {
    if (KindName(k) == name) {
      *kind = k;
      return true;
    }
  }
  return false;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

std::string CppClassName(std::string_view wireName) {
  std::string out;
  for (std::string& part : Split(wireName, '.')) {
    if (!part.empty()) part[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(part[0])));
    if (!out.empty()) out += "::";
    out += part;
  }
  return out;
}

std::string RecordSymbolName(std::string_view wireName) {
  std::string out = "g";
  for (std::string& part : Split(wireName, '.')) {
    if (!part.empty()) part[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(part[0])));
    out += part;
  }
  return out + "TypeInfo";
}

bool RecordSymbolMatches(const std::string& symbol, const Movel::Type* type) {
  if (!type->GetTypeInfo()) return false;
  return dlsym(RTLD_DEFAULT, symbol.c_str()) == static_cast<const void*>(type->GetTypeInfo());
}

std::vector<std::string> PropertyFlagNames(Movel::Word flags) {
  static const FlagName kNames[] = {
      {Movel::kFlagArray, "array"},       {Movel::kFlagOptional, "optional"},
      {Movel::kFlagReadOnly, "read-only"}, {Movel::kFlagLinkable, "linkable"},
      {Movel::kFlagLink, "link"},         {Movel::kFlagSecret, "secret"},
      {Movel::kFlagStatistics, "statistics"},
  };
  return FlagNames(flags, kNames, sizeof kNames / sizeof kNames[0]);
}

std::vector<std::string> MethodFlagNames(Movel::Word flags) {
  static const FlagName kNames[] = {{Movel::kMethodTask, "task"},
                                    {Movel::kMethodInternal, "internal"}};
  return FlagNames(flags, kNames, sizeof kNames / sizeof kNames[0]);
}

std::string JoinOrDash(const std::vector<std::string>& names) {
  if (names.empty()) return "-";
  std::string out;
  for (const std::string& n : names) {
    if (!out.empty()) out += ", ";
    out += n;
  }
  return out;
}

std::string TypeRefName(const Movel::TypeInfo* type, Movel::Word flags) {
  if (!type) return "none";
  std::string name = type->name ? type->name : "?";
  if (flags & Movel::kFlagArray) name += "[]";
  return name;
}

std::string VersionLabel(const char* versionName) {
  if (!versionName) return "-";
  const Movel::Version* version = Movel::FindVersion(versionName);
  if (!version) return std::string(versionName) + " (not loaded)";
  return version->GetName() + " (" + version->GetVersionId() + ")";
}

}  // namespace kortypes
