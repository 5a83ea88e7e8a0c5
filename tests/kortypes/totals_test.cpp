// The totals of the complete catalogue: reading the totals file, counting
// the registered types, and comparing the two.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "catalogue.h"
#include "kortypes/types/kor.AboutInfo.h"
#include "movel/type.h"
#include "totals.h"

namespace kortypes {
namespace {

bool Parse(const std::string& text, TotalsFile* totals, std::string* error) {
  std::istringstream in(text);
  return ParseTotals(in, "t.tsv", totals, error);
}

std::string Reject(const std::string& text) {
  TotalsFile totals;
  std::string error;
  EXPECT_FALSE(Parse(text, &totals, &error)) << text;
  return error;
}

TEST(TotalsFile, ReadsRowsInOrderAndSkipsComments) {
  TotalsFile t;
  std::string error;
  ASSERT_TRUE(Parse("# key\tvalue\twhat\n"
                    "types.total\t3393\tall types\r\n"
                    "\n"
                    "flags.managedPropertyValues\t0x004..0x007,0x407\twords\n"
                    "exports.total\t10\n",
                    &t, &error))
      << error;
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.rows[0].key, "types.total");
  EXPECT_EQ(t.rows[0].value, "3393");
  EXPECT_EQ(t.rows[0].what, "all types");
  EXPECT_EQ(t.rows[0].line, 2);
  EXPECT_EQ(t.rows[1].value, "0x004..0x007,0x407");
  EXPECT_EQ(t.rows[2].what, "");
}

TEST(TotalsFile, RejectsMalformedFilesNamingTheLine) {
  EXPECT_EQ(Reject("types.total\n"), "t.tsv:1: expected KEY<TAB>VALUE<TAB>WHAT");
  EXPECT_EQ(Reject("#\ntypes.total\t-1\tx\n"), "t.tsv:2: 'types.total': '-1' is not a non-negative count");
  EXPECT_EQ(Reject("a\t1\tx\na\t2\tx\n"), "t.tsv:2: key 'a' already has a row (line 1)");
  EXPECT_EQ(Reject("\t1\tx\n"), "t.tsv:1: a row without key");
  EXPECT_NE(Reject("flags.dataPropertyValues\t0x7..0x1\tx\n").find("t.tsv:1: "), std::string::npos);
  EXPECT_NE(Reject("flags.dataPropertyValues\t4\tx\n").find("set of flag words"), std::string::npos);
  EXPECT_EQ(Reject("# only comments\n"), "t.tsv:0: no totals");
  TotalsFile t;
  std::string error;
  EXPECT_FALSE(LoadTotals("/nonexistent/totals.tsv", &t, &error));
  EXPECT_NE(error.find("cannot read"), std::string::npos);
}

TEST(FlagWordSet, ParsesRangesAndFormatsThemBack) {
  std::set<unsigned> w;
  ASSERT_TRUE(ParseFlagWordSet("0x000..0x003,0x017,0x200,0x202", &w));
  EXPECT_EQ(w, (std::set<unsigned>{0, 1, 2, 3, 0x17, 0x200, 0x202}));
  EXPECT_EQ(FormatFlagWordSet(w), "0x000..0x003,0x017,0x200,0x202");
  // Two neighbours stay separate; three make a range.
  EXPECT_EQ(FormatFlagWordSet({4, 5}), "0x004,0x005");
  EXPECT_EQ(FormatFlagWordSet({4, 5, 6, 0x407}), "0x004..0x006,0x407");
  EXPECT_EQ(FormatFlagWordSet({}), "");
  for (const char* bad : {"", "4", "0x", "0xg", "0x1,,0x2", "0x5..0x1", "0x0..0x20000", "0x1..", "0x123456789"}) {
    EXPECT_FALSE(ParseFlagWordSet(bad, &w)) << bad;
  }
}

TotalsFile FileOf(const std::string& text) {
  TotalsFile t;
  std::string error;
  EXPECT_TRUE(Parse(text, &t, &error)) << error;
  return t;
}

TEST(TotalsComparison, CountsMustMatchExactly) {
  CountedTotals counted;
  counted.counts["methods"] = 10;
  counted.counts["parameters"] = 12;
  std::vector<TotalCheck> c = CompareTotals(FileOf("methods\t10\tm\nparameters\t13\tp\n"), counted);
  ASSERT_EQ(c.size(), 2u);
  EXPECT_TRUE(c[0].ok);
  EXPECT_EQ(c[0].difference, 0);
  EXPECT_EQ(c[0].kind, TotalCheck::Kind::kCount);
  EXPECT_FALSE(c[1].ok);
  EXPECT_EQ(c[1].difference, -1);
  EXPECT_EQ(c[1].counted, "12");
  EXPECT_EQ(c[1].what, "p");
  EXPECT_FALSE(AllHold(c));
}

TEST(TotalsComparison, ExportsAreACeiling) {
  CountedTotals counted;
  counted.exports = 90;
  std::vector<TotalCheck> c = CompareTotals(FileOf("exports.total\t100\te\n"), counted);
  EXPECT_EQ(c[0].kind, TotalCheck::Kind::kCeiling);
  EXPECT_TRUE(c[0].ok);
  EXPECT_EQ(c[0].difference, -10);
  counted.exports = 101;
  EXPECT_FALSE(CompareTotals(FileOf("exports.total\t100\te\n"), counted)[0].ok);
  counted.exports = -1;  // the symbol table could not be read
  c = CompareTotals(FileOf("exports.total\t100\te\n"), counted);
  EXPECT_FALSE(c[0].ok);
  EXPECT_EQ(c[0].counted, "-");
}

TEST(TotalsComparison, FlagWordsMustBeExactlyTheListedOnes) {
  CountedTotals counted;
  counted.managedPropertyFlags = {4, 5, 6, 7, 0x407};
  EXPECT_TRUE(CompareTotals(FileOf("flags.managedPropertyValues\t0x004..0x007,0x407\tw\n"), counted)[0].ok);
  counted.managedPropertyFlags = {4, 5, 0x13};
  TotalCheck c = CompareTotals(FileOf("flags.managedPropertyValues\t0x004..0x007\tw\n"), counted)[0];
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.counted, "0x004,0x005,0x013");
  EXPECT_EQ(c.note, "not allowed: 0x013; never used: 0x006,0x007");
  EXPECT_EQ(c.difference, 3);
}

