#include "app/GameServer.h"

#include <utility>

namespace street {

namespace {
std::string& currentHost()
{
    static std::string host = GameServer::defaultHost;
    return host;
}
}

std::string GameServer::host()
{
    return currentHost();
}

void GameServer::setHost(std::string host)
{
    currentHost() = std::move(host);
}

std::string GameServer::baseURL()
{
    return "http://" + currentHost();
}

}
