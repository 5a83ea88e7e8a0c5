// Column-aligned plain-text tables for the human-readable output.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kortypes {

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headers) : headers_(std::move(headers)) {}

  // Prints rows only, without the header line and its rule.
  void HideHeader() { showHeader_ = false; }
  // Numbers read better right-aligned.
  void AlignRight(size_t column);
  // A row with fewer cells than headers is padded with empty cells.
  void AddRow(std::vector<std::string> cells);
  // A rule line (dashes across every column) before the next row.
  void AddRule();
  size_t RowCount() const noexcept { return rows_.size(); }

  // Prints the header, a rule and the rows, each line starting with indent.
  // Columns are separated by two spaces; lines carry no trailing blanks.
  void Print(std::ostream& out, const std::string& indent = "") const;

 private:
  struct Row {
    bool rule;
    std::vector<std::string> cells;
  };
  void PrintCells(std::ostream& out, const std::string& indent, const std::vector<std::string>& cells,
                  const std::vector<size_t>& widths) const;

  std::vector<std::string> headers_;
  std::vector<bool> rightAligned_;
  bool showHeader_ = true;
  std::vector<Row> rows_;
};

}  // namespace kortypes
