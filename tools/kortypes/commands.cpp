#include "commands.h"
#include "targets.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "budget.h"
#include "catalogue.h"
#include "json_writer.h"
#include "text_table.h"
#include "totals.h"

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
      {"describe", "NAME | --all", "one type in detail, by wire or WSDL name; or every type", RunDescribe},
      {"versions", "[--namespace NS] | --is A B",
       "a version table (\"kor\" by default), or whether A is B or descends from it", RunVersions},
      {"stats", "[--module M] [--budget F] [--totals [--totals-file F]] [--check]",
       "counts per module against the catalogue budget; --totals: every catalogue total", RunStats},
      {"demo", "[--connect URL [--wire xml|json]]",
       "a client and an in-process server talking through stubs, or the client against URL",
       RunDemo, false},
      {"serve", "[--port N] [--host H] [--threads N] [--datacenters N --clusters N --hosts N --vms N]",
       "serves the demo server's objects over HTTP until SIGINT or SIGTERM", RunServe},
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
         "  --json     output for scripts (one JSON document on stdout); not for demo\n"
         "  --help     this text; after a command, that command's usage\n"
         "  --version  the tool's version\n\n"
         "exit status: 0 success, 1 not found (or \"no\" for versions --is, or over budget for\n"
         "             stats --check), 2 usage error (or an unreadable budget)\n";
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
    s << (command && !command->json ? "\n" : " [--json]\n");
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
    if (name == "--json" && command && !command->json) {
      inv.err << "kortypes " << inv.command << ": prints text only; --json is not available\n";
      usage(inv.err);
      return kExitUsage;
    }
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

// Headers are short so that the table fits 100 columns; kCountLegend
// spells them out under the table.
const CountColumn kCountColumns[] = {
    {"MO", "managed", &Counts::managed},
    {"DO", "data", &Counts::data},
    {"FLT", "fault", &Counts::fault},
    {"ENUM", "enum", &Counts::enums},
    {"DO P", "dataObjectProperties", &Counts::dataProperties},
    {"MO P", "managedObjectProperties", &Counts::managedProperties},
    {"METH", "methods", &Counts::methods},
    {"PARAM", "parameters", &Counts::parameters},
    {"ENTR", "methodObjectEntries", &Counts::methodObjects},
    {"ARR", "arrayProperties", &Counts::arrayProperties},
    {"OPT", "optionalProperties", &Counts::optionalProperties},
};

const char kCountLegend[] =
    "MO/DO/FLT/ENUM: managed, data, fault and enumeration types; DO P/MO P: own properties of\n"
    "data and fault / managed types; METH: methods; PARAM: their parameters; ENTR: method-object\n"
    "entries (methods and property reads); ARR/OPT: properties with the array / optional bit\n";

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

// Budget support for stats.

#ifndef KORTYPES_BUDGET_FILE
#define KORTYPES_BUDGET_FILE ""
#endif

long long ColumnIndex(const Budget& budget, const char* key) {
  for (size_t i = 0; i < budget.columns.size(); ++i) {
    if (budget.columns[i] == key) return static_cast<long long>(i);
  }
  return -1;
}

void WriteKeyedValues(JsonWriter& json, const std::vector<std::string>& keys,
                      const std::vector<long long>& values) {
  json.BeginObject();
  for (size_t i = 0; i < keys.size(); ++i) json.FieldInt(keys[i], values[i]);
  json.EndObject();
}

void WriteBudgetJson(JsonWriter& json, const Budget& budget, const BudgetComparison& cmp) {
  json.BeginObject().FieldString("file", budget.file).FieldStrings("columns", budget.columns);
  json.Key("modules").BeginArray();
  for (const BudgetComparison::ModuleRow& m : cmp.modules) {
    json.BeginObject().FieldString("name", m.module).Key("declared");
    WriteKeyedValues(json, budget.columns, m.declared);
    json.Key("budget");
    if (m.budget) {
      WriteKeyedValues(json, budget.columns, m.budget->values);
    } else {
      json.Null();
    }
    json.FieldStrings("over", m.over).EndObject();
  }
  json.EndArray().Key("total").BeginObject().Key("declared");
  WriteKeyedValues(json, budget.columns, cmp.declaredTotal);
  std::vector<long long> budgetTotal;
  for (size_t i = 0; i < budget.columns.size(); ++i) budgetTotal.push_back(budget.ColumnTotal(i));
  json.Key("budget");
  WriteKeyedValues(json, budget.columns, budgetTotal);
  json.EndObject().Key("overruns").BeginArray();
  for (const Overrun& o : cmp.overruns) {
    json.BeginObject()
        .FieldString("module", o.module)
        .FieldString("column", o.column)
        .FieldInt("declared", o.declared)
        .FieldInt("budget", o.budget)
        .EndObject();
  }
  json.EndArray()
      .FieldStrings("unbudgetedModules", cmp.unbudgeted)
      .FieldStrings("unknownModules", cmp.unknown)
      .FieldBool("fits", cmp.Fits())
      .EndObject();
}

