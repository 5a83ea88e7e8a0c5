#include "budget.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

#include "movel/builtin.h"

namespace kortypes {

const std::vector<Quantity>& Quantities() {
  static const std::vector<Quantity> kQuantities = {
      {"types.total", "types"},
      {"types.managed", "managed types"},
      {"types.data", "data types (faults not included)"},
      {"types.fault", "fault types"},
      {"types.enum", "enumerations"},
      {"properties.data", "own properties of data and fault types"},
      {"properties.managed", "own properties of managed types"},
      {"methods", "own methods of managed types"},
      {"parameters", "parameters of those methods"},
      {"methods.task", "methods flagged task"},
      {"methods.internal", "methods flagged internal"},
      {"methods.withPrivilegeOverrides", "methods carrying privilege overrides"},
      {"methodConstants.types", "managed types with at least one own method"},
      {"methodObjects.entries", "method-object entries (own methods and property reads)"},
      {"parents.dynamicData", "data and fault types whose parent is DynamicData"},
      {"parents.managedObject", "managed types whose parent is ManagedObject"},
      {"parents.runtimeFault", "fault types whose parent is RuntimeFault"},
      {"parents.notEnoughLicenses", "fault types whose parent is NotEnoughLicenses"},
      {"parents.invalidArgument", "fault types whose parent is InvalidArgument"},
      {"parents.securityError", "fault types whose parent is SecurityError"},
      {"parents.methodFault", "fault types whose parent is MethodFault"},
      {"parents.notSupported", "fault types whose parent is NotSupported"},
      {"redeclaresDynamicProperty", "types that redeclare dynamicProperty"},
      {"managedProperties.privilegeNull", "managed-type properties without privilege"},
      {"dataProperties.withPrivilege", "data-type properties with a privilege"},
      {"dataProperties.localizable", "data-type properties flagged localizable"},
      {"flags.array.dataProps", "data properties with the array bit"},
      {"flags.array.managedProps", "managed properties with the array bit"},
      {"flags.array.params", "parameters with the array bit"},
      {"flags.array.results", "method results with the array bit"},
      {"flags.optional.dataProps", "data properties with the optional bit"},
      {"flags.optional.managedProps", "managed properties with the optional bit"},
      {"flags.optional.params", "parameters with the optional bit"},
      {"flags.optional.results", "method results with the optional bit"},
      {"flags.readonly.dataProps", "data properties with the read-only bit"},
      {"flags.readonly.managedProps", "managed properties with the read-only bit"},
      {"flags.linkable.dataProps", "data properties with the linkable bit"},
      {"flags.link.dataProps", "data properties with the link bit"},
      {"flags.secret.dataProps", "data properties with the secret bit"},
      {"flags.secret.params", "parameters with the secret bit"},
      {"flags.secret.results", "method results with the secret bit"},
      {"flags.stat.dataProps", "data properties with the statistics bit"},
      {"flags.stat.managedProps", "managed properties with the statistics bit"},
  };
  return kQuantities;
}

bool IsQuantity(std::string_view key) {
  for (const Quantity& q : Quantities()) {
    if (key == q.key) return true;
  }
  return false;
}

namespace {

// Fault types whose parent is one of the runtime's fault types, by parent.
struct RuntimeParent {
  const Movel::TypeInfo* info;
  const char* key;
};

const RuntimeParent kFaultParents[] = {
    {&gTydefRuntimeFaultTypeInfo, "parents.runtimeFault"},
    {&gTydefFaultNotEnoughLicensesTypeInfo, "parents.notEnoughLicenses"},
    {&gTydefFaultInvalidArgumentTypeInfo, "parents.invalidArgument"},
    {&gTydefFaultSecurityErrorTypeInfo, "parents.securityError"},
    {&gTydefMethodFaultTypeInfo, "parents.methodFault"},
    {&gTydefFaultNotSupportedTypeInfo, "parents.notSupported"},
};

void CountFlags(QuantityCounts& c, Movel::Word flags, const char* suffix) {
  const std::string s = suffix;
  if (flags & Movel::kFlagArray) ++c["flags.array." + s];
  if (flags & Movel::kFlagOptional) ++c["flags.optional." + s];
  if (flags & Movel::kFlagReadOnly) ++c["flags.readonly." + s];
  if (flags & Movel::kFlagLinkable) ++c["flags.linkable." + s];
  if (flags & Movel::kFlagLink) ++c["flags.link." + s];
  if (flags & Movel::kFlagSecret) ++c["flags.secret." + s];
  if (flags & Movel::kFlagStatistics) ++c["flags.stat." + s];
}

void CountType(QuantityCounts& c, const Movel::Type* t) {
  ++c["types.total"];
  switch (t->GetKind()) {
    case Movel::kTypeKindManaged: ++c["types.managed"]; break;
    case Movel::kTypeKindData: ++c["types.data"]; break;
    case Movel::kTypeKindFault: ++c["types.fault"]; break;
    case Movel::kTypeKindEnum: ++c["types.enum"]; break;
    default: break;
  }

  if (const auto* data = dynamic_cast<const Movel::DataObjectType*>(t)) {
    const Movel::TypeInfo* parent = data->GetParentTypeInfo();
    if (parent == &gTydefDynamicDataTypeInfo) ++c["parents.dynamicData"];
    if (t->IsFault()) {
      for (const RuntimeParent& p : kFaultParents) {
        if (parent == p.info) ++c[p.key];
      }
    }
    if (data->RedeclaresDynamicProperty()) ++c["redeclaresDynamicProperty"];
    for (const Movel::Property& p : data->GetOwnProperties()) {
      ++c["properties.data"];
      if (p.GetPrivilegeId()) ++c["dataProperties.withPrivilege"];
      if (p.IsLocalizable()) ++c["dataProperties.localizable"];
      CountFlags(c, p.GetFlags(), "dataProps");
    }
    return;
  }

  const auto* managed = dynamic_cast<const Movel::ManagedObjectType*>(t);
  if (!managed) return;
  if (managed->GetParentTypeInfo() == &gTydefManagedObjectTypeInfo) ++c["parents.managedObject"];
  for (const Movel::Property& p : managed->GetOwnProperties()) {
    ++c["properties.managed"];
    if (!p.GetPrivilegeId()) ++c["managedProperties.privilegeNull"];
    CountFlags(c, p.GetFlags(), "managedProps");
  }
  const std::vector<Movel::ManagedMethod*>& entries = managed->GetMethodObjects();
  c["methodObjects.entries"] += static_cast<long long>(entries.size());
  if (managed->GetOwnMethodCount() > 0) ++c["methodConstants.types"];
  for (const Movel::ManagedMethod* m : entries) {
    if (m->IsPropertyRead()) continue;
    ++c["methods"];
    if (m->IsTask()) ++c["methods.task"];
    if (m->IsInternal()) ++c["methods.internal"];
    const Movel::PrivilegeOverride* overrides = m->GetPrivilegeOverrides();
    if (overrides && overrides->typeName) ++c["methods.withPrivilegeOverrides"];
    for (const Movel::Parameter& param : m->GetParameters()) {
      ++c["parameters"];
      CountFlags(c, param.GetFlags(), "params");
    }
    // A method without result has a result entry with null type and no flags.
    if (m->GetResult().GetTypeInfo()) CountFlags(c, m->GetResult().GetFlags(), "results");
  }
}

}  // namespace

QuantityCounts CountQuantities(const Module& module) {
  QuantityCounts c;
  for (const Quantity& q : Quantities()) c[q.key] = 0;
  for (const Movel::Type* t : module.types) CountType(c, t);
  // Keep only the listed quantities: flag combinations that no total names
  // (link bits on parameters, say) are not quantities of the catalogue.
  for (auto it = c.begin(); it != c.end();) {
    it = IsQuantity(it->first) ? std::next(it) : c.erase(it);
  }
  return c;
}

// ---------------------------------------------------------------------------
// The budget file

const Budget::Row* Budget::Find(std::string_view module) const {
  for (const Row& r : rows) {
    if (r.module == module) return &r;
  }
  return nullptr;
}

long long Budget::ColumnTotal(size_t column) const {
  long long sum = 0;
  for (const Row& r : rows) sum += r.values.at(column);
  return sum;
}

namespace {

// A non-negative decimal integer, digits only.
bool ParseCount(const std::string& text, long long* value) {
  if (text.empty() || text.size() > 12) return false;
  long long v = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    v = v * 10 + (ch - '0');
  }
  *value = v;
  return true;
}

}  // namespace

