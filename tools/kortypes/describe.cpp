// kortypes describe: everything the runtime knows about one type.
#include <algorithm>
#include <string>
#include <vector>

#include "catalogue.h"
#include "commands.h"
#include "json_writer.h"
#include "text_table.h"

namespace kortypes {

namespace {

// The parent chain, nearest first, up to the runtime root. A parent whose
// record is not registered ends the chain with its record name.
struct ParentLink {
  std::string name;
  const Movel::Type* type;  // null when not registered
};

std::vector<ParentLink> ParentChain(const Movel::Type* type) {
  std::vector<ParentLink> chain;
  const auto* structured = dynamic_cast<const Movel::StructuredType*>(type);
  // The bound guards against a malformed registry with a cycle.
  while (structured && chain.size() < 64) {
    const Movel::TypeInfo* info = structured->GetParentTypeInfo();
    if (!info) break;
    const Movel::Type* parent = structured->GetParent();
    chain.push_back({info->name ? info->name : "?", parent});
    structured = dynamic_cast<const Movel::StructuredType*>(parent);
  }
  return chain;
}

std::vector<std::string> FaultNames(const Movel::ManagedMethod& m) {
  std::vector<std::string> names;
  if (const Movel::MethodInfo* record = m.GetRecord()) {
    for (const Movel::TypeInfo* const* f = record->faults; f && *f; ++f) {
      names.emplace_back((*f)->name ? (*f)->name : "?");
    }
    return names;
  }
  for (const Movel::Type* f : m.GetFaults()) names.push_back(f ? f->GetName() : "?");
  return names;
}

std::vector<Movel::PrivilegeOverride> Overrides(const Movel::ManagedMethod& m) {
  std::vector<Movel::PrivilegeOverride> list;
  for (const Movel::PrivilegeOverride* o = m.GetPrivilegeOverrides(); o && o->typeName; ++o) {
    list.push_back(*o);
  }
  return list;
}

// Record symbol and C++ class as the generated bindings name them; the
// runtime's own types have hand-written classes and records, so only a
// symbol the process really exports is reported for them.
struct Naming {
  std::string cppClass;  // empty for runtime types
  std::string symbol;    // empty when unknown
  bool symbolExported;
};

Naming NamingOf(const Movel::Type* type, bool library) {
  Naming n;
  n.symbol = RecordSymbolName(type->GetName());
  n.symbolExported = RecordSymbolMatches(n.symbol, type);
  if (library) {
    n.cppClass = CppClassName(type->GetName());
  } else if (!n.symbolExported) {
    n.symbol.clear();
  }
  return n;
}

// ---------------------------------------------------------------------------
// JSON

void WriteParameterJson(JsonWriter& json, const Movel::Parameter& p) {
  json.BeginObject()
      .FieldStringOrNull("name", p.GetName())
      .FieldString("type", TypeRefName(p.GetTypeInfo(), p.GetFlags()))
      .FieldStrings("flags", PropertyFlagNames(p.GetFlags()))
      .FieldInt("flagsWord", static_cast<long long>(p.GetFlags()))
      .FieldStringOrNull("privilege", p.GetPrivilegeId())
      .FieldStringOrNull("version", p.GetVersionName())
      .EndObject();
}

void WriteMethodJson(JsonWriter& json, const Movel::ManagedMethod& m) {
  json.BeginObject()
      .FieldInt("index", m.GetIndex())
      .FieldString("name", m.GetName())
      .FieldString("wsdlName", m.GetWsdlName())
      .FieldString("fullName", m.GetFullName());
  json.Key("parameters").BeginArray();
  for (const Movel::Parameter& p : m.GetParameters()) WriteParameterJson(json, p);
  json.EndArray();
  json.Key("result");
  if (m.GetResult().GetTypeInfo()) {
    WriteParameterJson(json, m.GetResult());
  } else {
    json.Null();
  }
  json.FieldStrings("faults", FaultNames(m))
      .FieldStrings("flags", MethodFlagNames(m.GetFlags()))
      .FieldInt("flagsWord", static_cast<long long>(m.GetFlags()))
      .FieldStringOrNull("privilege", m.GetPrivilegeId());
  json.Key("privilegeOverrides").BeginArray();
  for (const Movel::PrivilegeOverride& o : Overrides(m)) {
    json.BeginObject()
        .FieldString("type", o.typeName)
        .FieldStringOrNull("privilege", o.privilegeId)
        .EndObject();
  }
  json.EndArray().FieldStringOrNull("version", m.GetVersionName()).EndObject();
}

// One type as a JSON object, into a document being written.
void WriteTypeJson(JsonWriter& json, const Movel::Type* t, const Module* module) {
  Naming naming = NamingOf(t, module != nullptr);
  const Movel::Version* version = t->GetVersion();
  json.BeginObject()
      .FieldString("name", t->GetName())
      .FieldString("wsdlName", t->GetWsdlName())
      .FieldString("kind", KindName(t->GetKind()))
      .FieldInt("kindCode", static_cast<long long>(t->GetKind()))
      .FieldStringOrNull("module", module ? module->name.c_str() : nullptr)
      .FieldStringOrNull("cppClass", naming.cppClass.empty() ? nullptr : naming.cppClass.c_str())
      .FieldStringOrNull("recordSymbol", naming.symbol.empty() ? nullptr : naming.symbol.c_str())
      .FieldBool("recordSymbolExported", naming.symbolExported)
      .FieldString("version", t->GetVersionName())
      .FieldStringOrNull("versionId", version ? version->GetVersionId().c_str() : nullptr);

  json.Key("parents").BeginArray();
  for (const ParentLink& link : ParentChain(t)) json.String(link.name);
  json.EndArray();

  if (const auto* structured = dynamic_cast<const Movel::StructuredType*>(t)) {
    json.Key("properties").BeginArray();
    for (const Movel::Property* p : structured->GetAllProperties()) {
      json.BeginObject()
          .FieldString("name", p->GetName())
          .FieldString("type", TypeRefName(p->GetTypeInfo(), p->GetFlags()))
          .FieldStrings("flags", PropertyFlagNames(p->GetFlags()))
          .FieldInt("flagsWord", static_cast<long long>(p->GetFlags()))
          .FieldStringOrNull("privilege", p->GetPrivilegeId())
          .FieldBool("localizable", p->IsLocalizable())
          .FieldStringOrNull("version", p->GetVersionName())
          .FieldString("owner", p->GetOwner() ? p->GetOwner()->GetName() : "?")
          .FieldBool("inherited", p->GetOwner() != t)
          .EndObject();
    }
    json.EndArray();
  }
  if (const auto* data = dynamic_cast<const Movel::DataObjectType*>(t)) {
    json.FieldBool("redeclaresDynamicProperty", data->RedeclaresDynamicProperty());
  }
  if (const auto* managed = dynamic_cast<const Movel::ManagedObjectType*>(t)) {
    json.Key("methods").BeginArray();
    for (const Movel::ManagedMethod* m : managed->GetMethodObjects()) {
      if (!m->IsPropertyRead()) WriteMethodJson(json, *m);
    }
    json.EndArray().Key("propertyReads").BeginArray();
    for (const Movel::ManagedMethod* m : managed->GetMethodObjects()) {
      if (!m->IsPropertyRead()) continue;
      const Movel::Parameter& r = m->GetResult();
      json.BeginObject()
          .FieldInt("index", m->GetIndex())
          .FieldString("name", m->GetName())
          .FieldString("wsdlName", m->GetWsdlName())
          .FieldString("type", TypeRefName(r.GetTypeInfo(), r.GetFlags()))
          .FieldStringOrNull("privilege", m->GetPrivilegeId())
          .FieldStringOrNull("version", m->GetVersionName())
          .EndObject();
    }
    json.EndArray();
  }
  if (const auto* e = dynamic_cast<const Movel::EnumType*>(t)) {
    json.Key("values").BeginArray();
    const std::vector<std::string>& values = e->GetValues();
    for (size_t i = 0; i < values.size(); ++i) {
      json.BeginObject().FieldString("name", values[i]).FieldInt("value", e->FindValue(values[i]));
      json.EndObject();
    }
    json.EndArray();
  }
  json.EndObject();
}

void WriteDescribeJson(std::ostream& out, const Movel::Type* t, const Module* module) {
  JsonWriter json(out);
  WriteTypeJson(json, t, module);
  json.Finish();
}

// Every registered type, the runtime's own first, then the library's module
// by module, each in the form of a single describe.
void WriteAllJson(std::ostream& out, const Catalogue& catalogue) {
  std::vector<const Movel::Type*> types = catalogue.RuntimeTypes();
  size_t runtime = types.size();
  for (const Movel::Type* t : catalogue.LibraryTypes()) types.push_back(t);
  JsonWriter json(out);
  json.BeginObject().Key("types").BeginArray();
  for (const Movel::Type* t : types) WriteTypeJson(json, t, catalogue.ModuleOf(t));
  json.EndArray()
      .FieldInt("count", static_cast<long long>(types.size()))
      .FieldInt("runtimeTypes", static_cast<long long>(runtime))
      .FieldInt("libraryTypes", static_cast<long long>(types.size() - runtime))
      .EndObject()
      .Finish();
}

// ---------------------------------------------------------------------------
// Text

std::string WithFlags(const std::string& text, Movel::Word flags) {
  std::vector<std::string> names = PropertyFlagNames(flags);
  return names.empty() ? text : text + " (" + JoinOrDash(names) + ")";
}

void PrintMethod(std::ostream& out, const Movel::ManagedMethod& m) {
  out << "  [" << m.GetIndex() << "] " << m.GetName() << "  (wire operation " << m.GetWsdlName()
      << ")\n";
  const std::string pad = "      ";
  if (m.GetParameters().empty()) {
    out << pad << "parameters  none\n";
  } else {
    out << pad << "parameters\n";
    TextTable params({"NAME", "TYPE", "FLAGS", "PRIVILEGE", "VERSION"});
    for (const Movel::Parameter& p : m.GetParameters()) {
      params.AddRow({OrDash(p.GetName()), TypeRefName(p.GetTypeInfo(), p.GetFlags()),
                     JoinOrDash(PropertyFlagNames(p.GetFlags())), OrDash(p.GetPrivilegeId()),
                     OrDash(p.GetVersionName())});
    }
    params.Print(out, pad + "  ");
  }
  const Movel::Parameter& result = m.GetResult();
  out << pad << "result      "
      << (result.GetTypeInfo()
              ? WithFlags(TypeRefName(result.GetTypeInfo(), result.GetFlags()), result.GetFlags())
              : std::string("none"))
      << '\n';
  out << pad << "faults      " << JoinOrDash(FaultNames(m)) << '\n';
  out << pad << "flags       " << JoinOrDash(MethodFlagNames(m.GetFlags())) << '\n';
  out << pad << "privilege   " << OrDash(m.GetPrivilegeId()) << '\n';
  std::vector<Movel::PrivilegeOverride> overrides = Overrides(m);
  if (!overrides.empty()) {
    out << pad << "overrides   privilege needed on objects of these types\n";
    TextTable table({"TYPE", "PRIVILEGE"});
    table.HideHeader();
    for (const Movel::PrivilegeOverride& o : overrides) {
      table.AddRow({o.typeName, OrDash(o.privilegeId)});
    }
    table.Print(out, pad + "  ");
  }
  out << pad << "version     " << VersionLabel(m.GetVersionName()) << '\n';
}

void PrintDescribeText(std::ostream& out, const Movel::Type* t, const Module* module) {
  Naming naming = NamingOf(t, module != nullptr);
  out << t->GetName() << "  (" << KindName(t->GetKind()) << ")\n";
  std::vector<std::vector<std::string>> rows = {
      {"wire name", t->GetName()},
      {"WSDL name", t->GetWsdlName()},
      {"kind", KindName(t->GetKind())},
      {"module", module ? module->name : "(registered by the runtime)"},
      {"C++ class", naming.cppClass.empty() ? "- (runtime class)" : naming.cppClass},
      {"record symbol", naming.symbol.empty()
                            ? "-"
                            : naming.symbol + (naming.symbolExported ? "" : " (not exported)")},
      {"version", VersionLabel(t->GetVersionName().c_str())},
  };
  std::vector<ParentLink> chain = ParentChain(t);
  if (dynamic_cast<const Movel::StructuredType*>(t)) {
    std::vector<std::string> names;
    for (const ParentLink& link : chain) {
      names.push_back(link.type ? link.name : link.name + " (not registered)");
    }
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : " > ") + n;
    rows.push_back({"parents", text.empty() ? "-" : text});
  }
  TextTable head({"", ""});
  head.HideHeader();
  for (auto& row : rows) head.AddRow(std::move(row));
  head.Print(out, "  ");

