#pragma once

#include "kit/WebView.h"

#include <chrono>
#include <optional>
#include <string>

namespace kit {

// One HTTP exchange that blocks the caller until it ends (the invite post).
class URLConnection {
public:
    // Redirect hops followed before the exchange counts as failed, as for page loads.
    static constexpr int maxRedirects = 20;
    static constexpr std::chrono::milliseconds defaultIdleTimeout {60'000};
    // A longer reply is not read to its end: what is given back is its first maxReplyBytes + 1
    // bytes, so a caller sees that it was too long.
    static constexpr size_t maxReplyBytes = size_t{1} << 20;

    // Sends the request's method, headers and body as given and waits for the reply. Gives the
    // reply body whatever the HTTP status; none when the exchange failed (no connection, no
    // byte moving for the idle time-out, the connection lost before the reply was complete,
    // a redirect to a URL that is not http or https, more than maxRedirects redirects).
    // A redirect is followed as the platform does: after 301, 302 or 303 a POST becomes a GET
    // without body or Content-Type; after 307 or 308 the request is repeated as it was.
    // Every hop sends and keeps cookies through the shared CookieJar.
    // A POST is reported as a "post" event before it goes out.
    static std::optional<std::string> sendSynchronousRequest(const URLRequest& request);

    // How long an exchange may go without a byte sent or received. A slow but live server is
    // never cut off, however long the whole exchange takes.
    static void setIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout_ = timeout; }
    static std::chrono::milliseconds idleTimeout() { return idleTimeout_; }

private:
    static inline std::chrono::milliseconds idleTimeout_ = defaultIdleTimeout;
};

} // namespace kit
