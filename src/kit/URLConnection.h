#pragma once

#include "kit/WebView.h"

#include <chrono>
#include <functional>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

namespace kit {

// One HTTP exchange that blocks the caller until it ends (the invite post).
class URLConnection {
public:
    static constexpr std::chrono::milliseconds defaultIdleTimeout {60'000};
    // A longer reply is not read to its end: what is given back is its first maxReplyBytes + 1
    // bytes, so a caller sees that it was too long.
    static constexpr size_t maxReplyBytes = size_t{1} << 20;

    // Sends the request's method, headers and body as given and waits for the reply. Gives the
    // reply body whatever the HTTP status; none when the exchange failed (no connection, a
    // certificate that does not check out, no byte moving for the idle time-out, the
    // connection lost before the reply was complete, more than HttpTransfer::maxRedirects redirects, the
    // waiter giving up).
    // A redirect is followed only within the request's origin (scheme, host and port): after
    // 301, 302 or 303 a POST becomes a GET without body or Content-Type; after 307 or 308 the
    // request is repeated as it was. A redirect anywhere else (another host or port, https down
    // to http, another scheme) is not followed, so nothing goes there: the reply is then the
    // empty text, which no caller can read as an answer.
    // Every hop sends and keeps cookies through the shared CookieJar.
    // The main run loop is held throughout: nothing of the program runs until the exchange ends.
    // A POST is reported as a "post" event before it goes out; with a waiter installed, when it
    // has ended, with "framesDrawn".
    static std::optional<std::string> sendSynchronousRequest(const URLRequest& request);

    // How an exchange waits for its sockets. Without one it waits in poll() and nothing else
    // happens; a window's waiter goes on drawing meanwhile (and takes no input).
    class Waiter {
    public:
        virtual ~Waiter() = default;
        virtual void begin() {}
        // The frames drawn since begin(), if the waiter draws any.
        virtual std::optional<long> end() { return std::nullopt; }
        // Waits at most `timeout` for an event on `fds` (poll()'s events in, revents out). False:
        // the exchange is to be given up at once (the program is ending).
        virtual bool wait(std::vector<pollfd>& fds, std::chrono::milliseconds timeout) = 0;
    };
    // A reply given in advance: the next POST is reported as always but answered with it, and
    // nothing goes out (a replayed session has no server). Status 0: the exchange failed.
    struct CannedReply {
        int status = 0;
        std::string body;
    };
    static void queueReply(CannedReply reply) { canned_.push_back(std::move(reply)); }
    static void clearQueuedReplies() { canned_.clear(); }
    // Told how each POST ended: the last hop's HTTP status (0 when the exchange failed) and the
    // body given back.
    using PostObserver = std::function<void(int status, const std::optional<std::string>& body)>;
    static void setPostObserver(PostObserver observer) { postObserver_ = std::move(observer); }
    // The waiter is the caller's; null puts the default back.
    static void setWaiter(Waiter* waiter) { waiter_ = waiter; }

    // How long an exchange may go without a byte sent or received. A slow but live server is
    // never cut off, however long the whole exchange takes.
    static void setIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout_ = timeout; }
    static std::chrono::milliseconds idleTimeout() { return idleTimeout_; }

private:
    static inline std::chrono::milliseconds idleTimeout_ = defaultIdleTimeout;
    static inline Waiter* waiter_ = nullptr;
    static inline std::vector<CannedReply> canned_;
    static inline PostObserver postObserver_;
};

} // namespace kit
