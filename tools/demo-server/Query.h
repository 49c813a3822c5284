#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace demo {

// Decodes %XX escapes once. "+" stays "+": the client escapes spaces as %20.
// A malformed escape gives nothing.
std::optional<std::string> percentDecode(std::string_view text);

// Escapes everything but unreserved characters, so a value never carries a bare
// "&", "=" or "+" into a query.
std::string percentEncode(std::string_view text);

// The decoded value of the first query pair named `name` in a request target
// ("/path?a=1&b=2"). Nothing when there is no such pair or it cannot be decoded.
std::optional<std::string> queryValue(std::string_view target, std::string_view name);

// Escapes text for HTML element content and attribute values.
std::string htmlEscape(std::string_view text);

} // namespace demo
