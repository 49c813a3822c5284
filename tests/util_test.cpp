// The text helpers: one parameter's value out of a URL, MD5 in upper-case hex, Base64 on one
// line; the last two against OpenSSL on random input as well.

#include "app/Util.h"
#include "support/Reference.h"

#include <random>

#include <gtest/gtest.h>

using street::Util;

namespace {

TEST(Util, ExtractParamVal)
{
    const std::tuple<std::string_view, std::string_view, std::optional<std::string>> cases[] = { // name, text, value
        {"a", "http://h/p.php?a=1&b=2", "1"}, {"b", "http://h/p.php?a=1&b=2", "2"}, {"c", "http://h/p.php?a=1&b=2", ""},
        {"a", "http://h/p.php?ab=1&ba=2", ""}, // a prefix or suffix is not the name
        {"A", "http://h/p.php?a=1", ""}, {"a", "http://h/p.php?a=1&a=2", "1"}, {"a", "http://h/p.php?a=", ""}, {"a", "http://h/p.php?a", ""},
        {"a", "http://h/p.php?a=x=y", ""}, {"a", "http://h/p.php?a=x=y&a=z", "z"}, // two '=' never match
        {"a", "http://h/p.php?a=b%20c", "b c"}, {"a", "http://h/p.php?a=%2f%2F", "//"}, {"a", "http://h/p.php?a=%2541", "%41"},
        {"a", "http://h/p.php?a=b+c", "b+c"}, {"a", "http://h/p.php?a=%E9", std::nullopt}, {"a", "http://h/p.php?a=x%80", std::nullopt},
        {"a", "http://h/p.php?a=%zz", std::nullopt}, {"a", "http://h/p.php?a=ab%4", std::nullopt}, {"a", "http://h/p.php?a=ab%", std::nullopt},
        {"a", "http://h/p.php?a=caf\xc3\xa9", std::nullopt}, {"b", "http://h/p.php?a=%zz&b=2", "2"}, // other pieces are not decoded
        {"a", "http://h/p.php#a=1", "1"}, {"a", "http://h/p.php?a=1#top", "1#top"}, {"b", "http://h/p.php?a=1#x&b=2", "2"},
        {"a", "http://h/p.php/a=1", ""}, {"a", "http://h/a=1/p.php?b=2", ""}, // the part before the query is never searched
        {"a", "http://h/p?x=1?a=2&a=3", "3"}, {"a", "http://h/p#a=1?a=2", "2"}, {"a", "http://h/p?&&a=1&", "1"}, {"a", "", ""},
        {"", "http://h/p?=v", "v"}, {"showAlert", "http://h/x.php?showAlert=true&title=Hi%21", "true"},
    };
    for (const auto& [name, text, value] : cases)
        EXPECT_EQ(Util::extractParamVal(name, text), value) << name << " in " << text;
}

std::string randomBytes(std::mt19937& rng, std::size_t n, bool allowZero)
{
    std::uniform_int_distribution<int> byte(allowZero ? 0 : 1, 255);
    std::string s(n, '\0');
    for (auto& ch : s)
        ch = static_cast<char>(byte(rng));
    return s;
}

TEST(Util, Md5CoversTheBytesBeforeTheFirstZero)
{
    const std::pair<std::string_view, std::string_view> known[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"}, {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"}, {std::string_view("abc\0def", 7), "900150983CD24FB0D6963F7D28E17F72"},
        {std::string_view("\0abc", 4), "D41D8CD98F00B204E9800998ECF8427E"},
    };
    for (const auto& [text, digest] : known)
        EXPECT_EQ(Util::md5(text), digest);
    std::mt19937 rng(1234);
    for (std::size_t len = 0; len <= 300; ++len) {
        std::string text = randomBytes(rng, len, false);
        ASSERT_EQ(Util::md5(text), scenario::referenceMd5Upper(text)) << len;
        if (len > 0) { // with a zero byte planted somewhere, the digest is that of the prefix
            std::size_t cut = std::uniform_int_distribution<std::size_t>(0, len - 1)(rng);
            std::string withZero = text;
            withZero[cut] = '\0';
            ASSERT_EQ(Util::md5(withZero), scenario::referenceMd5Upper(text.substr(0, cut))) << len;
        }
    }
}

TEST(Util, Base64OnOneLineWithPadding)
{
    const std::pair<std::string_view, std::string_view> known[] = {
        {"", ""}, {"M", "TQ=="}, {"Ma", "TWE="}, {"Man", "TWFu"}, {"foobar", "Zm9vYmFy"}, {std::string_view("\xff\xfe\xfd", 3), "//79"},
        {std::string_view("\0\0", 2), "AAA="},
    };
    for (const auto& [in, out] : known)
        EXPECT_EQ(Util::base64EncodingWithLineLength(in), out);
    EXPECT_EQ(Util::base64EncodingWithLineLength(std::string(57, 'x')).size(), 76u);
    EXPECT_EQ(Util::base64EncodingWithLineLength(std::string(1000, 'y')).find('\n'), std::string::npos);
    std::mt19937 rng(99);
    for (std::size_t len = 0; len <= 300; ++len) {
        std::string data = randomBytes(rng, len, true);
        std::string expected(4 * ((len + 2) / 3) + 1, '\0');
        expected.resize(static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected.data()),
                                                                 reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(len))));
        ASSERT_EQ(Util::base64EncodingWithLineLength(data), expected) << len;
        std::vector<std::uint8_t> bytes(data.begin(), data.end());
        ASSERT_EQ(Util::base64EncodingWithLineLength(std::span<const std::uint8_t>(bytes)), expected) << len;
    }
}

} // namespace
