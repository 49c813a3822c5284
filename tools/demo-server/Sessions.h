#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace demo {

// The players' sessions. The entry request starts one and hands out two cookies: "sid", a
// session cookie naming the session, and "login", a lasting one that tells the next entry
// from the same client that the player has been here before. Thread-safe: the request
// handlers run on httplib's worker threads.
class Sessions {
public:
    static constexpr const char* sessionCookie = "sid";
    static constexpr const char* loginCookie = "login";
    static constexpr int loginSeconds = 30 * 24 * 3600;

    struct Started {
        std::string sid;
        std::string login;
        bool returning = false;  // the entry came with a login this server gave out
    };
    // A new session for `player`; `login` is the login cookie the entry came with, if any.
    Started start(const std::string& player, const std::optional<std::string>& login);
    // The player whose session `sid` names; nothing for an unknown or missing one.
    std::optional<std::string> player(const std::optional<std::string>& sid) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> players_;  // sid -> player
    std::map<std::string, std::string> logins_;   // login -> player
};

// The value of the cookie `name` in a Cookie request header ("a=1; b=2").
std::optional<std::string> cookieValue(std::string_view header, std::string_view name);

} // namespace demo
