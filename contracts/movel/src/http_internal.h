// Pieces both ends of the HTTP transport share: URLs, the context header,
// cookies and content types.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "movel/wire.h"

namespace Movel {
namespace http {

struct Url {
  std::string text;  // as given
  std::string host;
  int port = 80;
  std::string path = "/";
};

// Parses "http://HOST[:PORT][/PATH]" (HOST may be a bracketed IPv6
// address). False with a reason when url is not of that form.
bool ParseUrl(const std::string& url, Url* out, std::string* error);

// key=value pairs, each side percent-encoded, joined by '&', as base64
// (URL alphabet, no padding).
std::string EncodeContext(const std::vector<std::pair<std::string, std::string>>& entries);
// The reverse; false when text is not of that form.
bool DecodeContext(std::string_view text, std::vector<std::pair<std::string, std::string>>* out);

// Finds the cookie name in a Cookie header ("a=1; b=2"), or, with
// setCookie, in a Set-Cookie header ("a=1; Path=/"), whose first pair is
// the cookie.
bool FindCookie(std::string_view header, std::string_view name, std::string* value,
                bool setCookie);

const char* ContentType(WireFormat format);
// The format a Content-Type header names; false for any other type.
bool FormatOf(std::string_view contentType, WireFormat* format);

}  // namespace http
}  // namespace Movel
