#include "commands.h"
#include "targets.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "catalogue.h"
#include "json_writer.h"
#include "text_table.h"

#ifndef KORTYPES_VERSION
#define KORTYPES_VERSION "unknown"
#endif

namespace kortypes {

// ---------------------------------------------------------------------------
// Command table and dispatch

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"list", "[--module M] [--kind K] [--all]",
       "the library's types: kind, wire name, WSDL name, version", RunList},
      {"describe", "NAME", "one type in detail, by wire or WSDL name", RunDescribe},
      {"versions", "[--namespace NS] | --is A B",
       "a version table (\"kor\" by default), or whether A is B or descends from it", RunVersions},
      {"stats", "", "types, properties and methods counted per module and in total", RunStats},
      {"demo", "", "a client and an in-process server talking through stubs", RunDemo},
  };
  return kCommands;
}

namespace {

void PrintUsage(std::ostream& out) {
  out << "usage: kortypes COMMAND [ARGUMENTS] [--json]\n"
         "       kortypes --help | --version\n\n"
         "Shows what the kor bindings register with the object-model runtime.\n\n"
         "commands:\n";
  std::vector<size_t> widths(2, 0);
  for (const Command& c : Commands()) {
    widths[0] = std::max(widths[0], std::strlen(c.name));
    widths[1] = std::max(widths[1], std::strlen(c.synopsis));
  }
  for (const Command& c : Commands()) {
    std::string line = "  " + std::string(c.name);
    line.append(widths[0] - std::strlen(c.name) + 2, ' ');
    line += c.synopsis;
    line.append(widths[1] - std::strlen(c.synopsis) + 2, ' ');
    out << line << c.summary << '\n';
  }
  out << "\noptions:\n"
         "  --json     output for scripts (one JSON document on stdout)\n"
         "  --help     this text; after a command, that command's usage\n"
         "  --version  the tool's version\n\n"
         "exit status: 0 success, 1 not found (or \"no\" for versions --is), 2 usage error\n";
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    PrintUsage(err);
    return kExitUsage;
  }
  // "--json" may also come before the command.
  std::vector<std::string> rest = args;
  bool json = false;
  while (!rest.empty() && rest.front() == "--json") {
    json = true;
    rest.erase(rest.begin());
  }
  if (rest.empty()) {
    PrintUsage(err);
    return kExitUsage;
  }
  const std::string& first = rest.front();
  if (first == "--help" || first == "-h" || first == "help") {
    PrintUsage(out);
    return kExitOk;
  }
  if (first == "--version") {
    out << "kortypes " << KORTYPES_VERSION << '\n';
    return kExitOk;
  }
  for (const Command& c : Commands()) {
    if (first != c.name) continue;
    Invocation inv{c.name, std::vector<std::string>(rest.begin() + 1, rest.end()), out, err};
    if (json) inv.args.push_back("--json");
    return c.run(inv);
  }
  err << "kortypes: unknown command '" << first << "' (see kortypes --help)\n";
  return kExitUsage;
}

