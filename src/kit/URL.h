#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kit {

// URL texts as the web view and the application see them.
namespace URL {
// The text as a URL, or none when it cannot stand as one (blanks, quotes, angle brackets,
// characters outside ASCII, a "%" without two hex digits, a second "#").
std::optional<std::string> URLWithString(std::string_view text);
// scheme "://" host path, where every character of the path that may not stand in a URL is
// percent-escaped ("/", "?", "&", "=" and the other reserved characters pass unchanged).
std::string URLWithSchemeHostPath(std::string_view scheme, std::string_view host, std::string_view path);
// The scheme ("http"), lower-cased; empty when there is none.
std::string scheme(std::string_view url);

// Where an absolute http or https URL leads, as libcurl reads it.
struct Origin {
    std::string scheme;  // "http" or "https"
    std::string host;    // lower-cased; an IPv6 address keeps its brackets
    int port = 0;        // as written, else the scheme's default
    bool portGiven = false;
};
// The host of a URL with an authority, as libcurl reads it (after any user information),
// lower-cased; empty when the text names none.
std::string host(std::string_view url);
// None unless the text is an http or https URL whose host follows the "//" directly: no
// user information, no empty host, no blanks or control characters anywhere.
std::optional<Origin> webOrigin(std::string_view url);

// A server as a command line names one: "HOST[:PORT]", "http://HOST[:PORT]" or
// "https://HOST[:PORT]". None for anything else: another scheme, a path (even a lone "/"), a
// query, a fragment, user information, an empty host, a port outside 1-65535.
struct ServerAddress {
    std::string scheme;         // "http" when the text names none
    bool schemeGiven = false;
    std::string authority;      // "host" or "host:port", as written
    Origin origin;
};
std::optional<ServerAddress> serverAddress(std::string_view text);

// `reference` (absolute, scheme-relative or relative) read against the absolute URL `base`, as
// libcurl reads it: dot segments resolved, the scheme lower-cased, an empty path written "/".
// None when libcurl cannot read the base as an absolute URL (no scheme, a scheme it does not
// know) or the reference against it.
std::optional<std::string> resolve(std::string_view base, std::string_view reference);
} // namespace URL

} // namespace kit
