#include "kit/URLConnection.h"

#include "kit/CookieJar.h"
#include "kit/Events.h"
#include "kit/Text.h"

#include <curl/curl.h>

#include <algorithm>
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

    static int progress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
    {
        auto* watch = static_cast<IdleWatch*>(self);
        // Header bytes count too: a server may take its time before the body.
        long headerBytes = 0;
        curl_easy_getinfo(watch->handle, CURLINFO_HEADER_SIZE, &headerBytes);
        curl_off_t moved = downloaded + uploaded + headerBytes;
        auto now = std::chrono::steady_clock::now();
        if (moved != watch->moved) {
            watch->moved = moved;
            watch->lastMove = now;
        }
        return now - watch->lastMove > watch->limit ? 1 : 0;
    }
};

struct Reply {
    long status = 0;
    std::string redirectURL;
    std::string body;
};

// One hop: the request as given, nothing followed.
std::optional<Reply> exchange(const URLRequest& request)
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
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendReply);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply.body);
    CURLcode result = curl_easy_perform(handle);
    CookieJar::shared().synchronize();
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

} // namespace

std::optional<std::string> URLConnection::sendSynchronousRequest(const URLRequest& request)
{
    if (request.method == "POST") {
        std::string contentType;
        for (const auto& [name, value] : request.headers)
            if (Text::equalsIgnoringASCIICase(name, "Content-Type"))
                contentType = value;
        emit("post", {{"url", request.url}, {"content_type", Text::printableUTF8(contentType)}, {"body", Text::printableUTF8(request.body)}});
    }

    URLRequest hop = request;
    for (int redirects = 0;; ++redirects) {
        auto reply = exchange(hop);
        if (!reply)
            return std::nullopt;
        if (!isRedirect(reply->status) || reply->redirectURL.empty())
            return std::move(reply->body);
        if (redirects == maxRedirects)
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

} // namespace kit
