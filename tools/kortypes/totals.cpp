#include "totals.h"

#include <dlfcn.h>
#include <elf.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

namespace kortypes {

// ---------------------------------------------------------------------------
// The totals file

namespace {

const char kExportsKey[] = "exports.total";
const char kDataFlagsKey[] = "flags.dataPropertyValues";
const char kManagedFlagsKey[] = "flags.managedPropertyValues";

bool ParseCountText(const std::string& text, long long* value) {
  if (text.empty() || text.size() > 12) return false;
  long long v = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    v = v * 10 + (ch - '0');
  }
  *value = v;
  return true;
}

bool ParseHexWord(const std::string& text, unsigned* word) {
  if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
    return false;
  }
  unsigned long v = 0;
  for (size_t i = 2; i < text.size(); ++i) {
    char c = text[i];
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) return false;
    v = v * 16 + static_cast<unsigned long>(d);
  }
  if (v > 0xFFFFFFFFul) return false;
  *word = static_cast<unsigned>(v);
  return true;
}

std::string HexWord(unsigned w) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%03x", w);
  return buffer;
}

}  // namespace

bool ParseFlagWordSet(const std::string& text, std::set<unsigned>* words) {
  std::set<unsigned> out;
  for (const std::string& item : Split(text, ',')) {
    size_t dots = item.find("..");
    unsigned first = 0, last = 0;
    if (dots == std::string::npos) {
      if (!ParseHexWord(item, &first)) return false;
      last = first;
    } else if (!ParseHexWord(item.substr(0, dots), &first) ||
               !ParseHexWord(item.substr(dots + 2), &last)) {
      return false;
    }
    if (last < first || last - first > 0x10000) return false;
    for (unsigned w = first;; ++w) {
      out.insert(w);
      if (w == last) break;
    }
  }
  *words = std::move(out);
  return true;
}

std::string FormatFlagWordSet(const std::set<unsigned>& words) {
  std::string text;
  for (auto it = words.begin(); it != words.end();) {
    unsigned first = *it, last = first;
    auto next = std::next(it);
    while (next != words.end() && *next == last + 1) last = *next++;
    if (!text.empty()) text += ',';
    if (last - first >= 2) {
      text += HexWord(first) + ".." + HexWord(last);
      it = next;
    } else {
      text += HexWord(first);
      ++it;
    }
  }
  return text;
}

bool ParseTotals(std::istream& in, const std::string& file, TotalsFile* totals, std::string* error) {
  TotalsFile t;
  t.file = file;
  std::map<std::string, int> seen;
  std::string line;
  int number = 0;
  auto fail = [&](int at, const std::string& message) {
    *error = file + ":" + std::to_string(at) + ": " + message;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields = Split(line, '\t');
    if (fields.size() < 2) return fail(number, "expected KEY<TAB>VALUE<TAB>WHAT");
    TotalsFile::Row row{fields[0], fields[1], fields.size() > 2 ? fields[2] : "", number};
    if (row.key.empty()) return fail(number, "a row without key");
    if (auto it = seen.find(row.key); it != seen.end()) {
      return fail(number, "key '" + row.key + "' already has a row (line " + std::to_string(it->second) + ")");
    }
    seen[row.key] = number;
    long long count = 0;
    std::set<unsigned> words;
    bool flagKey = row.key == kDataFlagsKey || row.key == kManagedFlagsKey;
    if (flagKey ? !ParseFlagWordSet(row.value, &words) : !ParseCountText(row.value, &count)) {
      return fail(number, "'" + row.key + "': '" + row.value + "' is not " +
                              (flagKey ? "a set of flag words (0x004,0x000..0x007)" : "a non-negative count"));
    }
    t.rows.push_back(std::move(row));
  }
  if (in.bad()) return fail(number, "read error");
  if (t.rows.empty()) return fail(0, "no totals");
  *totals = std::move(t);
  return true;
}

bool LoadTotals(const std::string& path, TotalsFile* totals, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  return ParseTotals(in, path, totals, error);
}

// ---------------------------------------------------------------------------
// Counting

CountedTotals CountTotals(const std::vector<const Module*>& modules) {
  CountedTotals c;
  for (const Quantity& q : Quantities()) c.counts[q.key] = 0;
  // The library's file, found through a record it holds. A program that
  // names a record may hold a copy of it (a copy relocation), so records in
  // the program's own file do not count.
  Dl_info self{};
  const bool haveSelf = dladdr(reinterpret_cast<const void*>(&CountExportedSymbols), &self) != 0;
  const void* libraryRecord = nullptr;
  for (const Module* m : modules) {
    for (const auto& [key, value] : CountQuantities(*m)) c.counts[key] += value;
    for (const Movel::Type* t : m->types) {
      Dl_info where{};
      if (!libraryRecord && t->GetTypeInfo() && dladdr(t->GetTypeInfo(), &where) && where.dli_fbase &&
          !(haveSelf && where.dli_fbase == self.dli_fbase)) {
        libraryRecord = t->GetTypeInfo();
      }
      const auto* structured = dynamic_cast<const Movel::StructuredType*>(t);
      if (!structured) continue;
      std::set<unsigned>& into = t->IsManaged() ? c.managedPropertyFlags : c.dataPropertyFlags;
      for (const Movel::Property& p : structured->GetOwnProperties()) into.insert(p.GetFlags());
    }
  }
  if (libraryRecord) c.exports = CountExportedSymbols(libraryRecord);
  return c;
}