TEST(TotalsComparison, UnknownKeysNeverHold) {
  std::vector<TotalCheck> c = CompareTotals(FileOf("no.such.total\t0\tx\n"), CountedTotals{});
  EXPECT_EQ(c[0].kind, TotalCheck::Kind::kUnknown);
  EXPECT_FALSE(c[0].ok);
}

// Counting from registered types; AboutInfo's declaration fixes the numbers.
TEST(TotalsCounting, AboutInfo) {
  const Movel::Type* about = Movel::GetType(&gKorAboutInfoTypeInfo);
  ASSERT_NE(about, nullptr);
  Module m;
  m.name = "test";
  m.types = {about};
  CountedTotals c = CountTotals({&m});
  EXPECT_EQ(c.counts["types.data"], 1);
  EXPECT_EQ(c.counts["properties.data"], 14);
  EXPECT_EQ(c.counts["flags.readonly.dataProps"], 14);
  EXPECT_EQ(c.counts["flags.optional.dataProps"], 5);
  EXPECT_EQ(c.counts["dataProperties.localizable"], 5);
  // Every property is read-only, some also optional.
  EXPECT_EQ(c.dataPropertyFlags, (std::set<unsigned>{0x004, 0x006}));
  EXPECT_TRUE(c.managedPropertyFlags.empty());
}

// The exported symbols are those of the library's file, even though this
// program holds its own copy of the AboutInfo record it names.
TEST(TotalsCounting, ExportsAreTheLibrarysWholeCatalogue) {
  ASSERT_NE(Movel::GetType(&gKorAboutInfoTypeInfo), nullptr);
  Catalogue catalogue;
  CountedTotals c = CountTotals(catalogue.Modules());
  EXPECT_EQ(c.counts["types.total"], static_cast<long long>(catalogue.LibraryTypes().size()));
  // At least one record, constructor or accessor per registered type.
  EXPECT_GT(c.exports, c.counts["types.total"]);
  Module none;
  EXPECT_EQ(CountTotals({&none}).exports, -1);  // no record to find the file by
}

TEST(TotalsCounting, ExportedSymbolsOfWhatHoldsNoSharedObjectAreUnknown) {
  int local = 0;
  EXPECT_EQ(CountExportedSymbols(&local), -1);
  EXPECT_EQ(CountExportedSymbols(nullptr), -1);
  EXPECT_GT(CountExportedSymbols(&gKorAboutInfoTypeInfo), 0);
}

}  // namespace
}  // namespace kortypes