int ParseOptions(const Invocation& inv, std::initializer_list<const char*> flags,
                 std::initializer_list<const char*> valued, size_t minPositionals,
                 size_t maxPositionals, Options* options) {
  const Command* command = nullptr;
  for (const Command& c : Commands()) {
    if (inv.command == c.name) command = &c;
  }
  auto usage = [&](std::ostream& s) {
    s << "usage: kortypes " << inv.command;
    if (command && *command->synopsis) s << ' ' << command->synopsis;
    s << " [--json]\n";
  };
  auto isOneOf = [](const std::string& name, std::initializer_list<const char*> names) {
    for (const char* n : names) {
      if (name == n) return true;
    }
    return false;
  };

  for (size_t i = 0; i < inv.args.size(); ++i) {
    const std::string& arg = inv.args[i];
    if (arg == "--help" || arg == "-h") {
      usage(inv.out);
      if (command) inv.out << command->summary << '\n';
      return kExitOk;
    }
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      options->positionals.push_back(arg);
      continue;
    }
    size_t eq = arg.find('=');
    std::string name = arg.substr(0, eq);
    if (name == "--json" || isOneOf(name, flags)) {
      if (eq != std::string::npos) {
        inv.err << "kortypes " << inv.command << ": option " << name << " takes no value\n";
        return kExitUsage;
      }
      options->flags.insert(name);
    } else if (isOneOf(name, valued)) {
      if (eq != std::string::npos) {
        options->values[name] = arg.substr(eq + 1);
      } else if (i + 1 < inv.args.size()) {
        options->values[name] = inv.args[++i];
      } else {
        inv.err << "kortypes " << inv.command << ": option " << name << " needs a value\n";
        return kExitUsage;
      }
    } else {
      inv.err << "kortypes " << inv.command << ": unknown option '" << arg << "'\n";
      usage(inv.err);
      return kExitUsage;
    }
  }
  if (options->positionals.size() < minPositionals || options->positionals.size() > maxPositionals) {
    inv.err << "kortypes " << inv.command << ": wrong number of arguments\n";
    usage(inv.err);
    return kExitUsage;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// list

int RunList(const Invocation& inv) {
  Options opt;
  if (int status = ParseOptions(inv, {"--all"}, {"--module", "--kind"}, 0, 0, &opt); status >= 0) {
    return status;
  }
  Catalogue catalogue;
  const std::string* module = opt.Value("--module");
  const std::string* kindName = opt.Value("--kind");
  Movel::Word kind = 0;
  if (kindName && !ParseKind(*kindName, &kind)) {
    inv.err << "kortypes list: unknown kind '" << *kindName
            << "' (one of managed, data, fault, enum, primitive)\n";
    return kExitNotFound;
  }
  if (module && !catalogue.HasModule(*module)) {
    inv.err << "kortypes list: unknown module '" << *module << "'; modules with types:";
    for (const Module* m : catalogue.Modules()) inv.err << ' ' << m->name;
    inv.err << '\n';
    return kExitNotFound;
  }

  std::vector<const Movel::Type*> types;
  if (opt.Has("--all")) types = catalogue.RuntimeTypes();
  for (const Movel::Type* t : catalogue.LibraryTypes()) types.push_back(t);
  std::vector<const Movel::Type*> shown;
  for (const Movel::Type* t : types) {
    const Module* m = catalogue.ModuleOf(t);
    if (module && (!m || m->name != *module)) continue;
    if (kindName && t->GetKind() != kind) continue;
    shown.push_back(t);
  }

  if (opt.Has("--json")) {
    JsonWriter json(inv.out);
    json.BeginObject().Key("types").BeginArray();
    for (const Movel::Type* t : shown) {
      const Module* m = catalogue.ModuleOf(t);
      const Movel::Version* v = t->GetVersion();
      json.BeginObject()
          .FieldString("kind", KindName(t->GetKind()))
          .FieldString("name", t->GetName())
          .FieldString("wsdlName", t->GetWsdlName())
          .FieldString("version", t->GetVersionName())
          .FieldStringOrNull("versionId", v ? v->GetVersionId().c_str() : nullptr)
          .FieldStringOrNull("module", m ? m->name.c_str() : nullptr)
          .EndObject();
    }
    json.EndArray().FieldInt("count", static_cast<long long>(shown.size())).EndObject().Finish();
    return kExitOk;
  }

  TextTable table({"KIND", "NAME", "WSDL NAME", "VERSION"});
  for (const Movel::Type* t : shown) {
    table.AddRow({KindName(t->GetKind()), t->GetName(), t->GetWsdlName(), t->GetVersionName()});
  }
  table.Print(inv.out);
  inv.out << shown.size() << (shown.size() == 1 ? " type\n" : " types\n");
  return kExitOk;
}

// ---------------------------------------------------------------------------
// versions

namespace {

std::string FlagBytes(const Movel::Version& v) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%02x 0x%02x", v.GetFlagByte(0), v.GetFlagByte(1));
  return buffer;
}

int VersionDescent(const Invocation& inv, const Options& opt) {
  const std::string& a = opt.positionals[0];
  const std::string& b = opt.positionals[1];
  const Movel::Version* va = Movel::FindVersion(a);
  const Movel::Version* vb = Movel::FindVersion(b);
  if (!va || !vb) {
    inv.err << "kortypes versions: no version named '" << (va ? b : a) << "'\n";
    return kExitUsage;
  }
  bool same = va == vb;
  bool yes = va->IsSameOrDescendantOf(*vb);
  if (opt.Has("--json")) {
    JsonWriter json(inv.out);
    json.BeginObject()
        .FieldString("version", a)
        .FieldString("other", b)
        .FieldBool("same", same)
        .FieldBool("sameOrDescendant", yes)
        .EndObject()
        .Finish();
  } else if (same) {
    inv.out << "yes: " << a << " is the same version as " << b << '\n';
  } else if (yes) {
    inv.out << "yes: " << a << " descends from " << b << '\n';
  } else {
    inv.out << "no: " << a << " is not " << b << " and does not descend from it\n";
  }
  return yes ? kExitOk : kExitNotFound;
}

}  // namespace

