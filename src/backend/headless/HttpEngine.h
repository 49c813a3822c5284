#pragma once

#include "kit/HttpTransfer.h"
#include "kit/RunLoop.h"
#include "kit/WebView.h"

#include <curl/curl.h>
#include <map>
#include <memory>
#include <string>

namespace backend::headless {

// A web engine that fetches pages with libcurl's multi interface, driven by the real-clock run
// loop (fd watches and one timer; no threads). It follows redirects itself so that every hop
// passes the web view's delegate; every hop sends and keeps cookies through the shared
// kit::CookieJar. It keeps the page body but neither parses nor runs it; a reply that asks to be
// saved fails its load (DownloadPolicy), as in the window.
class HttpEngine : public kit::WebEngine {
public:
    explicit HttpEngine(kit::WebView& view);
    ~HttpEngine() override;
    HttpEngine(const HttpEngine&) = delete;
    HttpEngine& operator=(const HttpEngine&) = delete;

    // The last page fetched (the final hop of the last load that finished).
    const std::string& body() const { return body_; }
    long statusCode() const { return status_; }

    static constexpr long timeoutMillis = 60'000;
    // A page body (as decoded) beyond this fails the load as too large.
    static constexpr size_t maxBodyBytes = size_t{32} << 20;

private:
    void loadImpl(const kit::URLRequest& request) override;
    void stopLoadingImpl() override { dropTransfer(); }

    static int socketCallback(CURL* easy, curl_socket_t fd, int what, void* self, void* socketData);
    static int timerCallback(CURLM* multi, long timeoutMs, void* self);

    void startTransfer();
    void dropTransfer();
    void socketAction(curl_socket_t fd, int flags);
    void processMessages();
    void transferDone(CURLcode result);
    // Ends the load in flight with an error.
    void failLoad(const kit::Error& error);

    kit::WebView& view_;
    CURLM* multi_ = nullptr;
    std::unique_ptr<kit::HttpTransfer> transfer_;  // the current hop's
    kit::RunLoop* loop_ = nullptr;  // the loop our watches and tasks belong to
    std::map<curl_socket_t, kit::RunLoop::WatchId> watches_;
    kit::RunLoop::TaskId timerTask_ = 0;

    kit::URLRequest request_;      // the current hop
    int hops_ = 0;
    std::string body_;
    long status_ = 0;
};

} // namespace backend::headless