namespace {

// The defined symbols of the dynamic symbol table of an ELF file of the
// host's class.
long long CountDefinedDynamicSymbols(const std::string& path) {
#if defined(__LP64__)
  using Ehdr = Elf64_Ehdr;
  using Shdr = Elf64_Shdr;
  using Sym = Elf64_Sym;
  const unsigned char elfClass = ELFCLASS64;
#else
  using Ehdr = Elf32_Ehdr;
  using Shdr = Elf32_Shdr;
  using Sym = Elf32_Sym;
  const unsigned char elfClass = ELFCLASS32;
#endif
  std::ifstream in(path, std::ios::binary);
  Ehdr eh{};
  if (!in.read(reinterpret_cast<char*>(&eh), sizeof eh)) return -1;
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != elfClass ||
      eh.e_shentsize != sizeof(Shdr) || eh.e_shnum == 0) {
    return -1;
  }
  std::vector<Shdr> sections(eh.e_shnum);
  in.seekg(static_cast<std::streamoff>(eh.e_shoff));
  if (!in.read(reinterpret_cast<char*>(sections.data()),
               static_cast<std::streamsize>(sections.size() * sizeof(Shdr)))) {
    return -1;
  }
  for (const Shdr& s : sections) {
    if (s.sh_type != SHT_DYNSYM || s.sh_entsize != sizeof(Sym)) continue;
    std::vector<Sym> symbols(s.sh_size / sizeof(Sym));
    in.seekg(static_cast<std::streamoff>(s.sh_offset));
    if (!in.read(reinterpret_cast<char*>(symbols.data()),
                 static_cast<std::streamsize>(symbols.size() * sizeof(Sym)))) {
      return -1;
    }
    long long defined = 0;
    // Entry 0 is the reserved null symbol.
    for (size_t i = 1; i < symbols.size(); ++i) defined += symbols[i].st_shndx != SHN_UNDEF;
    return defined;
  }
  return -1;
}

}  // namespace

long long CountExportedSymbols(const void* address) {
  Dl_info info{};
  if (!address || !dladdr(address, &info) || !info.dli_fname) return -1;
  return CountDefinedDynamicSymbols(info.dli_fname);
}

// ---------------------------------------------------------------------------
// Comparison

std::vector<TotalCheck> CompareTotals(const TotalsFile& totals, const CountedTotals& counted) {
  std::vector<TotalCheck> checks;
  for (const TotalsFile::Row& row : totals.rows) {
    TotalCheck c;
    c.key = row.key;
    c.what = row.what;
    c.expected = row.value;
    if (row.key == kDataFlagsKey || row.key == kManagedFlagsKey) {
      c.kind = TotalCheck::Kind::kFlagWords;
      std::set<unsigned> want;
      ParseFlagWordSet(row.value, &want);
      const std::set<unsigned>& have =
          row.key == kDataFlagsKey ? counted.dataPropertyFlags : counted.managedPropertyFlags;
      std::set<unsigned> extra, missing;
      for (unsigned w : have) {
        if (!want.count(w)) extra.insert(w);
      }
      for (unsigned w : want) {
        if (!have.count(w)) missing.insert(w);
      }
      c.counted = FormatFlagWordSet(have);
      c.difference = static_cast<long long>(extra.size() + missing.size());
      if (!extra.empty()) c.note += "not allowed: " + FormatFlagWordSet(extra);
      if (!missing.empty()) {
        c.note += std::string(c.note.empty() ? "" : "; ") + "never used: " + FormatFlagWordSet(missing);
      }
      c.ok = extra.empty() && missing.empty();
    } else {
      long long want = 0;
      ParseCountText(row.value, &want);
      long long have = -1;
      if (row.key == kExportsKey) {
        c.kind = TotalCheck::Kind::kCeiling;
        have = counted.exports;
      } else if (auto it = counted.counts.find(row.key); it != counted.counts.end()) {
        c.kind = TotalCheck::Kind::kCount;
        have = it->second;
      }
      if (c.kind == TotalCheck::Kind::kUnknown) {
        c.counted = "-";
        c.note = "not a quantity kortypes counts";
      } else if (have < 0) {
        c.counted = "-";
        c.note = "cannot be counted here";
      } else {
        c.counted = std::to_string(have);
        c.difference = have - want;
        if (c.kind == TotalCheck::Kind::kCeiling) {
          c.ok = have <= want;
          c.note = c.ok ? "ceiling: " + std::to_string(want - have) + " below it" : "over the ceiling";
        } else {
          c.ok = have == want;
        }
      }
    }
    checks.push_back(std::move(c));
  }
  return checks;
}

}  // namespace kortypes
