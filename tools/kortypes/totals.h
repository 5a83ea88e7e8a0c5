// The totals of the complete catalogue, and the comparison of what the
// registered types add up to against them.
//
// The totals file is tab-separated text: "KEY<TAB>VALUE<TAB>WHAT" per line,
// '#' starts a comment line. A value is a count ("6884"), or a set of flag
// words ("0x000..0x007,0x017,0x022"), written as hexadecimal words and
// inclusive ranges of them. The key "exports.total" is a ceiling: the
// library may export fewer functions and data, never more.
#pragma once

#include <istream>
#include <set>
#include <string>
#include <vector>

#include "budget.h"
#include "catalogue.h"

namespace kortypes {

struct TotalsFile {
  struct Row {
    std::string key;
    std::string value;  // as written
    std::string what;
    int line = 0;
  };
  std::string file;
  std::vector<Row> rows;  // in file order, keys unique
};

// Reads a totals file. On failure returns false and sets *error to
// "FILE:LINE: message" (line 0 when the problem is the whole file).
bool ParseTotals(std::istream& in, const std::string& file, TotalsFile* totals, std::string* error);
bool LoadTotals(const std::string& path, TotalsFile* totals, std::string* error);

// "0x000..0x003,0x017" -> {0, 1, 2, 3, 0x17}. False for malformed text, a
// range running backwards or one wider than 0x10000 words.
bool ParseFlagWordSet(const std::string& text, std::set<unsigned>* words);
// The inverse, with runs of three or more consecutive words as a range.
std::string FormatFlagWordSet(const std::set<unsigned>& words);

// What the registered types add up to.
struct CountedTotals {
  QuantityCounts counts;                 // every quantity of Quantities()
  std::set<unsigned> dataPropertyFlags;  // flag words occurring on data and fault properties
  std::set<unsigned> managedPropertyFlags;
  long long exports = -1;  // defined dynamic symbols of the library, -1 when unknown
};
CountedTotals CountTotals(const std::vector<const Module*>& modules);

// Exported (defined) dynamic symbols of the shared object that holds
// address, read from its file's dynamic symbol table; -1 when it cannot be
// read.
long long CountExportedSymbols(const void* address);

// One row of the comparison.
struct TotalCheck {
  enum class Kind { kCount, kCeiling, kFlagWords, kUnknown };
  std::string key, what;
  Kind kind = Kind::kUnknown;
  std::string expected;  // as in the file
  std::string counted;   // as counted, in the same form
  long long difference = 0;  // counted - expected, for counts and ceilings
  std::string note;          // flag words missing or extra, "ceiling", ...
  bool ok = false;
};

std::vector<TotalCheck> CompareTotals(const TotalsFile& totals, const CountedTotals& counted);
inline bool AllHold(const std::vector<TotalCheck>& checks) {
  for (const TotalCheck& c : checks) {
    if (!c.ok) return false;
  }
  return true;
}

}  // namespace kortypes
