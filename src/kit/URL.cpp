#include "kit/URL.h"

#include <cctype>

namespace kit::URL {

static bool isUnreserved(unsigned char c)
{
    return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '!' || c == '~' || c == '*' || c == '\''
        || c == '(' || c == ')';
}

static bool isReserved(unsigned char c)
{
    switch (c) {
    case ';': case '/': case '?': case ':': case '@': case '&': case '=': case '+': case '$': case ',':
    case '[': case ']':
        return true;
    default:
        return false;
    }
}

static bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

std::optional<std::string> URLWithString(std::string_view text)
{
    bool seenFragment = false;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))
                return std::nullopt;
            i += 2;
            continue;
        }
        if (c == '#') {
            if (seenFragment)
                return std::nullopt;
            seenFragment = true;
            continue;
        }
        if (!isUnreserved(c) && !isReserved(c))
            return std::nullopt;
    }
    return std::string(text);
}

std::string URLWithSchemeHostPath(std::string_view scheme, std::string_view host, std::string_view path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(scheme.size() + host.size() + path.size() + 16);
    out.append(scheme).append("://").append(host);
    for (unsigned char c : path) {
        if (isUnreserved(c) || isReserved(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string scheme(std::string_view url)
{
    auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return {};
    std::string s;
    for (size_t i = 0; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return {};
        s += static_cast<char>(std::tolower(c));
    }
    return s;
}

} // namespace kit::URL
