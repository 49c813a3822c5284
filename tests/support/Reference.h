#pragma once

// Independent reference computations the tests compare the client's output with.

#include <openssl/evp.h>

#include <string>

namespace scenario {

// MD5 of the text, 32 upper-case hex digits, straight from OpenSSL.
inline std::string referenceMd5Upper(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 0xF];
    }
    return out;
}

} // namespace scenario