int RunVersions(const Invocation& inv) {
  Options opt;
  if (int status = ParseOptions(inv, {"--is"}, {"--namespace"}, 0, 2, &opt); status >= 0) {
    return status;
  }
  if (opt.Has("--is")) {
    if (opt.positionals.size() != 2 || opt.Value("--namespace")) {
      inv.err << "kortypes versions: --is takes two version names and no --namespace\n";
      return kExitUsage;
    }
    return VersionDescent(inv, opt);
  }
  if (!opt.positionals.empty()) {
    inv.err << "kortypes versions: unexpected argument '" << opt.positionals[0]
            << "' (did you mean --is A B?)\n";
    return kExitUsage;
  }

  const std::string* nsOption = opt.Value("--namespace");
  std::string ns = nsOption ? *nsOption : "kor";
  std::vector<std::string> loaded = Movel::GetVersionNamespaces();
  bool known = false;
  for (const std::string& n : loaded) known = known || n == ns;
  if (!known) {
    inv.err << "kortypes versions: no version table for namespace '" << ns << "'; loaded:";
    for (const std::string& n : loaded) inv.err << ' ' << n;
    inv.err << '\n';
    return kExitNotFound;
  }
  std::vector<const Movel::Version*> versions = Movel::GetVersions(ns);
  std::vector<std::string> imports = Movel::GetImportedNamespaces(ns);

  if (opt.Has("--json")) {
    JsonWriter json(inv.out);
    json.BeginObject().FieldString("namespace", ns).Key("versions").BeginArray();
    for (const Movel::Version* v : versions) {
      std::vector<std::string> parents;
      for (const Movel::Version* p : v->GetParents()) parents.push_back(p->GetName());
      json.BeginObject()
          .FieldString("name", v->GetName())
          .FieldString("wireNamespace", v->GetWireNamespace())
          .FieldString("versionId", v->GetVersionId())
          .FieldString("taskType", v->GetTaskType())
          .FieldString("serviceNamespace", v->GetServiceNamespace())
          .FieldInt("flags", static_cast<long long>(v->GetFlagsWord()))
          .Key("flagBytes")
          .BeginArray()
          .Int(v->GetFlagByte(0))
          .Int(v->GetFlagByte(1))
          .EndArray()
          .FieldInt("ordinal", v->GetOrdinal())
          .FieldStrings("parents", parents)
          .EndObject();
    }
    json.EndArray().FieldStrings("imports", imports).FieldStrings("loadedNamespaces", loaded);
    json.EndObject().Finish();
    return kExitOk;
  }

  inv.out << "Version table of namespace " << ns << " (" << versions.size() << " versions)\n\n";
  TextTable table({"NAME", "WIRE NAMESPACE", "VERSION ID", "FLAG BYTES", "PARENTS"});
  for (const Movel::Version* v : versions) {
    std::vector<std::string> parents;
    for (const Movel::Version* p : v->GetParents()) parents.push_back(p->GetName());
    table.AddRow({v->GetName(), v->GetWireNamespace(), v->GetVersionId(), FlagBytes(*v),
                  JoinOrDash(parents)});
  }
  table.Print(inv.out);
  inv.out << "\nImported namespaces: " << JoinOrDash(imports) << '\n';
  inv.out << "Loaded version tables: " << JoinOrDash(loaded) << '\n';
  return kExitOk;
}

// ---------------------------------------------------------------------------
// stats

namespace {

struct Counts {
  long long managed = 0, data = 0, fault = 0, enums = 0;
  long long dataProperties = 0, managedProperties = 0;
  long long methods = 0, parameters = 0, methodObjects = 0;
  long long arrayProperties = 0, optionalProperties = 0;