bool ParseBudget(std::istream& in, const std::string& file, Budget* budget, std::string* error) {
  Budget b;
  b.file = file;
  bool haveHeader = false;
  std::set<std::string> seenColumns;
  std::string line;
  int number = 0;
  auto fail = [&](int at, const std::string& message) {
    *error = file + ":" + std::to_string(at) + ": " + message;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line[0] == '#') {
      // The header is the comment whose first field is "module".
      std::string text = line.substr(1);
      text.erase(0, text.find_first_not_of(' '));
      if (text.compare(0, 7, "module\t") != 0 && text != "module") continue;
      if (haveHeader) return fail(number, "a second header line");
      if (!b.rows.empty()) return fail(number, "the header line must come before the first row");
      std::vector<std::string> fields = Split(text, '\t');
      if (fields.size() < 2) return fail(number, "the header names no column");
      for (size_t i = 1; i < fields.size(); ++i) {
        const std::string& key = fields[i];
        if (!IsQuantity(key)) return fail(number, "'" + key + "' is not a quantity kortypes counts");
        if (!seenColumns.insert(key).second) return fail(number, "column '" + key + "' appears twice");
        b.columns.push_back(key);
      }
      haveHeader = true;
      continue;
    }
    if (!haveHeader) return fail(number, "a row before the header line ('# module<TAB>KEY...')");
    std::vector<std::string> fields = Split(line, '\t');
    if (fields.size() != b.columns.size() + 1) {
      return fail(number, std::to_string(fields.size() - 1) + " values for " +
                              std::to_string(b.columns.size()) + " columns");
    }
    Budget::Row row;
    row.module = fields[0];
    row.line = number;
    if (row.module.empty()) return fail(number, "a row without module name");
    if (const Budget::Row* earlier = b.Find(row.module)) {
      return fail(number, "module '" + row.module + "' already has a row (line " +
                              std::to_string(earlier->line) + ")");
    }
    for (size_t i = 1; i < fields.size(); ++i) {
      long long v = 0;
      if (!ParseCount(fields[i], &v)) {
        return fail(number, "column '" + b.columns[i - 1] + "': '" + fields[i] +
                                "' is not a non-negative integer");
      }
      row.values.push_back(v);
    }
    b.rows.push_back(std::move(row));
  }
  if (in.bad()) return fail(number, "read error");
  if (!haveHeader) return fail(0, "no header line ('# module<TAB>KEY...')");
  *budget = std::move(b);
  return true;
}

