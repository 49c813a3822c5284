// Value extraction and decoding: parameter values out of any URL text, the digest and Base64
// texts, and the UTF-8 check the Recruit screen and the address book rely on. Besides the
// sanitizers, each result is checked against what its callers count on.
//
// Input: "NAME\nTEXT" looks NAME up in TEXT; without a newline the whole input is TEXT and the
// name is one of the page's key words.
#include "FuzzSupport.h"
#include "app/Util.h"
#include "kit/Text.h"

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

using fuzz::check;

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// The reader the server has: it must get the bytes back.
std::string decodeBase64(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i + 4 <= text.size(); i += 4) {
        int v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = text[i + k] == '=' ? 0 : base64Value(text[i + k]);
        for (int k = 0; k < 4; ++k)
            check(v[k] >= 0, "base64 uses its alphabet only");
        std::uint32_t bits = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        out += static_cast<char>(bits >> 16);
        if (text[i + 2] != '=')
            out += static_cast<char>((bits >> 8) & 0xFF);
        if (text[i + 3] != '=')
            out += static_cast<char>(bits & 0xFF);
    }
    return out;
}

const char* const keyWords[] = {"invokeAlertOneBtnTitle", "setTab1Badge", "changeBgAfterLoad", "goToURL",
                                "invokeSoundDelay", "requestPushNotification", "a", ""};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view name;
    std::string_view text = input;
    if (auto newline = input.find('\n'); newline != std::string_view::npos) {
        name = input.substr(0, newline);
        text = input.substr(newline + 1);
    } else {
        name = keyWords[size % (sizeof keyWords / sizeof *keyWords)];
    }

    auto value = street::Util::extractParamVal(name, text);
    if (value) {
        for (unsigned char c : *value)
            check(c < 0x80, "a decoded value is ASCII");
        check(value->size() <= text.size(), "a value comes out of the text");
        if (text.find('?') == std::string_view::npos && text.find('#') == std::string_view::npos)
            check(value->empty(), "a text without a query has no values");
    }

    auto digest = street::Util::md5(text);
    check(digest.size() == 32, "md5 is 32 digits");
    for (char c : digest)
        check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'), "md5 is upper-case hex");
    if (auto zero = text.find('\0'); zero != std::string_view::npos)
        check(street::Util::md5(text.substr(0, zero)) == digest, "md5 stops at the first zero byte");

    auto encoded = street::Util::base64EncodingWithLineLength(text);
    check(encoded.size() == (text.size() + 2) / 3 * 4, "base64 length");
    check(decodeBase64(encoded) == text, "base64 gives the bytes back");

    bool valid = kit::Text::isValidUTF8(text);
    check(!valid || text.empty() || kit::Text::firstCodePoint(text), "valid text starts with a code point");
    auto printable = kit::Text::printableUTF8(text);
    check(kit::Text::isValidUTF8(printable), "printable text is UTF-8");
    check(!valid || printable == text, "valid UTF-8 is printed as it is");
    return 0;
}
