// The catalogue budget: how much of each counted quantity every module may
// declare once the catalogue is complete, and the comparison of what the
// registered types declare today against it.
//
// The budget file is tab-separated text. Lines starting with '#' are
// comments, except the one header line "# module<TAB>KEY<TAB>KEY...", which
// must come before the first row. Every other non-empty line is a row: a
// module name, then one non-negative integer per key.
#pragma once

#include <istream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue.h"

namespace kortypes {

// The quantities `stats` can count per module from the registered types,
// in display order, keyed as in the budget file ("properties.data",
// "flags.secret.params", ...).
struct Quantity {
  const char* key;
  const char* what;
};
const std::vector<Quantity>& Quantities();
bool IsQuantity(std::string_view key);

// Every quantity counted over the types of one module (keys of Quantities(),
// all present, zero when nothing counts).
using QuantityCounts = std::map<std::string, long long>;
QuantityCounts CountQuantities(const Module& module);

struct Budget {
  struct Row {
    std::string module;
    std::vector<long long> values;  // one per column
    int line = 0;
  };
  std::string file;
  std::vector<std::string> columns;
  std::vector<Row> rows;

  const Row* Find(std::string_view module) const;
  // Sum of one column over all rows.
  long long ColumnTotal(size_t column) const;
};

// Reads a budget. On failure returns false and sets *error to
// "FILE:LINE: message" (line 0 when the problem is the whole file).
bool ParseBudget(std::istream& in, const std::string& file, Budget* budget, std::string* error);
bool LoadBudget(const std::string& path, Budget* budget, std::string* error);

// One column of one module where the declared count exceeds the budget.
struct Overrun {
  std::string module, column;
  long long declared, budget;
};

// What the registered modules declare against a budget.
struct BudgetComparison {
  struct ModuleRow {
    std::string module;
    std::vector<long long> declared;  // one per budget column
    const Budget::Row* budget;        // null when the budget has no row for it
    std::vector<std::string> over;    // columns over budget
  };
  std::vector<ModuleRow> modules;        // registered modules, in the given order
  std::vector<Overrun> overruns;         // in module order, then column order
  std::vector<std::string> unbudgeted;   // registered modules without a budget row
  std::vector<std::string> unknown;      // budget rows naming no registered module
  std::vector<long long> declaredTotal;  // per column, over the registered modules

  // True when no module is over budget, every module has a row and every
  // row names a module.
  bool Fits() const { return overruns.empty() && unbudgeted.empty() && unknown.empty(); }
};

// declared: per registered module (in order), its counts. A column the
// counts lack counts as 0.
BudgetComparison CompareWithBudget(
    const Budget& budget, const std::vector<std::pair<std::string, QuantityCounts>>& declared);

}  // namespace kortypes