#ifndef KORTYPES_TOTALS_FILE
#define KORTYPES_TOTALS_FILE ""
#endif

const char* KindLabel(TotalCheck::Kind kind) {
  switch (kind) {
    case TotalCheck::Kind::kCount: return "count";
    case TotalCheck::Kind::kCeiling: return "ceiling";
    case TotalCheck::Kind::kFlagWords: return "flag words";
    case TotalCheck::Kind::kUnknown: break;
  }
  return "unknown";
}

// stats --totals: every total of the complete catalogue beside what the
// registered types add up to, and the difference.
int RunTotals(const Invocation& inv, const Options& opt) {
  if (opt.Value("--module") || opt.Value("--budget")) {
    inv.err << "kortypes stats: --totals counts the whole catalogue; it takes no --module or --budget\n";
    return kExitUsage;
  }
  const std::string* named = opt.Value("--totals-file");
  std::string path = named ? *named : KORTYPES_TOTALS_FILE;
  if (path.empty()) {
    inv.err << "kortypes stats: --totals needs --totals-file (no totals file is built in)\n";
    return kExitUsage;
  }
  TotalsFile totals;
  std::string error;
  if (!LoadTotals(path, &totals, &error)) {
    inv.err << "kortypes stats: " << error << '\n';
    return kExitUsage;
  }
  Catalogue catalogue;
  std::vector<TotalCheck> checks = CompareTotals(totals, CountTotals(catalogue.Modules()));
  bool hold = AllHold(checks);
  int status = opt.Has("--check") && !hold ? kExitNotFound : kExitOk;

  if (opt.Has("--json")) {
    JsonWriter json(inv.out);
    json.BeginObject().FieldString("file", totals.file).Key("totals").BeginArray();
    for (const TotalCheck& c : checks) {
      json.BeginObject()
          .FieldString("key", c.key)
          .FieldString("kind", KindLabel(c.kind))
          .FieldString("expected", c.expected)
          .FieldString("counted", c.counted)
          .FieldInt("difference", c.difference)
          .FieldBool("holds", c.ok)
          .FieldString("note", c.note)
          .FieldString("what", c.what)
          .EndObject();
    }
    long long failing = 0;
    for (const TotalCheck& c : checks) failing += c.ok ? 0 : 1;
    json.EndArray().FieldInt("failing", failing).FieldBool("allHold", hold).EndObject().Finish();
    return status;
  }

  inv.out << "Totals of the complete catalogue (" << totals.file
          << ") against the registered types:\n\n";
  TextTable table({"TOTAL", "EXPECTED", "COUNTED", "DIFF", "", "NOTE"});
  for (size_t i = 1; i < 4; ++i) table.AlignRight(i);
  for (const TotalCheck& c : checks) {
    std::string diff = c.kind == TotalCheck::Kind::kFlagWords || c.counted == "-"
                           ? (c.ok ? "0" : "-")
                           : (c.difference > 0 ? "+" : "") + std::to_string(c.difference);
    table.AddRow({c.key, c.expected, c.counted, diff, c.ok ? "ok" : "DIFFERS", c.note.empty() ? "-" : c.note});
  }
  table.Print(inv.out);
  long long failing = 0;
  for (const TotalCheck& c : checks) failing += c.ok ? 0 : 1;
  inv.out << '\n'
          << (hold ? "every total holds" : std::to_string(failing) + " of " +
                                               std::to_string(checks.size()) + " totals differ")
          << '\n';
  return status;
}

