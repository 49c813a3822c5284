// The byte-level text helpers every layer shares: well-formed UTF-8, text that JSON can carry,
// the first code point of a name, and ASCII-only case folding.

#include "kit/Text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

namespace {

TEST(TextUTF8, WellFormedMeansNoOverlongFormNoSurrogateNothingPastTheLastCodePoint)
{
    const std::pair<std::string, bool> cases[] = {
        {"", true}, {"plain", true}, {"\xC3\x89", true}, {"\xE2\x82\xAC", true}, {"\xF0\x9F\x8F\x8E", true}, {"\xF4\x8F\xBF\xBF", true},
        {"\xC3", false}, {"\xE2\x82", false}, {"\x89", false}, {"\xC0\xAF", false}, {"\xE0\x80\xAF", false}, {"\xF0\x80\x80\xAF", false},
        {"\xED\xA0\x80", false}, {"\xF4\x90\x80\x80", false}, {"\xFF", false}, {"ab\xC3\x28", false},
        // the edges of each range
        {"\x7F", true}, {"\xC2\x80", true}, {"\xC1\xBF", false}, {"\xE0\xA0\x80", true}, {"\xE0\x9F\xBF", false},
        {"\xED\x9F\xBF", true}, {"\xED\xBF\xBF", false}, {"\xEE\x80\x80", true}, {"\xEF\xBF\xBF", true},
        {"\xF0\x90\x80\x80", true}, {"\xF0\x8F\xBF\xBF", false}, {"\xF5\x80\x80\x80", false}, {"\xF8\x88\x80\x80\x80", false},
        {std::string("a\0b", 3), true}, {"\xE2\x82\xAC\xE2\x82", false}, {"\xC3\x89\xC3", false},
    };
    for (const auto& [bytes, valid] : cases)
        EXPECT_EQ(kit::Text::isValidUTF8(bytes), valid) << testing::PrintToString(bytes);
}

TEST(TextUTF8, PrintableTextReplacesEachStrayByteAndKeepsTheRest)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"caf\xC3\xA9 \xF0\x9F\x8F\x8E", "caf\xC3\xA9 \xF0\x9F\x8F\x8E"},
        {"M\xFCller", "M\xEF\xBF\xBDller"},
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                 // overlong: both bytes
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // a surrogate: all three
        {"\xE2\x82" "A", "\xEF\xBF\xBD\xEF\xBF\xBD" "A"},         // cut short: what follows is kept
        {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // cut short at the end
        {"\xEF\xBF\xBD", "\xEF\xBF\xBD"},
    };
    for (const auto& [bytes, printable] : cases) {
        EXPECT_EQ(kit::Text::printableUTF8(bytes), printable) << testing::PrintToString(bytes);
        EXPECT_TRUE(kit::Text::isValidUTF8(kit::Text::printableUTF8(bytes)));
    }
}

TEST(TextUTF8, FirstCodePointOnlyOfAWellFormedStart)
{
    const std::pair<std::string, std::optional<char32_t>> cases[] = {
        {"", std::nullopt}, {"Ann", U'A'}, {"\xC3\x89mile", U'\u00C9'}, {"\xC4\xB1", U'\u0131'}, {"\xEF\xAC\x85", U'\uFB05'},
        {"\xF0\x9F\x8F\x8E", U'\U0001F3CE'}, {"\xF4\x8F\xBF\xBF", U'\U0010FFFF'}, {"a\xFF", U'a'},
        {"\xC1\x81", std::nullopt}, {"\xE0\x81\x81", std::nullopt}, {"\xED\xA0\x80", std::nullopt}, {"\xF4\x90\x80\x80", std::nullopt},
        {"\xC3", std::nullopt}, {"\xC3" "A", std::nullopt}, {"\x80" "A", std::nullopt},
    };
    for (const auto& [text, cp] : cases)
        EXPECT_EQ(kit::Text::firstCodePoint(text), cp) << testing::PrintToString(text);
}

TEST(TextASCIICase, OnlyTheTwentySixLettersFold)
{
    // Neighbours of the letter ranges differ by the same bit as upper and lower case, and bytes
    // of UTF-8 text never fold.
    EXPECT_EQ(kit::Text::asciiLowercase("ABC xyz @[`{ Z0 \xC3\x89 \xC3\xA9"), "abc xyz @[`{ z0 \xC3\x89 \xC3\xA9");
    const std::tuple<std::string_view, std::string_view, bool> equal[] = {
        {"Content-Type", "content-type", true}, {"", "", true}, {"a", "ab", false}, {"ab", "a", false},
        {"@", "`", false}, {"[", "{", false}, {"^", "~", false}, {"\xC3\x89", "\xC3\xA9", false}, {"I", "\xC4\xB1", false},
    };
    for (const auto& [a, b, same] : equal)
        EXPECT_EQ(kit::Text::equalsIgnoringASCIICase(a, b), same) << a << " / " << b;
    const std::tuple<std::string_view, std::string_view, bool> prefixed[] = {
        {"HTTPS://x", "https://", true}, {"https://", "https://", true}, {"http", "http://", false}, {"", "", true}, {"x", "", true},
        {"Http:/x", "http://", false},
    };
    for (const auto& [text, prefix, starts] : prefixed)
        EXPECT_EQ(kit::Text::startsWithIgnoringASCIICase(text, prefix), starts) << text << " / " << prefix;
    const std::tuple<std::string_view, std::string_view, bool> contained[] = {
        {"N;ENCODING=Quoted-Printable", "QUOTED-PRINTABLE", true}, {"quoted-printable;X", "QUOTED-PRINTABLE", true},
        {"QUOTED-PRINTABL", "QUOTED-PRINTABLE", false}, {"x", "", true}, {"", "", true}, {"", "x", false},
    };
    for (const auto& [text, needle, found] : contained)
        EXPECT_EQ(kit::Text::containsIgnoringASCIICase(text, needle), found) << text << " / " << needle;
}

} // namespace
