#include "app/Util.h"
#include "kit/Hex.h"

#include <cstring>

#include <openssl/evp.h>

namespace street {

namespace {

constexpr char encodingTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Percent-decoding into ASCII; anything that does not end up as ASCII is refused.
std::optional<std::string> percentDecodeAscii(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            int hi = kit::hexDigitValue(text[i + 1]);
            int lo = kit::hexDigitValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            c = static_cast<unsigned char>(hi * 16 + lo);
            i += 2;
        }
        if (c >= 0x80)
            return std::nullopt;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

const EVP_MD* md5Digest()
{
    // Fetched once: an implicit fetch on every call costs more than hashing a short text.
    static const EVP_MD* digest = EVP_MD_fetch(nullptr, "MD5", nullptr);
    return digest;
}

}

std::optional<std::string> Util::extractParamVal(std::string_view name, std::string_view req)
{
    std::size_t start = req.find('?');
    if (start == std::string_view::npos)
        start = req.find('#');
    if (start == std::string_view::npos)
        return std::string();
    std::string_view rest = req.substr(start + 1);

    // A fragment after the query stays part of the last piece, as the split is only at "&".
    while (true) {
        std::size_t amp = rest.find('&');
        std::string_view piece = rest.substr(0, amp);
        std::size_t eq = piece.find('=');
        // Exactly one "=": a piece with two or more never matches.
        if (eq != std::string_view::npos && piece.find('=', eq + 1) == std::string_view::npos
            && piece.substr(0, eq) == name)
            return percentDecodeAscii(piece.substr(eq + 1));
        if (amp == std::string_view::npos)
            return std::string();
        rest.remove_prefix(amp + 1);
    }
}

std::string Util::md5(std::string_view text)
{
    // The digest covers the text as a zero-terminated byte string.
    if (auto zero = text.find('\0'); zero != std::string_view::npos)
        text = text.substr(0, zero);

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const EVP_MD* md = md5Digest();
    if (!md || !EVP_Digest(text.data(), text.size(), digest, &length, md, nullptr) || length != 16)
        return std::string();

    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out(32, '0');
    for (unsigned i = 0; i < 16; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 0x0f];
    }
    return out;
}

std::string Util::base64EncodingWithLineLength(std::span<const std::uint8_t> data)
{
    const std::size_t n = data.size();
    std::string out((n + 2) / 3 * 4, '\0');
    const std::uint8_t* in = data.data();
    char* o = out.data();

    std::size_t i = 0;
    for (; i + 3 <= n; i += 3, o += 4) {
        std::uint32_t group = std::uint32_t(in[i]) << 16 | std::uint32_t(in[i + 1]) << 8 | in[i + 2];
        o[0] = encodingTable[group >> 18];
        o[1] = encodingTable[(group >> 12) & 0x3f];
        o[2] = encodingTable[(group >> 6) & 0x3f];
        o[3] = encodingTable[group & 0x3f];
    }
    if (std::size_t r = n - i; r > 0) {
        std::uint32_t group = std::uint32_t(in[i]) << 16 | (r == 2 ? std::uint32_t(in[i + 1]) << 8 : 0);
        o[0] = encodingTable[group >> 18];
        o[1] = encodingTable[(group >> 12) & 0x3f];
        o[2] = r == 2 ? encodingTable[(group >> 6) & 0x3f] : '=';
        o[3] = '=';
    }
    return out;
}

std::string Util::base64EncodingWithLineLength(std::string_view data)
{
    return base64EncodingWithLineLength(
        std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

}