  if (const auto* structured = dynamic_cast<const Movel::StructuredType*>(t)) {
    std::vector<const Movel::Property*> all = structured->GetAllProperties();
    size_t own = structured->GetOwnProperties().size();
    out << "\nProperties: " << all.size() << " (" << own << " own, " << all.size() - own
        << " inherited)\n";
    if (!all.empty()) {
      TextTable table({"NAME", "TYPE", "FLAGS", "PRIVILEGE", "LOCALIZABLE", "VERSION", "INHERITED FROM"});
      for (const Movel::Property* p : all) {
        bool inherited = p->GetOwner() != t;
        table.AddRow({p->GetName(), TypeRefName(p->GetTypeInfo(), p->GetFlags()),
                      JoinOrDash(PropertyFlagNames(p->GetFlags())), OrDash(p->GetPrivilegeId()),
                      p->IsLocalizable() ? "yes" : "-", OrDash(p->GetVersionName()),
                      inherited && p->GetOwner() ? p->GetOwner()->GetName() : "-"});
      }
      table.Print(out, "  ");
    }
  }

  if (const auto* managed = dynamic_cast<const Movel::ManagedObjectType*>(t)) {
    const std::vector<Movel::ManagedMethod*>& entries = managed->GetMethodObjects();
    int methods = 0;
    for (const Movel::ManagedMethod* m : entries) methods += m->IsPropertyRead() ? 0 : 1;
    out << "\nMethod-object entries: " << entries.size() << " (" << methods << " methods, "
        << entries.size() - static_cast<size_t>(methods) << " property reads)\n";
    std::vector<std::string> inheritedFrom;
    int inherited = 0;
    for (const ParentLink& link : chain) {
      const auto* parent = dynamic_cast<const Movel::ManagedObjectType*>(link.type);
      if (!parent || parent->GetOwnMethodCount() == 0) continue;
      inherited += parent->GetOwnMethodCount();
      inheritedFrom.push_back(link.name + ": " + std::to_string(parent->GetOwnMethodCount()));
    }
    if (inherited > 0) {
      out << "Inherited methods: " << inherited << " (" << JoinOrDash(inheritedFrom) << ")\n";
    }
    out << "\nMethods:" << (methods ? "\n" : " none\n");
    for (const Movel::ManagedMethod* m : entries) {
      if (!m->IsPropertyRead()) PrintMethod(out, *m);
    }
    TextTable reads({"INDEX", "NAME", "WSDL NAME", "TYPE", "PRIVILEGE", "VERSION"});
    reads.AlignRight(0);
    for (const Movel::ManagedMethod* m : entries) {
      if (!m->IsPropertyRead()) continue;
      const Movel::Parameter& r = m->GetResult();
      reads.AddRow({std::to_string(m->GetIndex()), m->GetName(), m->GetWsdlName(),
                    TypeRefName(r.GetTypeInfo(), r.GetFlags()), OrDash(m->GetPrivilegeId()),
                    OrDash(m->GetVersionName())});
    }
    out << "\nProperty reads:" << (reads.RowCount() ? "\n" : " none\n");
    if (reads.RowCount()) reads.Print(out, "  ");
  }

