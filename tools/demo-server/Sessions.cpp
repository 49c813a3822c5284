#include "Sessions.h"

#include <cstdio>
#include <random>

namespace demo {

namespace {

std::string randomToken()
{
    static std::mutex mutex;
    static std::random_device device;
    std::lock_guard lock(mutex);
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(device()));
        token += part;
    }
    return token;
}

} // namespace

Sessions::Started Sessions::start(const std::string& player, const std::optional<std::string>& login)
{
    Started started {randomToken(), {}, false};
    std::lock_guard lock(mutex_);
    if (login) {
        auto known = logins_.find(*login);
        started.returning = known != logins_.end() && known->second == player;
    }
    started.login = started.returning ? *login : randomToken();
    logins_[started.login] = player;
    players_[started.sid] = player;
    return started;
}

std::optional<std::string> Sessions::player(const std::optional<std::string>& sid) const
{
    if (!sid)
        return std::nullopt;
    std::lock_guard lock(mutex_);
    auto found = players_.find(*sid);
    if (found == players_.end())
        return std::nullopt;
    return found->second;
}

std::optional<std::string> cookieValue(std::string_view header, std::string_view name)
{
    while (!header.empty()) {
        std::size_t end = header.find(';');
        std::string_view pair = header.substr(0, end);
        header.remove_prefix(end == std::string_view::npos ? header.size() : end + 1);
        std::size_t start = pair.find_first_not_of(' ');
        if (start == std::string_view::npos)
            continue;
        pair.remove_prefix(start);
        std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == name)
            return std::string(pair.substr(equals + 1));
    }
    return std::nullopt;
}

} // namespace demo
