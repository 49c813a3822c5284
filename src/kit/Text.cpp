#include "kit/Text.h"

namespace kit::Text {

namespace {

// The length of the well-formed UTF-8 sequence at bytes[i]; 0 when there is none.
size_t sequenceLength(std::string_view bytes, size_t i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || bytes.size() - i < length)
        return 0;
    for (size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    // The second byte's range rules out overlong forms, surrogates and values past U+10FFFF.
    unsigned char second = byte(i + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90)
        || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

} // namespace

bool isValidUTF8(std::string_view bytes)
{
    for (size_t i = 0; i < bytes.size();) {
        size_t length = sequenceLength(bytes, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string printableUTF8(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        size_t length = sequenceLength(bytes, i);
        if (length == 0) {
            text += "\xEF\xBF\xBD";
            ++i;
        } else {
            text.append(bytes.substr(i, length));
            i += length;
        }
    }
    return text;
}

std::optional<char32_t> firstCodePoint(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    size_t length = sequenceLength(text, 0);
    if (length == 0)
        return std::nullopt;
    auto lead = static_cast<unsigned char>(text[0]);
    char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    return cp;
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string asciiLowercase(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = asciiLower(c);
    return out;
}

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

bool startsWithIgnoringASCIICase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsIgnoringASCIICase(text.substr(0, prefix.size()), prefix);
}

bool containsIgnoringASCIICase(std::string_view text, std::string_view needle)
{
    for (size_t i = 0; i + needle.size() <= text.size(); ++i)
        if (equalsIgnoringASCIICase(text.substr(i, needle.size()), needle))
            return true;
    return false;
}

std::pair<std::string, std::optional<std::string>> splitOption(std::string_view argument)
{
    auto equals = argument.find('=');
    if (equals == std::string_view::npos)
        return {std::string(argument), std::nullopt};
    return {std::string(argument.substr(0, equals)), std::string(argument.substr(equals + 1))};
}

} // namespace kit::Text
