#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace street {

// Where the game server lives. The host is compiled in and is replaced at start-up by the
// server in force (kit::ServerChoice: --server, STREET_SERVER, client.ini, the build's
// STREET_GAME_SERVER), as is the scheme (http unless the server is named with https); every
// page and post URL is formed from baseURL().
class GameServer {
public:
    // The built-in demo address: the game server of a build that names none.
    static constexpr const char* defaultHost = "127.0.0.1:8642";

    // gameServerHost: "host" or "host:port".
    static std::string host();
    // "http" or "https".
    static std::string scheme();
    // The host, served over http.
    static void setHost(std::string host);
    static void setServer(std::string scheme, std::string host);
    // gameServerBaseURL: the scheme, "://" and the host, no trailing "/".
    static std::string baseURL();

    // Further hosts whose pages may give commands (--trusted-host): "host" or "host:port" for
    // both schemes, "http://..." or "https://..." for one.
    static void setTrustedHosts(std::vector<std::string> hosts);
    // None when a page at `url` may give commands: a URL of the game server's own scheme, host
    // and port, or an http or https URL on a trusted host and on its port (the scheme's default
    // port when none is named). Otherwise the host the URL leads to ("" when it names none).
    static std::optional<std::string> foreignHost(std::string_view url);
};

}
