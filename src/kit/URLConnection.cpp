#include "kit/URLConnection.h"

#include "kit/Events.h"
#include "kit/HttpTransfer.h"
#include "kit/RunLoop.h"
#include "kit/Text.h"
#include "kit/URL.h"

#include <curl/curl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>

namespace kit {

namespace {

// Ends a transfer once no byte has moved, either way, for the idle time-out.
struct IdleWatch {
    CURL* handle;
    std::chrono::milliseconds limit;
    curl_off_t moved = -1;
    std::chrono::steady_clock::time_point lastMove = std::chrono::steady_clock::now();

    bool expired() const { return std::chrono::steady_clock::now() - lastMove > limit; }

    static int progress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
    {
        auto* watch = static_cast<IdleWatch*>(self);
        // Header bytes count too: a server may take its time before the body.
        long headerBytes = 0;
        curl_easy_getinfo(watch->handle, CURLINFO_HEADER_SIZE, &headerBytes);
        curl_off_t moved = downloaded + uploaded + headerBytes;
        if (moved != watch->moved) {
            watch->moved = moved;
            watch->lastMove = std::chrono::steady_clock::now();
        }
        return watch->expired() ? 1 : 0;
    }
};

// Waits on the sockets alone: nothing else of the process happens meanwhile.
class PollWaiter : public URLConnection::Waiter {
public:
    bool wait(std::vector<pollfd>& fds, std::chrono::milliseconds timeout) override
    {
        int ready = ::poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
        if (ready < 0)
            for (auto& fd : fds)
                fd.revents = 0;
        return true;
    }
};

// One transfer on a multi handle of its own, its sockets and time-outs waited for by `waiter`.
// None when the waiter gave up.
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

std::optional<CURLcode> perform(CURL* handle, IdleWatch& idle, URLConnection::Waiter& waiter)
{
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    struct Sockets {
        std::map<curl_socket_t, short> events;
        std::optional<std::chrono::steady_clock::time_point> due;
    } sockets;
    curl_multi_setopt(multi.get(), CURLMOPT_SOCKETFUNCTION,
                      +[](CURL*, curl_socket_t fd, int what, void* data, void*) -> int {
                          auto& events = static_cast<Sockets*>(data)->events;
                          if (what == CURL_POLL_REMOVE)
                              events.erase(fd);
                          else
                              events[fd] = HttpTransfer::pollEvents(what);
                          return 0;
                      });
    curl_multi_setopt(multi.get(), CURLMOPT_SOCKETDATA, &sockets);
    curl_multi_setopt(multi.get(), CURLMOPT_TIMERFUNCTION, +[](CURLM*, long ms, void* data) -> int {
        auto& due = static_cast<Sockets*>(data)->due;
        if (ms < 0)
            due.reset();
        else
            due = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        return 0;
    });
    curl_multi_setopt(multi.get(), CURLMOPT_TIMERDATA, &sockets);
    if (curl_multi_add_handle(multi.get(), handle) != CURLM_OK)
        return CURLE_FAILED_INIT;

    std::optional<CURLcode> result;
    int running = 0;
    auto finished = [&] {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &left))
            if (message->msg == CURLMSG_DONE)
                result = message->data.result;
        return result.has_value();
    };
    bool abandoned = false;
    while (!finished()) {
        if (idle.expired()) {
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        auto now = std::chrono::steady_clock::now();
        if (sockets.due && *sockets.due <= now) {
            sockets.due.reset();
            curl_multi_socket_action(multi.get(), CURL_SOCKET_TIMEOUT, 0, &running);
            continue;
        }
        // At least once a second, so that the idle time-out is noticed on a silent line.
        auto timeout = std::chrono::milliseconds(1000);
        if (sockets.due)
            timeout = std::min(timeout, std::chrono::ceil<std::chrono::milliseconds>(*sockets.due - now));
        std::vector<pollfd> fds;
        for (const auto& [fd, events] : sockets.events)
            fds.push_back(pollfd{fd, events, 0});
        if (!waiter.wait(fds, timeout)) {
            abandoned = true;
            break;
        }
        for (const auto& fd : fds)
            if (fd.revents)
                curl_multi_socket_action(multi.get(), fd.fd, HttpTransfer::socketFlags(fd.revents), &running);
    }
    curl_multi_remove_handle(multi.get(), handle);
    if (abandoned)
        return std::nullopt;
    return result;
}

struct Reply {
    long status = 0;
    std::string redirectURL;
    std::string body;
};

// One hop: the request as given, nothing followed.
std::optional<Reply> exchange(const URLRequest& request, URLConnection::Waiter& waiter)
{
    HttpTransfer transfer(request, URLConnection::maxReplyBytes);
    CURL* handle = transfer.handle();
    if (!handle)
        return std::nullopt;
    IdleWatch idle {handle, URLConnection::idleTimeout()};
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idle.limit.count()));
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &IdleWatch::progress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &idle);
    auto performed = perform(handle, idle, waiter);
    transfer.ended();
    if (!performed)
        return std::nullopt;
    Reply reply;
    if (*performed == CURLE_WRITE_ERROR && transfer.bodyTooLarge()) {
        reply.body = transfer.takeBody();
        return reply;
    }
    if (*performed != CURLE_OK)
        return std::nullopt;
    reply.status = transfer.status();
    if (HttpTransfer::isRedirect(reply.status))
        reply.redirectURL = transfer.location();
    reply.body = transfer.takeBody();
    return reply;
}

