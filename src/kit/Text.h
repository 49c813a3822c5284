#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kit {

// Byte-level text checks shared by every layer: UTF-8 that is well formed (no overlong forms, no
// UTF-16 surrogates, nothing past U+10FFFF) and case folding of ASCII letters only, whatever
// locale the process runs in.
namespace Text {
bool isValidUTF8(std::string_view bytes);
// The bytes as JSON can carry them: every byte that is not part of well-formed UTF-8 becomes U+FFFD.
std::string printableUTF8(std::string_view bytes);
// The first code point; none when the text does not start with a well-formed one.
std::optional<char32_t> firstCodePoint(std::string_view text);

char asciiLower(char c);
std::string asciiLowercase(std::string_view text);
bool equalsIgnoringASCIICase(std::string_view a, std::string_view b);
bool startsWithIgnoringASCIICase(std::string_view text, std::string_view prefix);
bool containsIgnoringASCIICase(std::string_view text, std::string_view needle);

// A command line's "--flag=value" as the flag and the value written with it; "--flag" alone has
// none (its value, if it takes one, is the next argument).
std::pair<std::string, std::optional<std::string>> splitOption(std::string_view argument);
} // namespace Text

} // namespace kit