  void Add(const Counts& o) {
    managed += o.managed, data += o.data, fault += o.fault, enums += o.enums;
    dataProperties += o.dataProperties, managedProperties += o.managedProperties;
    methods += o.methods, parameters += o.parameters, methodObjects += o.methodObjects;
    arrayProperties += o.arrayProperties, optionalProperties += o.optionalProperties;
  }
};

// One column of the stats table: header, JSON key, field.
struct CountColumn {
  const char* header;
  const char* key;
  long long Counts::*field;
};

const CountColumn kCountColumns[] = {
    {"MANAGED", "managed", &Counts::managed},
    {"DATA", "data", &Counts::data},
    {"FAULT", "fault", &Counts::fault},
    {"ENUM", "enum", &Counts::enums},
    {"DO PROPS", "dataObjectProperties", &Counts::dataProperties},
    {"MO PROPS", "managedObjectProperties", &Counts::managedProperties},
    {"METHODS", "methods", &Counts::methods},
    {"PARAMS", "parameters", &Counts::parameters},
    {"MO ENTRIES", "methodObjectEntries", &Counts::methodObjects},
    {"ARRAY PROPS", "arrayProperties", &Counts::arrayProperties},
    {"OPTIONAL PROPS", "optionalProperties", &Counts::optionalProperties},
};

Counts CountModule(const Module& module) {
  Counts c;
  for (const Movel::Type* t : module.types) {
    switch (t->GetKind()) {
      case Movel::kTypeKindManaged: ++c.managed; break;
      case Movel::kTypeKindData: ++c.data; break;
      case Movel::kTypeKindFault: ++c.fault; break;
      case Movel::kTypeKindEnum: ++c.enums; break;
      default: break;
    }
    const auto* structured = dynamic_cast<const Movel::StructuredType*>(t);
    if (!structured) continue;
    for (const Movel::Property& p : structured->GetOwnProperties()) {
      (t->IsManaged() ? c.managedProperties : c.dataProperties) += 1;
      c.arrayProperties += p.IsArray() ? 1 : 0;
      c.optionalProperties += p.IsOptional() ? 1 : 0;
    }
    const auto* managed = dynamic_cast<const Movel::ManagedObjectType*>(t);
    if (!managed) continue;
    c.methods += managed->GetOwnMethodCount();
    c.methodObjects += static_cast<long long>(managed->GetMethodObjects().size());
    for (const Movel::ManagedMethod* m : managed->GetMethodObjects()) {
      if (!m->IsPropertyRead()) c.parameters += static_cast<long long>(m->GetParameters().size());
    }
  }
  return c;
}

void WriteCounts(JsonWriter& json, const Counts& c) {
  for (const CountColumn& col : kCountColumns) json.FieldInt(col.key, c.*col.field);
}

std::vector<std::string> CountCells(std::string label, const Counts& c) {
  std::vector<std::string> cells{std::move(label)};
  for (const CountColumn& col : kCountColumns) cells.push_back(std::to_string(c.*col.field));
  return cells;
}

Counts TargetCounts() {
  CatalogueTotals t;
  Counts c;
  c.managed = t.managed, c.data = t.data, c.fault = t.fault, c.enums = t.enums;
  c.dataProperties = t.dataProperties, c.managedProperties = t.managedProperties;
  c.methods = t.methods, c.parameters = t.parameters, c.methodObjects = t.methodObjects;
  c.arrayProperties = t.arrayProperties, c.optionalProperties = t.optionalProperties;
  return c;
}

long long TargetTypes(const std::string& module) {
  for (const ModuleTarget& m : kModuleTargets) {
    if (module == m.module) return m.managed + m.dataAndFault + m.enums;
  }
  return 0;
}

}  // namespace

int RunStats(const Invocation& inv) {
  Options opt;
  if (int status = ParseOptions(inv, {}, {}, 0, 0, &opt); status >= 0) return status;
  Catalogue catalogue;
  std::vector<const Module*> modules = catalogue.Modules();
  std::vector<Counts> rows;
  Counts total;
  for (const Module* m : modules) {
    rows.push_back(CountModule(*m));
    total.Add(rows.back());
  }
  int loaders = static_cast<int>(catalogue.Loaders().size());
  int empty = catalogue.EmptyLoaderCount();

  if (opt.Has("--json")) {
    JsonWriter json(inv.out);
    json.BeginObject().Key("modules").BeginArray();
    for (size_t i = 0; i < modules.size(); ++i) {
      json.BeginObject().FieldString("name", modules[i]->name).FieldInt("loader", modules[i]->loader);
      WriteCounts(json, rows[i]);
      json.EndObject();
    }
    json.EndArray().Key("total").BeginObject();
    WriteCounts(json, total);
    json.EndObject().Key("completeCatalogue").BeginObject();
    WriteCounts(json, TargetCounts());
    json.EndObject().FieldInt("loaders", loaders).FieldInt("emptyLoaders", empty);
    json.EndObject().Finish();
    return kExitOk;
  }

  std::vector<std::string> headers{"MODULE"};
  for (const CountColumn& col : kCountColumns) headers.emplace_back(col.header);
  TextTable table(headers);
  for (size_t i = 1; i < headers.size(); ++i) table.AlignRight(i);
  for (size_t i = 0; i < modules.size(); ++i) table.AddRow(CountCells(modules[i]->name, rows[i]));
  table.AddRule();
  table.AddRow(CountCells("total", total));
  table.AddRow(CountCells("complete catalogue", TargetCounts()));
  table.Print(inv.out);
  inv.out << "\nloaders: " << loaders << " (" << empty << " register nothing)\n\n";

  // Types declared per module against the complete catalogue.
  TextTable progress({"MODULE", "TYPES", "OF", "DONE"});
  for (size_t i = 1; i < 4; ++i) progress.AlignRight(i);
  for (size_t i = 0; i < modules.size(); ++i) {
    long long have = rows[i].managed + rows[i].data + rows[i].fault + rows[i].enums;
    long long want = TargetTypes(modules[i]->name);
    progress.AddRow({modules[i]->name, std::to_string(have), std::to_string(want),
                     want ? std::to_string(have * 100 / want) + "%" : "-"});
  }
  progress.Print(inv.out);
  return kExitOk;
}

}  // namespace kortypes
