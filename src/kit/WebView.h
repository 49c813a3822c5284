#pragma once

#include "kit/Application.h"
#include "kit/View.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kit {

class WebView;

struct URLRequest {
    std::string url;
    std::string method = "GET";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    static URLRequest requestWithURL(std::string url) { return URLRequest{std::move(url), "GET", {}, {}}; }
};

enum class NavigationType { LinkClicked, FormSubmitted, BackForward, Reload, FormResubmitted, Other };

class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    // Asked before every load, redirects and page navigations included. Default: load.
    virtual bool shouldStartLoadWithRequest(WebView&, const URLRequest&, NavigationType) { return true; }
    virtual void webViewDidStartLoad(WebView&) {}
    virtual void webViewDidFinishLoad(WebView&) {}
    virtual void didFailLoadWithError(WebView&, const Error&) {}
};

// The web view's engine, supplied by a backend. It fetches and shows pages; every navigation of
// its own (a redirect hop, a link) goes through WebView::engineShouldStartLoad first.
class WebEngine {
public:
    virtual ~WebEngine() = default;
    // Start loading a request that the delegate has let through. A load still in flight is
    // cancelled first and reported failed with -999.
    virtual void load(const URLRequest& request) = 0;
    virtual void stopLoading() = 0;
    virtual bool isLoading() const = 0;
    // Runs a script in the page shown; its result is never waited for.
    virtual void evaluateJavaScript(const std::string&) {}
};

inline constexpr int NSURLErrorCancelled = -999;

class WebView : public View {
public:
    using EngineFactory = std::function<std::unique_ptr<WebEngine>(WebView&)>;
    static void setEngineFactory(EngineFactory factory);

    explicit WebView(Rect frame);
    ~WebView() override;

    void loadRequest(const URLRequest& request);
    void stopLoading();
    bool isLoading() const;
    // Runs a script in the page shown. The page's answer is not waited for, so there is no text
    // to return: callers only ever run scripts for their effect.
    void stringByEvaluatingJavaScriptFromString(const std::string& script);

    WebViewDelegate* delegate() const { return delegate_; }
    void setDelegate(WebViewDelegate* delegate) { delegate_ = delegate; }
    bool detectsPhoneNumbers() const { return detectsPhoneNumbers_; }
    void setDetectsPhoneNumbers(bool detects) { detectsPhoneNumbers_ = detects; }
    // The URL of the page loading or shown.
    const std::optional<std::string>& url() const { return url_; }
    WebEngine* engine() const { return engine_.get(); }

    // For engines.
    bool engineShouldStartLoad(const URLRequest& request, NavigationType type);
    void engineDidStartLoad(const std::string& url);
    void engineDidFinishLoad(const std::string& url);
    void engineDidFailLoad(const std::string& url, const Error& error);

    // Every web view alive, oldest first (for tools that play the page).
    static const std::vector<WebView*>& allWebViews();

private:
    WebViewDelegate* delegate_ = nullptr;
    bool detectsPhoneNumbers_ = true;
    std::optional<std::string> url_;
    std::unique_ptr<WebEngine> engine_;
};

} // namespace kit
