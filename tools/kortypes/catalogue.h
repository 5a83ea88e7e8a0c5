// What the runtime has registered, read through its reflection API and
// arranged for the commands: the library's modules and their types, and the
// naming and flag rules used to present them.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "movel/type.h"
#include "movel/version.h"

namespace kortypes {

// One constructed loader of the bindings library.
struct Module {
  // The module the loader registers ("kor.vm"); empty for a loader that
  // registers nothing.
  std::string name;
  // The namespace the loader was constructed for ("kor").
  std::string ns;
  // Position among the loaders, from 0.
  int loader = 0;
  // The module's types in slot order: managed, then data and fault, then
  // enumerations.
  std::vector<const Movel::Type*> types;
};

class Catalogue {
 public:
  // Takes a snapshot of the registry. Call it after registration has ended
  // (in the tool that is any time after main starts).
  Catalogue();

  // Every loader, in construction order.
  const std::vector<Module>& Loaders() const noexcept { return loaders_; }
  // The loaders that register a module, in registration order (a module may
  // still have no types).
  std::vector<const Module*> Modules() const;
  int EmptyLoaderCount() const;

  // The module that registered type, or null for the runtime's own types.
  const Module* ModuleOf(const Movel::Type* type) const;
  bool HasModule(std::string_view name) const;

  // The library's types, module by module in slot order.
  std::vector<const Movel::Type*> LibraryTypes() const;
  // The runtime's own types, in registration order.
  std::vector<const Movel::Type*> RuntimeTypes() const;

 private:
  std::vector<Module> loaders_;
  std::map<const Movel::Type*, int> moduleOfType_;
};


// "managed", "data", "fault", "enum", "primitive", or "kind N".
std::string KindName(Movel::Word kind);
// Parses a kind name as printed by KindName; false for an unknown one.
bool ParseKind(std::string_view name, Movel::Word* kind);

// Naming rules of the generated bindings: split the wire name at the dots
// and raise the first letter of each component, then join with "::" for the
// C++ class, or with nothing between "g" and "TypeInfo" for the exported
// record.
// The pieces of text between separators, empty ones included.
std::vector<std::string> Split(std::string_view text, char separator);

std::string CppClassName(std::string_view wireName);
std::string RecordSymbolName(std::string_view wireName);
// True when the process exports symbol and it is the record the type was
// made from.
bool RecordSymbolMatches(const std::string& symbol, const Movel::Type* type);

// Names of the property, parameter or result flags set in flags, in bit
// order ("array", "optional", "read-only", "linkable", "link", "secret",
// "statistics"); bits without a name appear as hex.
std::vector<std::string> PropertyFlagNames(Movel::Word flags);
// Names of method flags ("task", "internal", then unknown bits as hex).
std::vector<std::string> MethodFlagNames(Movel::Word flags);
// names joined with ", ", or "-" when there are none.
std::string JoinOrDash(const std::vector<std::string>& names);

// The wire name of a referenced type, with "[]" when flags mark an array;
// "none" for a null reference.
std::string TypeRefName(const Movel::TypeInfo* type, Movel::Word flags);

// "kor.version.version1 (2.0)"; "NAME (not loaded)" when no table declares
// it, "-" for null.
std::string VersionLabel(const char* versionName);

// A C string for display: "-" for null.
inline const char* OrDash(const char* s) { return s ? s : "-"; }

}  // namespace kortypes
