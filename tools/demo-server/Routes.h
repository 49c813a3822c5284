#pragma once

#include "Sessions.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

namespace httplib {
class Server;
}

namespace demo {

// How the invite postback answers, for trying clients out: after a delay, or with a redirect.
struct InviteBehaviour {
    std::chrono::milliseconds delay{0};
    int redirectStatus = 0;  // 0: no redirect
    std::string redirectTo;
};

// What the request handlers share; they run on httplib's worker threads.
class ServerContext {
public:
    ServerContext(std::string hostName, bool secure, InviteBehaviour invite, std::function<void(const std::string&)> log);

    void setPort(int port) { port_ = port; }

    // "http://host[:port]" (https when serving TLS) for absolute links: the --host-name, else
    // the request's Host header.
    std::string baseUrl(const std::string& hostHeader) const;
    const InviteBehaviour& invite() const { return invite_; }

    void log(const std::string& line) const { log_(line); }

    Sessions& sessions() { return sessions_; }

    // Sleeps up to `duration`; returns early once stop() was called so shutdown never waits on a slow page.
    void sleepUnlessStopped(std::chrono::milliseconds duration);
    void stop();

private:
    std::string hostName_;
    bool secure_;
    InviteBehaviour invite_;
    int port_ = 0;
    std::function<void(const std::string&)> log_;
    Sessions sessions_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
};

void installRoutes(httplib::Server& server, ServerContext& context);

} // namespace demo
