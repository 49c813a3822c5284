#pragma once

#include "kit/Application.h"
#include "kit/RunLoop.h"
#include "kit/View.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kit {

class WebView;

// Who led the web view to a load, as far as its engine can tell.
struct NavigationContext {
    // The client itself asked for it (WebView::loadRequest: the entry request, a tab); otherwise a
    // page did (a link, a form, a script, a frame).
    bool byClient = false;
    // A page's load: the URL of the document that started it; none when that is not known (a page
    // may withhold it).
    std::optional<std::string> startingDocument;
    // A redirect hop: the URLs the load went through before it, its first request first. When the
    // engine cannot tell which of several loads a hop belongs to, every URL it may have come
    // through; when it has lost track altogether, `hopsKnown` is false.
    bool redirect = false;
    std::vector<std::string> earlierHops;
    bool hopsKnown = true;
};

struct URLRequest {
    std::string url;
    std::string method = "GET";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Web-view loads only.
    NavigationContext navigation = {};

    static URLRequest requestWithURL(std::string url) { return URLRequest{std::move(url), "GET", {}, {}, {}}; }
};

enum class NavigationType { LinkClicked, FormSubmitted, BackForward, Reload, FormResubmitted, Other };

class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    // Asked before every load, redirects and page navigations included; `request.navigation` says
    // who led the web view there. Default: load.
    virtual bool shouldStartLoadWithRequest(WebView&, const URLRequest&, NavigationType) { return true; }
    virtual void webViewDidStartLoad(WebView&) {}
    virtual void webViewDidFinishLoad(WebView&) {}
    virtual void didFailLoadWithError(WebView&, const Error&) {}
};

// Watches what reaches every web view from its engine (a session recorder). Each hook is told
// before the web view's delegate hears of it. Defaults: nothing.
class WebViewObserver {
public:
    virtual ~WebViewObserver() = default;
    // The delegate answered (and, when it allowed the load, the web view's own scheme check).
    virtual void webViewDecided(WebView&, const URLRequest&, bool) {}
    // The engine ended the load in flight.
    virtual void webViewEngineFinished(WebView&, const std::string&) {}
    virtual void webViewEngineFailed(WebView&, const std::string&, const Error&) {}
};

// The web view's engine, supplied by a backend: it fetches and shows pages, and reports what
// the transport did. The load's lifecycle is the web view's (see WebView::loadRequest); every
// navigation of the engine's own (a redirect hop, a link) goes through
// WebView::engineShouldStartLoad first.
class WebEngine {
public:
    virtual ~WebEngine() = default;

private:
    friend class WebView;
    // Start fetching a request the delegate has let through. Whatever the engine had in flight is
    // dropped without a word: the web view has reported its end already.
    virtual void loadImpl(const URLRequest& request) = 0;
    // Drop the load in flight without a word: the web view reports it cancelled.
    virtual void stopLoadingImpl() = 0;
    // Run a script in the page shown; its result is never waited for.
    virtual void evaluateJavaScriptImpl(const std::string&) {}
};

class WebView : public View {
public:
    using EngineFactory = std::function<std::unique_ptr<WebEngine>(WebView&)>;
    static void setEngineFactory(EngineFactory factory);

    explicit WebView(Rect frame);
    ~WebView() override;

    // One load is in flight at a time. A new one ends the one before as cancelled
    // (NetworkError::Cancelled); its start is reported on the next run-loop turn, never from
    // inside the call, and always before its end. A load replaced or stopped before its start
    // was reported ends with the cancellation alone.
    void loadRequest(const URLRequest& request);
    // The page shown starts a load (a link, a script): the delegate decides as for any of the
    // page's navigations, and the load then runs as the client's do.
    void loadFromPage(const URLRequest& request, NavigationType type);
    void stopLoading();
    bool isLoading() const { return loading_; }
    // Runs a script in the page shown. The page's answer is not waited for, so there is no text
    // to return: callers only ever run scripts for their effect.
    void stringByEvaluatingJavaScriptFromString(const std::string& script);

    WebViewDelegate* delegate() const { return delegate_; }
    void setDelegate(WebViewDelegate* delegate) { delegate_ = delegate; }
    bool detectsPhoneNumbers() const { return detectsPhoneNumbers_; }
    void setDetectsPhoneNumbers(bool detects) { detectsPhoneNumbers_ = detects; }
    // The URL of the page loading or shown.
    const std::optional<std::string>& url() const { return url_; }
    // The URL of the document shown: that of the last load that finished; before any has, that of
    // the first load the client asked for.
    const std::optional<std::string>& documentURL() const { return documentURL_; }
    // Whether the web view lets a load of this URL reach its engine, once the delegate has let it
    // through: http and https pages, and the about:blank, about:srcdoc, data: and blob: documents
    // that pages make for their own frames. Anything else (file:, view-source:, any other scheme)
    // is refused.
    static bool loadsURL(std::string_view url);
    WebEngine* engine() const { return engine_.get(); }

    // For engines: the delegate's answer, then loadsURL's (a refusal of the latter is reported as a
    // `scheme-refused` event).
    bool engineShouldStartLoad(const URLRequest& request, NavigationType type);
    // For engines, what the transport did. A navigation of the engine's own became the load in
    // flight (reported started now; any load before it ends as cancelled); the load in flight
    // moved on to a redirect hop; it finished or failed at `url`. Reports of a load that has
    // ended already are ignored.
    void engineDidBeginLoad(const std::string& url);
    // The engine takes up a request of the page's that the delegate has let through already (a
    // window the page asked for, opened in this web view): it runs as the client's loads do.
    void engineLoadAllowedRequest(const URLRequest& request) { beginLoad(request); }
    void engineDidRedirect(const std::string& url);
    void engineDidFinishLoad(const std::string& url);
    void engineDidFailLoad(const std::string& url, const Error& error);
    // Changes whenever a load begins or ends: an engine that called out (to the delegate, say)
    // compares it to tell whether its load is still the one in flight.
    std::uint64_t loadSerial() const { return loadSerial_; }

    // Every web view alive, oldest first (for tools that play the page).
    static const std::vector<WebView*>& allWebViews();
    // One observer for all web views; null removes it.
    static void setObserver(WebViewObserver* observer);

private:
    void beginLoad(const URLRequest& request);
    // The load in flight ends as cancelled, quietly if its start was not reported yet.
    void cancelLoad();
    // Reports the load's start if it is still owed: false when that ended it or began another.
    bool reportStart();
    void reportFailure(const std::string& url, const Error& error);

    WebViewDelegate* delegate_ = nullptr;
    bool loading_ = false;
    bool startReported_ = false;
    std::string loadURL_;  // where the load in flight is
    std::uint64_t loadSerial_ = 0;
    RunLoop::TaskId startTask_ = 0;
    bool detectsPhoneNumbers_ = true;
    std::optional<std::string> url_;
    std::optional<std::string> documentURL_;
    std::unique_ptr<WebEngine> engine_;
};

} // namespace kit