// Per module, the main quantities as declared/budget; then every column
// summed over the modules; then what does not fit.
void PrintBudget(std::ostream& out, const Budget& budget, const BudgetComparison& cmp,
                 bool allModules) {
  out << "\nDeclared against the budget in " << budget.file << ":\n";
  static const char* const kShown[][2] = {
      {"TYPES", "types.total"},       {"DO PROPS", "properties.data"},
      {"MO PROPS", "properties.managed"}, {"METHODS", "methods"},
      {"PARAMS", "parameters"},
  };
  std::vector<std::string> headers{"MODULE"};
  std::vector<long long> shownColumns;
  for (const auto& shown : kShown) {
    long long column = ColumnIndex(budget, shown[1]);
    // types.total is rarely a column; the four kinds make it up.
    if (column < 0 && std::string(shown[1]) != "types.total") continue;
    headers.emplace_back(shown[0]);
    shownColumns.push_back(column);
  }
  headers.emplace_back("DONE");
  headers.emplace_back("OVER");
  TextTable table(headers);
  for (size_t i = 1; i + 1 < headers.size(); ++i) table.AlignRight(i);
  const char* const kKinds[] = {"types.managed", "types.data", "types.fault", "types.enum"};
  auto typeCells = [&](const std::vector<long long>& declared, const std::vector<long long>* limit,
                       long long* have, long long* want) {
    *have = 0, *want = 0;
    bool complete = true;
    for (const char* kind : kKinds) {
      long long c = ColumnIndex(budget, kind);
      if (c < 0) {
        complete = false;
        continue;
      }
      *have += declared[static_cast<size_t>(c)];
      if (limit) *want += (*limit)[static_cast<size_t>(c)];
    }
    return complete;
  };
  auto rowCells = [&](const std::string& name, const std::vector<long long>& declared,
                      const std::vector<long long>* limit, std::string over) {
    std::vector<std::string> cells{name};
    long long have = 0, want = 0;
    bool typesBudgeted = typeCells(declared, limit, &have, &want);
    for (long long column : shownColumns) {
      if (column < 0) {
        cells.push_back(typesBudgeted && limit ? std::to_string(have) + "/" + std::to_string(want)
                                               : std::to_string(have));
        continue;
      }
      size_t c = static_cast<size_t>(column);
      cells.push_back(limit ? std::to_string(declared[c]) + "/" + std::to_string((*limit)[c])
                            : std::to_string(declared[c]));
    }
    cells.push_back(typesBudgeted && limit && want ? std::to_string(have * 100 / want) + "%" : "-");
    cells.push_back(std::move(over));
    return cells;
  };
  for (const BudgetComparison::ModuleRow& m : cmp.modules) {
    std::string over = m.budget ? (m.over.empty() ? "-" : std::to_string(m.over.size())) : "no budget";
    table.AddRow(rowCells(m.module, m.declared, m.budget ? &m.budget->values : nullptr, over));
  }
  if (allModules) {
    std::vector<long long> budgetTotal;
    for (size_t i = 0; i < budget.columns.size(); ++i) budgetTotal.push_back(budget.ColumnTotal(i));
    table.AddRule();
    table.AddRow(rowCells("total", cmp.declaredTotal, &budgetTotal,
                          cmp.overruns.empty() ? "-" : std::to_string(cmp.overruns.size())));
  }
  table.Print(out);

  // Every column: declared and budget over the modules shown.
  out << '\n';
  TextTable columns({"COLUMN", "DECLARED", "BUDGET", "LEFT", "OVER IN"});
  for (size_t i = 1; i < 4; ++i) columns.AlignRight(i);
  for (size_t i = 0; i < budget.columns.size(); ++i) {
    long long have = 0, want = 0;
    std::vector<std::string> overIn;
    for (const BudgetComparison::ModuleRow& m : cmp.modules) {
      have += m.declared[i];
      if (m.budget) want += m.budget->values[i];
      if (std::find(m.over.begin(), m.over.end(), budget.columns[i]) != m.over.end()) {
        overIn.push_back(m.module);
      }
    }
    if (allModules) want = budget.ColumnTotal(i);
    // A few names, then how many more, to keep the line short.
    if (overIn.size() > 3) {
      size_t more = overIn.size() - 3;
      overIn.resize(3);
      overIn.push_back("+" + std::to_string(more));
    }
    columns.AddRow({budget.columns[i], std::to_string(have), std::to_string(want),
                    std::to_string(want - have), JoinOrDash(overIn)});
  }
  columns.Print(out);

  for (const Overrun& o : cmp.overruns) {
    out << "over budget: " << o.module << ' ' << o.column << ": declares " << o.declared
        << ", budget " << o.budget << '\n';
  }
  for (const std::string& m : cmp.unbudgeted) out << "no budget row: " << m << '\n';
  if (allModules) {
    for (const std::string& m : cmp.unknown) out << "budget row for no registered module: " << m << '\n';
  }
}

}  // namespace

