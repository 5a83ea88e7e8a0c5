// A small streaming JSON writer for the tool's --json output.
//
// Values are written as they are given, indented two spaces per level, so the
// output is deterministic and diff-friendly. Callers nest Begin/End calls and
// precede every value inside an object with Key() (or use the Field helpers).
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kortypes {

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(std::string_view key);

  JsonWriter& String(std::string_view value);
  // Writes null for a null pointer.
  JsonWriter& StringOrNull(const char* value);
  JsonWriter& Int(long long value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  JsonWriter& FieldString(std::string_view key, std::string_view value) {
    return Key(key).String(value);
  }
  JsonWriter& FieldStringOrNull(std::string_view key, const char* value) {
    return Key(key).StringOrNull(value);
  }
  JsonWriter& FieldInt(std::string_view key, long long value) { return Key(key).Int(value); }
  JsonWriter& FieldBool(std::string_view key, bool value) { return Key(key).Bool(value); }
  JsonWriter& FieldStrings(std::string_view key, const std::vector<std::string>& values);

  // Ends the document with a newline. Every container must be closed.
  void Finish();

  // The JSON string literal of value, quotes included. Control characters
  // are escaped and malformed UTF-8 becomes U+FFFD, so the result is always
  // valid JSON whatever bytes the input holds.
  static std::string Quote(std::string_view value);

 private:
  struct Level {
    bool object;
    int count;
  };
  void BeforeValue();
  void Open(char bracket, bool object);
  void Close(char bracket, bool object);
  void NewLine();

  std::ostream& out_;
  std::vector<Level> stack_;
  bool afterKey_ = false;
  bool wroteRoot_ = false;
};

}  // namespace kortypes
