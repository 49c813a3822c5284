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

std::string& currentScheme()
{
    static std::string scheme = "http";
    return scheme;
}

std::vector<std::string>& trustedHosts()
{
    static std::vector<std::string> hosts;
    return hosts;
}

// `trusted` as --trusted-host takes it: a named scheme is that scheme's alone, and its default
// port when none is given; without one, either scheme on the port given or its own default.
bool sameOrigin(const kit::URL::Origin& page, const std::string& trusted)
{
    auto entry = kit::URL::serverAddress(trusted);
    if (!entry || entry->origin.host != page.host)
        return false;
    if (entry->schemeGiven)
        return entry->origin.scheme == page.scheme && entry->origin.port == page.port;
    int port = entry->origin.portGiven ? entry->origin.port : (page.scheme == "https" ? 443 : 80);
    return page.port == port;
}
}

std::string GameServer::host()
{
    return currentHost();
}

std::string GameServer::scheme()
{
    return currentScheme();
}

void GameServer::setHost(std::string host)
{
    setServer("http", std::move(host));
}

void GameServer::setServer(std::string scheme, std::string host)
{
    currentScheme() = std::move(scheme);
    currentHost() = std::move(host);
}

std::string GameServer::baseURL()
{
    return currentScheme() + "://" + currentHost();
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
    if (sameOrigin(*page, baseURL())
        || std::any_of(hosts.begin(), hosts.end(), [&](const std::string& host) { return sameOrigin(*page, host); }))
        return std::nullopt;
    return page->host;
}

}