int RunStats(const Invocation& inv) {
  Options opt;
  if (int status = ParseOptions(inv, {"--check", "--totals"}, {"--budget", "--module", "--totals-file"}, 0,
                                0, &opt);
      status >= 0) {
    return status;
  }
  if (opt.Has("--totals")) return RunTotals(inv, opt);
  if (opt.Value("--totals-file")) {
    inv.err << "kortypes stats: --totals-file goes with --totals\n";
    return kExitUsage;
  }
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

  // The budget: the file named by --budget, else the one built in. A missing
  // built-in file (an installed tool) only means there is nothing to compare
  // with; a named file that cannot be read, or any malformed file, is an error.
  const std::string* named = opt.Value("--budget");
  Budget budget;
  bool haveBudget = false;
  std::string budgetNote;
  std::string path = named ? *named : KORTYPES_BUDGET_FILE;
  std::string error;
  if (!path.empty() && LoadBudget(path, &budget, &error)) {
    haveBudget = true;
  } else if (named || (!path.empty() && std::ifstream(path).good())) {
    inv.err << "kortypes stats: " << error << '\n';
    return kExitUsage;
  } else {
    budgetNote = path.empty() ? "no budget file built in" : error;
  }
  if (opt.Has("--check") && !haveBudget) {
    inv.err << "kortypes stats: --check needs a budget (" << budgetNote << ")\n";
    return kExitUsage;
  }

  // --module narrows the output to one module.
  const std::string* only = opt.Value("--module");
  if (only && !catalogue.HasModule(*only)) {
    inv.err << "kortypes stats: unknown module '" << *only << "'; modules with types:";
    for (const Module* m : modules) {
      if (!m->types.empty()) inv.err << ' ' << m->name;
    }
    inv.err << '\n';
    return kExitNotFound;
  }
  std::vector<size_t> shown;
  for (size_t i = 0; i < modules.size(); ++i) {
    if (!only || modules[i]->name == *only) shown.push_back(i);
  }

  BudgetComparison cmp;
  if (haveBudget) {
    std::vector<std::pair<std::string, QuantityCounts>> declared;
    for (size_t i : shown) declared.emplace_back(modules[i]->name, CountQuantities(*modules[i]));
    cmp = CompareWithBudget(budget, declared);
    if (only) cmp.unknown.clear();  // rows of the other modules are not "unknown"
  }
  int status = opt.Has("--check") && !cmp.Fits() ? kExitNotFound : kExitOk;

  if (opt.Has("--json")) {
    JsonWriter json(inv.out);
    json.BeginObject().Key("modules").BeginArray();
    for (size_t i : shown) {
      json.BeginObject().FieldString("name", modules[i]->name).FieldInt("loader", modules[i]->loader);
      WriteCounts(json, rows[i]);
      json.EndObject();
    }
    json.EndArray().Key("total").BeginObject();
    WriteCounts(json, total);
    json.EndObject().Key("completeCatalogue").BeginObject();
    WriteCounts(json, TargetCounts());
    json.EndObject().FieldInt("loaders", loaders).FieldInt("emptyLoaders", empty).Key("budget");
    if (haveBudget) {
      WriteBudgetJson(json, budget, cmp);
    } else {
      json.Null();
    }
    json.EndObject().Finish();
    return status;
  }

  std::vector<std::string> headers{"MODULE"};
  for (const CountColumn& col : kCountColumns) headers.emplace_back(col.header);
  TextTable table(headers);
  for (size_t i = 1; i < headers.size(); ++i) table.AlignRight(i);
  for (size_t i : shown) table.AddRow(CountCells(modules[i]->name, rows[i]));
  if (!only) {
    table.AddRule();
    table.AddRow(CountCells("total", total));
    table.AddRow(CountCells("complete catalogue", TargetCounts()));
  }
  table.Print(inv.out);
  inv.out << kCountLegend;
  if (!only) inv.out << "\nloaders: " << loaders << " (" << empty << " register nothing)\n";

  if (haveBudget) {
    PrintBudget(inv.out, budget, cmp, !only);
    return status;
  }

  // Without a budget: types declared per module against the complete catalogue.
  inv.out << "\nbudget: none (" << budgetNote << ")\n\n";
  TextTable progress({"MODULE", "TYPES", "OF", "DONE"});
  for (size_t i = 1; i < 4; ++i) progress.AlignRight(i);
  for (size_t i : shown) {
    long long have = rows[i].managed + rows[i].data + rows[i].fault + rows[i].enums;
    long long want = TargetTypes(modules[i]->name);
    progress.AddRow({modules[i]->name, std::to_string(have), std::to_string(want),
                     want ? std::to_string(have * 100 / want) + "%" : "-"});
  }
  progress.Print(inv.out);
  return status;
}

}  // namespace kortypes
