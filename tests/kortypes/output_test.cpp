// The tool's output building blocks: JSON quoting and structure, and text
// table alignment.
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "json_writer.h"
#include "text_table.h"

namespace kortypes {
namespace {

TEST(JsonWriter, QuoteEscapesWhatJsonRequires) {
  EXPECT_EQ(JsonWriter::Quote("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(JsonWriter::Quote("\n\r\t\b\f"), R"("\n\r\t\b\f")");
  EXPECT_EQ(JsonWriter::Quote(std::string("\x01\x1f\x7f", 3)), R"("\u0001\u001f\u007f")");
  EXPECT_EQ(JsonWriter::Quote(std::string("a\0b", 3)), R"("a\u0000b")");
  EXPECT_EQ(JsonWriter::Quote("/"), "\"/\"");
}

TEST(JsonWriter, QuoteKeepsValidUtf8AndReplacesMalformedBytes) {
  EXPECT_EQ(JsonWriter::Quote("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
            "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"");
  EXPECT_EQ(JsonWriter::Quote("a\xFFz"), R"("a\ufffdz")");
  EXPECT_EQ(JsonWriter::Quote("\xC3"), R"("\ufffd")");                    // truncated
  EXPECT_EQ(JsonWriter::Quote("\xC0\xAF"), R"("\ufffd\ufffd")");          // overlong
  EXPECT_EQ(JsonWriter::Quote("\xED\xA0\x80"), R"("\ufffd\ufffd\ufffd")");  // surrogate
  EXPECT_EQ(JsonWriter::Quote("\xE2\x82x"), R"("\ufffd\ufffdx")");
}

TEST(JsonWriter, WritesNestedDocumentWithSeparatorsAndIndentation) {
  std::ostringstream out;
  JsonWriter json(out);
  json.BeginObject()
      .FieldString("name", "x")
      .FieldStringOrNull("none", nullptr)
      .Key("list")
      .BeginArray()
      .Int(-3)
      .Bool(true)
      .BeginObject()
      .EndObject()
      .EndArray()
      .FieldStrings("empty", {})
      .EndObject()
      .Finish();
  EXPECT_EQ(out.str(),
            "{\n  \"name\": \"x\",\n  \"none\": null,\n  \"list\": [\n    -3,\n    true,\n"
            "    {}\n  ],\n  \"empty\": []\n}\n");
}

TEST(JsonWriter, RejectsMalformedNesting) {
  std::ostringstream out;
  JsonWriter a(out);
  EXPECT_THROW(a.Key("k"), std::logic_error);
  JsonWriter b(out);
  b.BeginObject();
  EXPECT_THROW(b.String("value without key"), std::logic_error);
  EXPECT_THROW(b.EndArray(), std::logic_error);
  EXPECT_THROW(b.Finish(), std::logic_error);
  JsonWriter c(out);
  c.Int(1);
  EXPECT_THROW(c.Int(2), std::logic_error);
}

TEST(TextTable, AlignsColumnsWithoutTrailingBlanks) {
  TextTable table({"NAME", "N", "NOTE"});
  table.AlignRight(1);
  table.AddRow({"alpha", "7", "x"});
  table.AddRow({"b", "1234"});
  table.AddRule();
  table.AddRow({"total", "1241", "long note"});
  std::ostringstream out;
  table.Print(out, "> ");
  std::istringstream lines(out.str());
  std::string line;
  std::vector<std::string> got;
  while (std::getline(lines, line)) got.push_back(line);
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[0], "> NAME      N  NOTE");
  EXPECT_EQ(got[1], "> -----  ----  ---------");
  EXPECT_EQ(got[2], "> alpha     7  x");
  EXPECT_EQ(got[3], "> b      1234");
  EXPECT_EQ(got[4], "> -----  ----  ---------");
  EXPECT_EQ(got[5], "> total  1241  long note");
}

TEST(TextTable, HiddenHeaderDoesNotWidenColumns) {
  TextTable table({"A VERY LONG HEADER", "X"});
  table.HideHeader();
  table.AddRow({"a", "b"});
  std::ostringstream out;
  table.Print(out);
  EXPECT_EQ(out.str(), "a  b\n");
}

}  // namespace
}  // namespace kortypes
