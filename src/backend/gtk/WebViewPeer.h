#pragma once

#include "backend/gtk/GObjectPtr.h"
#include "kit/RunLoop.h"
#include "kit/WebView.h"

#include <gtk/gtk.h>

#include <optional>
#include <string>
#include <string_view>

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitPolicyDecision WebKitPolicyDecision;
typedef struct _WebKitScriptDialog WebKitScriptDialog;
typedef struct _WebKitResponsePolicyDecision WebKitResponsePolicyDecision;
typedef struct _WebKitDownload WebKitDownload;

namespace backend::gtk {

// The web view's engine on the desktop: a WebKitWebView with a transparent background. Every
// navigation and new-window request passes the kit's delegate; load events and errors are
// reported with the codes the headless engines use; a load that a silent server keeps open is
// failed after the load timeout. Pages never open a second window, a context menu, a zoom, a
// print or chooser dialog or fullscreen, get no permission, and save no file.
class WebViewPeer : public kit::WebEngine {
public:
    struct Settings {
        std::string dataDirectory;   // cookies.sqlite and the rest of the site data
        std::string cacheDirectory;  // the disk cache
        double loadTimeout = 60;
        int scale = 1;
    };
    // Applies to web views made afterwards.
    static void configure(Settings settings);
    // The one web context (and cookie jar) of the process; released with releaseContext().
    static void releaseContext();

    explicit WebViewPeer(kit::WebView& view);
    ~WebViewPeer() override;
    WebViewPeer(const WebViewPeer&) = delete;
    WebViewPeer& operator=(const WebViewPeer&) = delete;

    void load(const kit::URLRequest& request) override;
    void stopLoading() override;
    bool isLoading() const override { return inFlight_ || ownLoadPending_; }
    void evaluateJavaScript(const std::string& script) override;

    GtkWidget* widget() const;
    // The page navigates to `url` as a script of its own would (scripts' `navigate`).
    void navigateFromPage(const std::string& url);

    // The kit's error for a failed load, from WebKit's error domain, code and message.
    // `networkAvailable` false turns a host that cannot be found into "offline".
    // A load whose page's process ended (it crashed, or stopped answering and was ended).
    static constexpr int kWebProcessEnded = -3900;
    static kit::Error errorForFailedLoad(std::string_view domain, int code, std::string_view message,
                                         bool networkAvailable);
    // A download WebKit has begun (the context's, for any of its views): cancelled.
    static void downloadStarted(WebKitDownload* download);

private:
    bool decidePolicy(WebKitPolicyDecision* decision, int type);
    bool decideResponse(WebKitResponsePolicyDecision* decision);
    void loadChanged(int event);
    void loadFailed(const char* uri, const GError* error);
    bool scriptDialog(WebKitScriptDialog* dialog);
    void webProcessEnded();
    void armTimeout();
    void disarmTimeout();
    void timedOut();
    std::string currentURL() const;

    kit::WebView& view_;
    GObjectPtr<WebKitWebView> webView_;
    bool inFlight_ = false;        // between the start and the end of a load we report
    bool ownLoadPending_ = false;  // load() asked WebKit for a page; its policy check is ours
    std::string loadURL_;
    bool responseRefused_ = false;  // the main frame's response was refused: its failure says why
    kit::RunLoop::TaskId timeoutTask_ = 0;
    double loadTimeout_ = 60;
};

} // namespace backend::gtk
