#include "kit/URLConnection.h"

#include "kit/CertificateAuthorities.h"
#include "kit/CookieJar.h"
#include "kit/Events.h"
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

// Keeps at most one byte beyond the cap, so the caller can tell a reply that was too long, then
// ends the exchange. Nothing may throw through libcurl.
size_t appendReply(char* data, size_t size, size_t count, void* reply)
{
    auto& text = *static_cast<std::string*>(reply);
    size_t length = size * count;
    size_t room = URLConnection::maxReplyBytes + 1 - std::min(text.size(), URLConnection::maxReplyBytes + 1);
    try {
        text.append(data, std::min(length, room));
    } catch (...) {
        return CURL_WRITEFUNC_ERROR;
    }
    return length <= room ? length : CURL_WRITEFUNC_ERROR;
}

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

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
                              events[fd] = static_cast<short>(((what & CURL_POLL_IN) ? POLLIN : 0) | ((what & CURL_POLL_OUT) ? POLLOUT : 0));
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
        for (const auto& fd : fds) {
            if (!fd.revents)
                continue;
            int flags = ((fd.revents & (POLLIN | POLLHUP)) ? CURL_CSELECT_IN : 0) | ((fd.revents & POLLOUT) ? CURL_CSELECT_OUT : 0)
                | ((fd.revents & (POLLERR | POLLNVAL)) ? CURL_CSELECT_ERR : 0);
            curl_multi_socket_action(multi.get(), fd.fd, flags, &running);
        }
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
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return std::nullopt;
    std::unique_ptr<curl_slist, HeaderListDeleter> headers;
    auto addHeader = [&](const std::string& line) {
        curl_slist* list = curl_slist_append(headers.get(), line.c_str());
        if (list) {
            (void)headers.release();
            headers.reset(list);
        }
    };
    for (const auto& [name, value] : request.headers)
        addHeader(name + ": " + value);
    // libcurl would otherwise hold back a large body waiting for "100 Continue".
    addHeader("Expect:");

    Reply reply;
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    if (request.method == "GET") {
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
        if (request.method != "POST")
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    IdleWatch idle {handle, URLConnection::idleTimeout()};
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idle.limit.count()));
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &IdleWatch::progress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &idle);
    CookieJar::shared().attach(handle);
    CertificateAuthorities::apply(handle);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendReply);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply.body);
    auto performed = perform(handle, idle, waiter);
    CookieJar::shared().synchronize();
    if (!performed)
        return std::nullopt;
    CURLcode result = *performed;
    if (result == CURLE_WRITE_ERROR && reply.body.size() > URLConnection::maxReplyBytes)
        return reply;
    if (result != CURLE_OK)
        return std::nullopt;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply.status);
    char* location = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
        reply.redirectURL = location;
    return reply;
}

bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool sameOrigin(const std::string& from, const std::string& to)
{
    auto a = URL::webOrigin(from), b = URL::webOrigin(to);
    return a && b && a->scheme == b->scheme && a->host == b->host && a->port == b->port;
}

std::optional<std::string> follow(URLRequest hop, URLConnection::Waiter& waiter)
{
    for (int redirects = 0;; ++redirects) {
        auto reply = exchange(hop, waiter);
        if (!reply)
            return std::nullopt;
        if (!isRedirect(reply->status) || reply->redirectURL.empty())
            return std::move(reply->body);
        if (!sameOrigin(hop.url, reply->redirectURL))
            return std::string();
        if (redirects == URLConnection::maxRedirects)
            return std::nullopt;
        hop.url = reply->redirectURL;
        if (reply->status != 307 && reply->status != 308 && hop.method != "GET" && hop.method != "HEAD") {
            hop.method = "GET";
            hop.body.clear();
            std::erase_if(hop.headers, [](const auto& header) {
                return Text::equalsIgnoringASCIICase(header.first, "Content-Type") || Text::equalsIgnoringASCIICase(header.first, "Content-Length");
            });
        }
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

    RunLoop::Hold hold(RunLoop::main());
    PollWaiter poller;
    Waiter& waiter = waiter_ ? *waiter_ : poller;
    waiter.begin();
    auto reply = follow(request, waiter);
    auto frames = waiter.end();
    if (waiter_ && !post.is_null()) {
        if (frames)
            post["framesDrawn"] = *frames;
        emit("post", post);
    }
    return reply;
}

} // namespace kit
