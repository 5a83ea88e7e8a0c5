#include "json_writer.h"

#include <cstdio>
#include <stdexcept>

namespace kortypes {

namespace {

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 when the
// bytes there do not form one (overlong forms and surrogates included).
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char lead = byte(i);
  size_t length;
  unsigned low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string JsonWriter::Quote(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  out += '"';
  for (size_t i = 0; i < value.size();) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    if (c >= 0x80) {
      size_t n = Utf8SequenceLength(value, i);
      if (n == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(value.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

void JsonWriter::NewLine() {
  out_ << '\n';
  for (size_t i = 0; i < stack_.size(); ++i) out_ << "  ";
}

void JsonWriter::BeforeValue() {
  if (stack_.empty()) {
    if (wroteRoot_) throw std::logic_error("JSON: a second root value");
    wroteRoot_ = true;
    return;
  }
  Level& level = stack_.back();
  if (level.object) {
    if (!afterKey_) throw std::logic_error("JSON: object value without a key");
    afterKey_ = false;
    return;
  }
  if (level.count++ > 0) out_ << ',';
  NewLine();
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  if (stack_.empty() || !stack_.back().object || afterKey_) {
    throw std::logic_error("JSON: key outside an object");
  }
  if (stack_.back().count++ > 0) out_ << ',';
  NewLine();
  out_ << Quote(key) << ": ";
  afterKey_ = true;
  return *this;
}

void JsonWriter::Open(char bracket, bool object) {
  BeforeValue();
  out_ << bracket;
  stack_.push_back({object, 0});
}

void JsonWriter::Close(char bracket, bool object) {
  if (stack_.empty() || stack_.back().object != object || afterKey_) {
    throw std::logic_error("JSON: unbalanced container");
  }
  bool empty = stack_.back().count == 0;
  stack_.pop_back();
  if (!empty) NewLine();
  out_ << bracket;
}

JsonWriter& JsonWriter::BeginObject() {
  Open('{', true);
  return *this;
}
JsonWriter& JsonWriter::EndObject() {
  Close('}', true);
  return *this;
}
JsonWriter& JsonWriter::BeginArray() {
  Open('[', false);
  return *this;
}
JsonWriter& JsonWriter::EndArray() {
  Close(']', false);
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view value) {
  BeforeValue();
  out_ << Quote(value);
  return *this;
}

JsonWriter& JsonWriter::StringOrNull(const char* value) {
  return value ? String(value) : Null();
}

JsonWriter& JsonWriter::Int(long long value) {
  BeforeValue();
  out_ << value;
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ << (value ? "true" : "false");
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_ << "null";
  return *this;
}

JsonWriter& JsonWriter::FieldStrings(std::string_view key, const std::vector<std::string>& values) {
  Key(key).BeginArray();
  for (const std::string& v : values) String(v);
  return EndArray();
}

void JsonWriter::Finish() {
  if (!stack_.empty() || !wroteRoot_) throw std::logic_error("JSON: incomplete document");
  out_ << '\n';
}

}  // namespace kortypes
