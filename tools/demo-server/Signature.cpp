#include "Signature.h"

#include <openssl/evp.h>

namespace demo {

namespace {

constexpr std::string_view kSalt = "BrightPlume27k";
constexpr std::string_view kPoints = "45";

} // namespace

std::string md5Hex(std::string_view text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1)
        return {};
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 0x0F];
    }
    return out;
}

bool entrySignatureValid(std::string_view udid, std::string_view pf)
{
    std::string signed_text(udid);
    signed_text += ':';
    signed_text += kSalt;
    signed_text += ':';
    signed_text += kPoints;
    std::string expected = md5Hex(signed_text);
    return !expected.empty() && pf == expected;
}

} // namespace demo
