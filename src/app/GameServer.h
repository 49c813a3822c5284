#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace street {

// Where the game server lives. The host is compiled in and may be replaced at start-up
// (--server); every page and post URL is formed from baseURL().
class GameServer {
public:
    static constexpr const char* defaultHost = "127.0.0.1:8642";

    // gameServerHost: "host" or "host:port".
    static std::string host();
    static void setHost(std::string host);
    // gameServerBaseURL: "http://" followed by the host, no trailing "/".
    static std::string baseURL();

    // Further hosts ("host" or "host:port") whose pages may give commands (--trusted-host).
    static void setTrustedHosts(std::vector<std::string> hosts);
    // None when a page at `url` may give commands: an http or https URL on the game server's
    // host or a trusted one, and on its port (the scheme's default port when none is named).
    // Otherwise the host the URL leads to ("" when it names none).
    static std::optional<std::string> foreignHost(std::string_view url);
};

}