bool sameOrigin(const std::string& from, const std::string& to)
{
    auto a = URL::webOrigin(from), b = URL::webOrigin(to);
    return a && b && a->scheme == b->scheme && a->host == b->host && a->port == b->port;
}

std::optional<std::string> follow(URLRequest hop, URLConnection::Waiter& waiter, int& status)
{
    for (int redirects = 0;; ++redirects) {
        status = 0;
        auto reply = exchange(hop, waiter);
        if (!reply)
            return std::nullopt;
        status = static_cast<int>(reply->status);
        if (reply->redirectURL.empty())
            return std::move(reply->body);
        if (!sameOrigin(hop.url, reply->redirectURL))
            return std::string();
        if (redirects == HttpTransfer::maxRedirects)
            return std::nullopt;
        hop = HttpTransfer::nextHop(hop, reply->status, reply->redirectURL);
    }
}

} // namespace

std::optional<std::string> URLConnection::sendSynchronousRequest(const URLRequest& request)
{
    nlohmann::json post;
    if (request.method == "POST") {
        std::string contentType;
        for (const auto& [name, value] : request.headers)
            if (Text::equalsIgnoringASCIICase(name, "Content-Type"))
                contentType = value;
        post = {{"url", request.url}, {"content_type", Text::printableUTF8(contentType)}, {"body", Text::printableUTF8(request.body)}};
        if (!waiter_)
            emit("post", post);
    }

    if (!post.is_null() && !canned_.empty()) {
        CannedReply canned = std::move(canned_.front());
        canned_.erase(canned_.begin());
        if (waiter_)
            emit("post", post);
        std::optional<std::string> reply;
        if (canned.status != 0)
            reply = std::move(canned.body);
        if (postObserver_)
            postObserver_(canned.status, reply);
        return reply;
    }

    RunLoop::Hold hold(RunLoop::main());
    PollWaiter poller;
    Waiter& waiter = waiter_ ? *waiter_ : poller;
    waiter.begin();
    int status = 0;
    auto reply = follow(request, waiter, status);
    auto frames = waiter.end();
    if (waiter_ && !post.is_null()) {
        if (frames)
            post["framesDrawn"] = *frames;
        emit("post", post);
    }
    if (!post.is_null() && postObserver_)
        postObserver_(reply ? status : 0, reply);
    return reply;
}

} // namespace kit
