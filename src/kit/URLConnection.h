#pragma once

#include "kit/WebView.h"

#include <optional>
#include <string>

namespace kit {

// One HTTP exchange that blocks the caller until it ends (the invite post).
class URLConnection {
public:
    static constexpr long defaultTimeoutSeconds = 60;
    // A longer reply is not read to its end: what is given back is its first maxReplyBytes + 1
    // bytes, so a caller sees that it was too long.
    static constexpr size_t maxReplyBytes = size_t{1} << 20;

    // Sends the request's method, headers and body as given and waits for the reply. Gives the
    // reply body whatever the HTTP status; none when the exchange failed (no connection, time-out
    // after defaultTimeoutSeconds, the connection lost before the reply was complete).
    // Redirects are not followed. A POST is reported as a "post" event before it goes out.
    static std::optional<std::string> sendSynchronousRequest(const URLRequest& request);
};

} // namespace kit
