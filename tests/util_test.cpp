#include "app/Util.h"

#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>

using street::Util;

namespace {

struct ParamCase {
    const char* label;
    std::string_view name;
    std::string_view req;
    std::optional<std::string> expected;
};

const ParamCase kParamCases[] = {
    {"first of two", "a", "http://h/p.php?a=1&b=2", "1"},
    {"second of two", "b", "http://h/p.php?a=1&b=2", "2"},
    {"missing name", "c", "http://h/p.php?a=1&b=2", ""},
    {"prefix and suffix are not the name", "a", "http://h/p.php?ab=1&ba=2", ""},
    {"name is case-sensitive", "A", "http://h/p.php?a=1", ""},
    {"first occurrence wins", "a", "http://h/p.php?a=1&a=2", "1"},
    {"empty value", "a", "http://h/p.php?a=", ""},
    {"no equals sign", "a", "http://h/p.php?a", ""},
    {"two equals signs never match", "a", "http://h/p.php?a=x=y", ""},
    {"later piece after a two-equals piece", "a", "http://h/p.php?a=x=y&a=z", "z"},
    {"escaped space", "a", "http://h/p.php?a=b%20c", "b c"},
    {"lower-case hex", "a", "http://h/p.php?a=%2f%2F", "//"},
    {"escaped percent decodes once", "a", "http://h/p.php?a=%2541", "%41"},
    {"plus stays plus", "a", "http://h/p.php?a=b+c", "b+c"},
    {"escape of a non-ASCII byte", "a", "http://h/p.php?a=%E9", std::nullopt},
    {"escape of 0x80", "a", "http://h/p.php?a=x%80", std::nullopt},
    {"escape with bad digits", "a", "http://h/p.php?a=%zz", std::nullopt},
    {"escape cut short at the end", "a", "http://h/p.php?a=ab%4", std::nullopt},
    {"lone percent at the end", "a", "http://h/p.php?a=ab%", std::nullopt},
    {"raw non-ASCII byte", "a", "http://h/p.php?a=caf\xc3\xa9", std::nullopt},
    {"bad escape in another piece is not looked at", "b", "http://h/p.php?a=%zz&b=2", "2"},
    {"fragment without a query", "a", "http://h/p.php#a=1", "1"},
    {"fragment stays in the last value", "a", "http://h/p.php?a=1#top", "1#top"},
    {"fragment glued to an earlier value's piece", "b", "http://h/p.php?a=1#x&b=2", "2"},
    {"neither query nor fragment", "a", "http://h/p.php/a=1", ""},
    {"the path before the query is not searched", "a", "http://h/a=1/p.php?b=2", ""},
    {"only the first question mark starts the query", "a", "http://h/p?x=1?a=2&a=3", "3"},
    {"question mark wins over an earlier hash", "a", "http://h/p#a=1?a=2", "2"},
    {"empty pieces are skipped", "a", "http://h/p?&&a=1&", "1"},
    {"empty text", "a", "", ""},
    {"empty name matches a piece with no key", "", "http://h/p?=v", "v"},
    {"command-style value", "showAlert", "http://h/x.php?showAlert=true&title=Hi%21", "true"},
};

TEST(UtilExtractParamVal, Cases)
{
    for (const auto& c : kParamCases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Util::extractParamVal(c.name, c.req), c.expected);
    }
}

std::string hexUpper(const unsigned char* bytes, unsigned n)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned i = 0; i < n; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 15]);
    }
    return out;
}

std::string opensslMd5Hex(std::string_view bytes)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_md5(), nullptr), 1);
    return hexUpper(md, len);
}

std::string opensslBase64(std::string_view bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string randomBytes(std::mt19937& rng, std::size_t n, bool allowZero)
{
    std::uniform_int_distribution<int> byte(allowZero ? 0 : 1, 255);
    std::string s(n, '\0');
    for (auto& ch : s)
        ch = static_cast<char>(byte(rng));
    return s;
}

TEST(UtilMd5, KnownDigests)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        // Only the bytes before the first zero byte count.
        {std::string_view("abc\0def", 7), "900150983CD24FB0D6963F7D28E17F72"},
        {std::string_view("\0abc", 4), "D41D8CD98F00B204E9800998ECF8427E"},
    };
    for (const auto& [text, digest] : cases)
        EXPECT_EQ(Util::md5(text), digest);
}

TEST(UtilMd5, MatchesOpenSslOnRandomTexts)
{
    std::mt19937 rng(1234);
    for (std::size_t len = 0; len <= 300; ++len) {
        SCOPED_TRACE(len);
        std::string text = randomBytes(rng, len, /*allowZero=*/false);
        std::string got = Util::md5(text);
        ASSERT_EQ(got, opensslMd5Hex(text));
        ASSERT_EQ(got.size(), 32u);
        ASSERT_TRUE(std::all_of(got.begin(), got.end(),
            [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }));

        // With a zero byte planted somewhere, the digest is that of the prefix.
        if (len > 0) {
            std::size_t cut = std::uniform_int_distribution<std::size_t>(0, len - 1)(rng);
            std::string withZero = text;
            withZero[cut] = '\0';
            ASSERT_EQ(Util::md5(withZero), opensslMd5Hex(std::string_view(text).substr(0, cut)));
        }
    }
}

TEST(UtilBase64, PaddingAndLength)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},
        {"M", "TQ=="},
        {"Ma", "TWE="},
        {"Man", "TWFu"},
        {"foobar", "Zm9vYmFy"},
        {std::string_view("\xff\xfe\xfd", 3), "//79"},
        {std::string_view("\0\0", 2), "AAA="},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(Util::base64EncodingWithLineLength(in), out);

    // No line breaks, however long the input.
    std::string long57(57, 'x');
    EXPECT_EQ(Util::base64EncodingWithLineLength(long57).size(), 76u);
    std::string longer(1000, 'y');
    EXPECT_EQ(Util::base64EncodingWithLineLength(longer).find('\n'), std::string::npos);
}

TEST(UtilBase64, MatchesOpenSslOnRandomData)
{
    std::mt19937 rng(99);
    for (std::size_t len = 0; len <= 300; ++len) {
        SCOPED_TRACE(len);
        std::string data = randomBytes(rng, len, /*allowZero=*/true);
        std::string expected = opensslBase64(data);
        ASSERT_EQ(Util::base64EncodingWithLineLength(data), expected);
        std::vector<std::uint8_t> bytes(data.begin(), data.end());
        ASSERT_EQ(Util::base64EncodingWithLineLength(std::span<const std::uint8_t>(bytes)), expected);
    }
}

}
