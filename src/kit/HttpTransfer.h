#pragma once

#include "kit/WebView.h"

#include <curl/curl.h>
#include <memory>
#include <string>

namespace kit {

// One hop of an HTTP request as one libcurl transfer, set up alike wherever the client speaks
// HTTP (the pages' engine, the invite post): the method, headers and body as given, http and
// https only, the shared cookie jar, the trusted authorities, no redirect followed by libcurl
// (every hop is the caller's to check), and a body kept up to a cap. Who drives the transfer
// (the run loop, or a wait of its own) adds the handle to a multi handle.
class HttpTransfer {
public:
    // Redirect hops followed before a request counts as failed.
    static constexpr int maxRedirects = 20;

    // At most `maxBodyBytes` + 1 bytes of the body are kept; then the transfer ends with
    // CURLE_WRITE_ERROR and bodyTooLarge() says so.
    HttpTransfer(const URLRequest& request, size_t maxBodyBytes);
    ~HttpTransfer();
    HttpTransfer(const HttpTransfer&) = delete;
    HttpTransfer& operator=(const HttpTransfer&) = delete;

    // libcurl's global set-up, once per process, before any handle is made.
    static void initialiseLibrary();

    // Null when libcurl could not make one.
    CURL* handle() const { return easy_; }
    const char* errorDetail() const { return errorBuffer_; }

    // Once the transfer has ended: the cookies it set are kept, whatever its result.
    void ended();
    long status() const;
    // Where a 3xx reply sends the request, resolved against it; a hop to another scheme (file:,
    // view-source:, a custom one) as written, for the caller to refuse. Empty for no redirect.
    std::string location() const;
    std::string takeBody() { return std::move(body_); }
    const std::string& body() const { return body_; }
    bool bodyTooLarge() const { return body_.size() > maxBodyBytes_; }

    static bool isRedirect(long status);
    // The request of the hop a redirect with `status` leads to: after 303, or after 301 and 302
    // of a POST, the method becomes GET without body, Content-Type or Content-Length; after 307
    // and 308 the request is repeated as it was.
    static URLRequest nextHop(const URLRequest& request, long status, const std::string& location);

    // poll() events for what libcurl's socket callback asks, and libcurl's flags for what poll()
    // found.
    static short pollEvents(int what);
    static int socketFlags(short revents);

private:
    static size_t write(char* data, size_t size, size_t count, void* self);

    URLRequest request_;
    size_t maxBodyBytes_;
    CURL* easy_ = nullptr;
    curl_slist* headers_ = nullptr;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    std::string body_;
};

} // namespace kit
