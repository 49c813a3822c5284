#include "kit/URL.h"

#include "kit/Text.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

namespace kit::URL {

namespace {

struct CurlURLDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlURL = std::unique_ptr<CURLU, CurlURLDeleter>;

} // namespace

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
        s += Text::asciiLower(static_cast<char>(c));
    }
    return s;
}

std::string host(std::string_view url)
{
    if (std::any_of(url.begin(), url.end(), [](unsigned char c) { return c <= 0x20 || c == 0x7f; }))
        return {};
    CURLU* handle = curl_url();
    std::string found;
    char* text = nullptr;
    if (handle && curl_url_set(handle, CURLUPART_URL, std::string(url).c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK
        && curl_url_get(handle, CURLUPART_HOST, &text, 0) == CURLUE_OK && text)
        found = Text::asciiLowercase(text);
    curl_free(text);
    curl_url_cleanup(handle);
    return found;
}

std::optional<Origin> webOrigin(std::string_view url)
{
    if (std::any_of(url.begin(), url.end(), [](unsigned char c) { return c <= 0x20 || c == 0x7f; }))
        return std::nullopt;
    CurlURL handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, std::string(url).c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    auto part = [&](CURLUPart which, unsigned flags, CURLUcode& code) {
        char* text = nullptr;
        code = curl_url_get(handle.get(), which, &text, flags);
        std::string value = text ? text : "";
        curl_free(text);
        return value;
    };
    CURLUcode code;
    Origin origin;
    origin.scheme = part(CURLUPART_SCHEME, 0, code);
    if (code != CURLUE_OK || (origin.scheme != "http" && origin.scheme != "https"))
        return std::nullopt;
    part(CURLUPART_USER, 0, code);
    if (code != CURLUE_NO_USER)
        return std::nullopt;
    part(CURLUPART_PASSWORD, 0, code);
    if (code != CURLUE_NO_PASSWORD)
        return std::nullopt;
    origin.host = Text::asciiLowercase(part(CURLUPART_HOST, 0, code));
    if (code != CURLUE_OK || origin.host.empty())
        return std::nullopt;
    part(CURLUPART_PORT, 0, code);
    origin.portGiven = code == CURLUE_OK;
    origin.port = std::atoi(part(CURLUPART_PORT, CURLU_DEFAULT_PORT, code).c_str());
    if (code != CURLUE_OK)
        return std::nullopt;
    // libcurl forgives "http:///host" and "http:/host"; a browser may read those otherwise, so
    // the host must stand right after the "//".
    std::string prefix = origin.scheme + "://" + origin.host;
    std::string written = Text::asciiLowercase(url.substr(0, std::min(url.size(), prefix.size() + 1)));
    if (written.compare(0, prefix.size(), prefix) != 0
        || (written.size() > prefix.size() && std::string_view(":/?#").find(written.back()) == std::string_view::npos))
        return std::nullopt;
    return origin;
}

std::optional<ServerAddress> serverAddress(std::string_view text)
{
    ServerAddress address;
    address.scheme = "http";
    if (auto separator = text.find("://"); separator != std::string_view::npos) {
        address.scheme = Text::asciiLowercase(text.substr(0, separator));
        if (address.scheme != "http" && address.scheme != "https")
            return std::nullopt;
        address.schemeGiven = true;
        text.remove_prefix(separator + 3);
    }
    if (text.empty() || text.find_first_of("/?#@\\") != std::string_view::npos)
        return std::nullopt;
    // The port, when one is named, is digits only and in range: libcurl would take "host:" and
    // forgive what a browser reads otherwise.
    size_t hostEnd = text.size();
    if (text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        hostEnd = close + 1;
    } else if (auto colon = text.find(':'); colon != std::string_view::npos) {
        hostEnd = colon;
    }
    if (hostEnd < text.size()) {
        std::string_view port = text.substr(hostEnd);
        if (port.front() != ':' || port.size() < 2 || port.size() > 6)
            return std::nullopt;
        port.remove_prefix(1);
        if (!std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
            return std::nullopt;
        int number = std::atoi(std::string(port).c_str());
        if (number < 1 || number > 65535)
            return std::nullopt;
    }
    address.authority = std::string(text);
    auto origin = webOrigin(address.scheme + "://" + address.authority);
    if (!origin)
        return std::nullopt;
    address.origin = std::move(*origin);
    return address;
}

std::optional<std::string> resolve(std::string_view base, std::string_view reference)
{
    CurlURL handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, std::string(base).c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    // libcurl 7.88 reads an empty reference and a lone fragment as paths, which drops the base's
    // last segment; both only set the base's fragment.
    CURLUcode code;
    if (reference.empty())
        code = curl_url_set(handle.get(), CURLUPART_FRAGMENT, nullptr, 0);
    else if (reference.front() == '#')
        code = curl_url_set(handle.get(), CURLUPART_FRAGMENT, std::string(reference.substr(1)).c_str(), 0);
    else
        code = curl_url_set(handle.get(), CURLUPART_URL, std::string(reference).c_str(), 0);
    char* text = nullptr;
    if (code != CURLUE_OK || curl_url_get(handle.get(), CURLUPART_URL, &text, 0) != CURLUE_OK)
        return std::nullopt;
    // libcurl decodes a host's escapes and hands back the raw bytes (DEL, UTF-8); escape them
    // again so what comes out is still a URL, as the reference wrote it.
    std::string resolved;
    for (const char* p = text; *p; ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (c <= ' ' || c >= 0x7F) {
            static constexpr char hex[] = "0123456789ABCDEF";
            resolved += '%';
            resolved += hex[c >> 4];
            resolved += hex[c & 0x0F];
        } else {
            resolved += static_cast<char>(c);
        }
    }
    curl_free(text);
    return resolved;
}

} // namespace kit::URL