  if (const auto* e = dynamic_cast<const Movel::EnumType*>(t)) {
    const std::vector<std::string>& values = e->GetValues();
    out << "\nValues: " << values.size() << '\n';
    TextTable table({"VALUE", "NAME"});
    table.AlignRight(0);
    for (const std::string& v : values) table.AddRow({std::to_string(e->FindValue(v)), v});
    table.Print(out, "  ");
  }
}

}  // namespace

int RunDescribe(const Invocation& inv) {
  Options opt;
  if (int status = ParseOptions(inv, {"--all"}, {}, 0, 1, &opt); status >= 0) return status;
  if (opt.Has("--all")) {
    if (!opt.positionals.empty()) {
      inv.err << "kortypes describe: --all takes no type name\n";
      return kExitUsage;
    }
    Catalogue catalogue;
    if (opt.Has("--json")) {
      WriteAllJson(inv.out, catalogue);
    } else {
      bool first = true;
      for (const Movel::Type* t : catalogue.LibraryTypes()) {
        if (!first) inv.out << '\n';
        first = false;
        PrintDescribeText(inv.out, t, catalogue.ModuleOf(t));
      }
    }
    return kExitOk;
  }
  if (opt.positionals.empty()) {
    inv.err << "kortypes describe: name a type, or give --all\n";
    return kExitUsage;
  }
  const std::string& name = opt.positionals[0];
  const Movel::Type* type = Movel::FindType(name);
  if (!type) type = Movel::FindTypeByWsdlName(name);
  if (!type) {
    inv.err << "kortypes: no type named '" << name << "'\n";
    return kExitNotFound;
  }
  Catalogue catalogue;
  const Module* module = catalogue.ModuleOf(type);
  if (opt.Has("--json")) {
    WriteDescribeJson(inv.out, type, module);
  } else {
    PrintDescribeText(inv.out, type, module);
  }
  return kExitOk;
}

}  // namespace kortypes
