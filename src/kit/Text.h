#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kit {

// Byte-level text checks shared by every layer: UTF-8 that is well formed (no overlong forms, no
// UTF-16 surrogates, nothing past U+10FFFF).
namespace Text {
bool isValidUTF8(std::string_view bytes);
// The bytes as JSON can carry them: every byte that is not part of well-formed UTF-8 becomes U+FFFD.
std::string printableUTF8(std::string_view bytes);
// The first code point; none when the text does not start with a well-formed one.
std::optional<char32_t> firstCodePoint(std::string_view text);
} // namespace Text

} // namespace kit