bool LoadBudget(const std::string& path, Budget* budget, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  return ParseBudget(in, path, budget, error);
}

BudgetComparison CompareWithBudget(
    const Budget& budget, const std::vector<std::pair<std::string, QuantityCounts>>& declared) {
  BudgetComparison cmp;
  cmp.declaredTotal.assign(budget.columns.size(), 0);
  std::set<std::string> registered;
  for (const auto& [module, counts] : declared) {
    registered.insert(module);
    BudgetComparison::ModuleRow row{module, {}, budget.Find(module), {}};
    for (size_t i = 0; i < budget.columns.size(); ++i) {
      auto it = counts.find(budget.columns[i]);
      long long have = it == counts.end() ? 0 : it->second;
      row.declared.push_back(have);
      cmp.declaredTotal[i] += have;
      if (row.budget && have > row.budget->values[i]) {
        row.over.push_back(budget.columns[i]);
        cmp.overruns.push_back({module, budget.columns[i], have, row.budget->values[i]});
      }
    }
    if (!row.budget) cmp.unbudgeted.push_back(module);
    cmp.modules.push_back(std::move(row));
  }
  for (const Budget::Row& r : budget.rows) {
    if (!registered.count(r.module)) cmp.unknown.push_back(r.module);
  }
  return cmp;
}

}  // namespace kortypes
