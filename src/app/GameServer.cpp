#include "app/GameServer.h"

#include "kit/URL.h"

#include <algorithm>
#include <utility>

namespace street {

namespace {
std::string& currentHost()
{
    static std::string host = GameServer::defaultHost;
    return host;
}

std::vector<std::string>& trustedHosts()
{
    static std::vector<std::string> hosts;
    return hosts;
}

bool sameOrigin(const kit::URL::Origin& page, const std::string& host)
{
    auto trusted = kit::URL::webOrigin("http://" + host + "/");
    if (!trusted || trusted->host != page.host)
        return false;
    int port = trusted->portGiven ? trusted->port : (page.scheme == "https" ? 443 : 80);
    return page.port == port;
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

void GameServer::setTrustedHosts(std::vector<std::string> hosts)
{
    trustedHosts() = std::move(hosts);
}

std::optional<std::string> GameServer::foreignHost(std::string_view url)
{
    // Only the scheme and authority decide: the rest is the page's own business, and a blank
    // in a query must not make the game's own page foreign.
    auto authority = url.find("://");
    if (authority == std::string_view::npos)
        return std::string();
    auto start = url.substr(0, url.find_first_of("/?#", authority + 3));
    auto page = kit::URL::webOrigin(start);
    if (!page)
        return kit::URL::host(start);  // user information, say: the host it really leads to
    const auto& hosts = trustedHosts();
    if (sameOrigin(*page, currentHost())
        || std::any_of(hosts.begin(), hosts.end(), [&](const std::string& host) { return sameOrigin(*page, host); }))
        return std::nullopt;
    return page->host;
}

}
