#pragma once

#include <string>

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
};

}
