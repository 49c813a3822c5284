#pragma once

#include "backend/gtk/GObjectPtr.h"
#include "backend/gtk/PageEngine.h"
#include "kit/RunLoop.h"
#include "kit/WebView.h"

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitPolicyDecision WebKitPolicyDecision;
typedef struct _WebKitScriptDialog WebKitScriptDialog;
typedef struct _WebKitResponsePolicyDecision WebKitResponsePolicyDecision;
typedef struct _WebKitDownload WebKitDownload;

namespace backend::gtk {

class CookieJarPeer;

// The web view's engine on the desktop: a WebKitWebView with a transparent background. Every
// navigation and new-window request passes the kit's delegate; load events and errors are
// reported with the codes the headless engines use; a load that a silent server keeps open is
// failed after the load timeout. Pages never open a second window, a context menu, a zoom, a
// print or chooser dialog or fullscreen, get no permission, and save no file.
class WebViewPeer : public PageEngine {
public:
    using Settings = PageSettings;
    // Makes the window's web views, all in one web context (site data, cache, the sandbox and
    // the cookie mirror), made with the first view and let go with the factory.
    class Factory : public PageEngineMaker {
    public:
        explicit Factory(Settings settings);
        ~Factory() override;
        Factory(const Factory&) = delete;
        Factory& operator=(const Factory&) = delete;
        std::unique_ptr<PageEngine> make(kit::WebView& view) override;

    private:
        WebKitWebContext* context();
        Settings settings_;
        WebKitWebContext* context_ = nullptr;
        std::unique_ptr<CookieJarPeer> cookies_;
    };

    WebViewPeer(kit::WebView& view, WebKitWebContext* context, const Settings& settings);
    ~WebViewPeer() override;
    WebViewPeer(const WebViewPeer&) = delete;
    WebViewPeer& operator=(const WebViewPeer&) = delete;

    GtkWidget* widget() const override;
    void load(const kit::URLRequest& request) override;
    void stop() override;
    void evaluate(const std::string& script) override;
    void navigateFromPage(const std::string& url) override;
    void followTitle(std::function<void(const char*)> observer) override;

    // The kit's error for a failed load, from WebKit's error domain, code and message.
    // `networkAvailable` false turns a host that cannot be found into "offline".
    // A load whose page's process ended (it crashed, or stopped answering and was ended).
    static constexpr int kWebProcessEnded = -3900;
    static kit::Error errorForFailedLoad(std::string_view domain, int code, std::string_view message,
                                         bool networkAvailable);
    // What a load makes of a certificate that WebKit (which knows the system's authorities alone)
    // refused with `errors`: none when one of `authorities` (those of --ca-file) vouches for it
    // and for `host`; otherwise the error the load fails with.
    static std::optional<kit::Error> tlsFailure(GTlsCertificate* certificate, GTlsCertificateFlags errors,
                                                const std::string& host, GList* authorities);

    // A download WebKit has begun (the context's, for any of its views): cancelled.
    static void downloadStarted(WebKitDownload* download);

    // The zoom level that lays a page out at 320 CSS pixels in a window of `scale`: WebKit
    // multiplies the zoom level by the desktop's font DPI over 96 (`xftDpi` is GtkSettings'
    // gtk-xft-dpi, in 1024ths of a dot per inch; 0 or less means the default, 96).
    static double zoomLevel(int scale, int xftDpi);

private:

    // How the main frame's load was led there, and the URLs it has been through.
    struct MainLoad {
        kit::NavigationContext led;
        std::vector<std::string> hops;
    };
    // A page's navigation let through since the main frame's document committed: the main
    // frame's next load, or any frame's.
    struct PageNavigation {
        std::string url;
        kit::NavigationContext led;
    };
    static constexpr size_t maxTracked = 64;

    bool decidePolicy(WebKitPolicyDecision* decision, int type);
    void trackPageNavigation(const std::string& url, const kit::NavigationContext& led);
    void startOwnLoad();
    void mainResourceStarted(const char* uri);
    void reportPendingStart(const std::string& url);
    void primed();
    bool decideResponse(WebKitResponsePolicyDecision* decision);
    void loadChanged(int event);
    void loadFailed(const char* uri, const GError* error);
    bool scriptDialog(WebKitScriptDialog* dialog);
    void webProcessEnded();
    bool tlsErrors(const char* uri, GTlsCertificate* certificate, GTlsCertificateFlags errors);
    bool repeatLoad(int event);
    void askRepeat(const std::string& url);
    // While the kit's run loop is held (a synchronous exchange), what WebKit reports waits for the
    // hold to end: false when nothing waits and the report is to be handled now.
    bool later(std::function<void()> report);
    void armTimeout();
    void disarmTimeout();
    void timedOut();
    std::string currentURL() const;
    void followTextSize();

    kit::WebView& view_;
    GObjectPtr<WebKitWebView> webView_;
    bool inFlight_ = false;        // WebKit has taken up the load in flight, ours or the page's
    bool ownLoadPending_ = false;  // load() asked WebKit for a page; its policy check is ours
    bool ownLoadDecided_ = false;  // ... and has passed it: the next start is that load's
    kit::NavigationContext ownLoadLed_;
    std::string loadURL_;
    MainLoad main_;
    bool provisional_ = false;     // the main frame's load has started and not yet committed
    bool startPending_ = false;    // ... but its start is not reported yet
    std::string refusedHop_;       // a hop of it that the delegate or the scheme refused
    std::vector<PageNavigation> pageNavigations_;
    std::vector<std::string> frameHops_;  // every URL of those, redirect hops included
    bool lostTrack_ = false;              // more than maxTracked of them
    bool primed_ = false;                 // this web process may hear of file: URLs (see startOwnLoad)
    bool priming_ = false;
    // The address of a shown page whose process ended, and whether the empty document standing
    // in for it there is being loaded (after the priming); scripts asked for meanwhile.
    std::string restoreURL_;
    bool restoring_ = false;
    std::vector<std::string> heldScripts_;
    bool responseRefused_ = false;  // the main frame's response was refused: its failure says why
    kit::RunLoop::TaskId timeoutTask_ = 0;
    double loadTimeout_ = 60;
    int scale_ = 1;
    // A certificate that the authority file vouches for, or a connection that the network layer
    // gave up on by itself: the load is repeated once, as the same load.
    enum class Repeat { None, Pending, Asked, Started };
    Repeat repeat_ = Repeat::None;
    std::string repeatURL_;
    bool tlsAllowed_ = false;     // this load has been repeated for its certificate
    bool cancelRetried_ = false;  // ... or for a connection given up on
    bool stopAsked_ = false;      // its end was asked for (stopLoading)
    bool pageNavigated_ = false;  // the page has navigated since it started
    int waiting_ = 0; // reports put off by later() that have not run yet
    std::function<void(const char*)> titleObserver_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace backend::gtk
