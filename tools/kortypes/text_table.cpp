#include "text_table.h"

#include <algorithm>

namespace kortypes {

void TextTable::AlignRight(size_t column) {
  if (rightAligned_.size() <= column) rightAligned_.resize(column + 1, false);
  rightAligned_[column] = true;
}

void TextTable::AddRow(std::vector<std::string> cells) {
  cells.resize(std::max(cells.size(), headers_.size()));
  rows_.push_back({false, std::move(cells)});
}

void TextTable::AddRule() { rows_.push_back({true, {}}); }

void TextTable::PrintCells(std::ostream& out, const std::string& indent,
                           const std::vector<std::string>& cells,
                           const std::vector<size_t>& widths) const {
  // Trailing empty left-aligned cells would only produce trailing blanks.
  size_t last = cells.size();
  while (last > 0 && cells[last - 1].empty()) --last;
  std::string line = indent;
  for (size_t i = 0; i < last; ++i) {
    if (i > 0) line += "  ";
    size_t pad = widths[i] - std::min(widths[i], cells[i].size());
    bool right = i < rightAligned_.size() && rightAligned_[i];
    if (right) line.append(pad, ' ');
    line += cells[i];
    if (!right && i + 1 < last) line.append(pad, ' ');
  }
  out << line << '\n';
}

void TextTable::Print(std::ostream& out, const std::string& indent) const {
  size_t columns = headers_.size();
  for (const Row& row : rows_) columns = std::max(columns, row.cells.size());
  std::vector<size_t> widths(columns, 0);
  if (showHeader_) {
    for (size_t i = 0; i < headers_.size(); ++i) widths[i] = headers_[i].size();
  }
  for (const Row& row : rows_) {
    for (size_t i = 0; i < row.cells.size(); ++i) widths[i] = std::max(widths[i], row.cells[i].size());
  }
  std::vector<std::string> rule(columns);
  for (size_t i = 0; i < columns; ++i) rule[i] = std::string(widths[i], '-');

  if (showHeader_) {
    PrintCells(out, indent, headers_, widths);
    PrintCells(out, indent, rule, widths);
  }
  for (const Row& row : rows_) PrintCells(out, indent, row.rule ? rule : row.cells, widths);
}

}  // namespace kortypes
