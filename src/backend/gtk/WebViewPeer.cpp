#include "backend/gtk/WebViewPeer.h"

#include "backend/gtk/CookieJarPeer.h"
#include "kit/DownloadPolicy.h"
#include "kit/NetworkError.h"
#include "kit/AlertView.h"
#include "kit/URL.h"
#include "kit/CertificateAuthorities.h"

#include <algorithm>
#include <libsoup/soup.h>
#include <memory>
#include <utility>
#include <gio/gio.h>
#include <nlohmann/json.hpp>
#include <vector>
#include <webkit2/webkit2.h>

namespace backend::gtk {


namespace {

// The peer of a WebKitWebView, for WebKit's signals that name only the view.
constexpr const char* peerKey = "street-web-view-peer";

// The certificates of --ca-file, as GIO reads them.
GList* fileAuthorities()
{
    static GList* authorities = nullptr;
    static std::string read;
    const std::string& path = kit::CertificateAuthorities::file();
    if (path != read) {
        g_list_free_full(authorities, g_object_unref);
        authorities = path.empty() ? nullptr : g_tls_certificate_list_new_from_file(path.c_str(), nullptr);
        read = path;
    }
    return authorities;
}

kit::NetworkError::CertificateProblem problemOf(GTlsCertificateFlags flags)
{
    using Problem = kit::NetworkError::CertificateProblem;
    if (flags & (G_TLS_CERTIFICATE_UNKNOWN_CA | G_TLS_CERTIFICATE_BAD_IDENTITY))
        return Problem::Untrusted;
    if (flags & G_TLS_CERTIFICATE_EXPIRED)
        return Problem::Expired;
    if (flags & G_TLS_CERTIFICATE_NOT_ACTIVATED)
        return Problem::NotYetValid;
    return Problem::Other;
}

// A GObject reference that a deferred report keeps.
template<typename T>
std::shared_ptr<T> keep(T* object)
{
    g_object_ref(object);
    return std::shared_ptr<T>(object, [](T* o) { g_object_unref(o); });
}


kit::NavigationType navigationType(WebKitNavigationType type)
{
    switch (type) {
    case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
        return kit::NavigationType::LinkClicked;
    case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
        return kit::NavigationType::FormSubmitted;
    case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
        return kit::NavigationType::BackForward;
    case WEBKIT_NAVIGATION_TYPE_RELOAD:
        return kit::NavigationType::Reload;
    case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
        return kit::NavigationType::FormResubmitted;
    default:
        return kit::NavigationType::Other;
    }
}

// Answers one page dialog (alert, confirm, prompt) from the in-window alert's buttons.
class ScriptDialogDelegate : public kit::Object, public kit::AlertViewDelegate {
public:
    explicit ScriptDialogDelegate(WebKitScriptDialog* dialog) : dialog_(webkit_script_dialog_ref(dialog)) {}
    ~ScriptDialogDelegate() override { finish(false, nullptr); }

    // Answers at once, while WebKit still asks: a confirm is declined, a prompt gives null. The
    // dialog is then WebKit's to close when the signal returns.
    void declineNow()
    {
        if (!dialog_)
            return;
        auto type = webkit_script_dialog_get_dialog_type(dialog_);
        if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM || type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM)
            webkit_script_dialog_confirm_set_confirmed(dialog_, FALSE);
        webkit_script_dialog_unref(dialog_);
        dialog_ = nullptr;
    }

    void clickedButtonAtIndex(kit::AlertView& alert, int index) override
    {
        auto* field = alert.textFieldAtIndex(0);
        bool confirmed = index == static_cast<int>(alert.buttonTitles().size()) - 1;
        finish(confirmed, field ? field->text.c_str() : nullptr);
        auto& live = all();
        auto self = sharedAs<ScriptDialogDelegate>();
        live.erase(std::remove(live.begin(), live.end(), self), live.end());
    }

    static std::vector<std::shared_ptr<ScriptDialogDelegate>>& all()
    {
        static auto* delegates = new std::vector<std::shared_ptr<ScriptDialogDelegate>>();
        return *delegates;
    }

private:
    void finish(bool confirmed, const char* text)
    {
        if (!dialog_)
            return;
        switch (webkit_script_dialog_get_dialog_type(dialog_)) {
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
            webkit_script_dialog_confirm_set_confirmed(dialog_, confirmed);
            break;
        case WEBKIT_SCRIPT_DIALOG_PROMPT:
            // A cancelled prompt answers null, which the page sees when no text is set.
            if (confirmed)
                webkit_script_dialog_prompt_set_text(dialog_, text ? text : "");
            break;
        default:
            break;
        }
        webkit_script_dialog_close(dialog_);
        webkit_script_dialog_unref(dialog_);
        dialog_ = nullptr;
    }

    WebKitScriptDialog* dialog_;
};

// What the web process may grow to before it starts releasing caches (a third of it) and
// critical memory (half of it).
constexpr guint kMemoryLimitMiB = 384;

std::string hostOf(const char* uri)
{
    std::string host;
    if (GUri* parsed = uri ? g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr) : nullptr) {
        if (const char* h = g_uri_get_host(parsed))
            host = h;
        g_uri_unref(parsed);
    }
    return host;
}

} // namespace

WebViewPeer::Factory::Factory(Settings settings) : settings_(std::move(settings)) {}

WebViewPeer::Factory::~Factory()
{
    ScriptDialogDelegate::all().clear();
    cookies_.reset();
    if (context_)
        g_object_unref(context_);
}

WebKitWebContext* WebViewPeer::Factory::context()
{
    if (context_)
        return context_;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
        "base-data-directory", settings_.dataDirectory.empty() ? nullptr : settings_.dataDirectory.c_str(),
        "base-cache-directory", settings_.cacheDirectory.empty() ? nullptr : settings_.cacheDirectory.c_str(), nullptr);
    G_GNUC_END_IGNORE_DEPRECATIONS
    // One small page at a time: the web process starts giving memory back well before the
    // desktop runs short (WebKit's default limit is a share of all memory), and is never ended
    // for using more (the kill threshold stays 0).
    WebKitMemoryPressureSettings* pressure = webkit_memory_pressure_settings_new();
    webkit_memory_pressure_settings_set_memory_limit(pressure, kMemoryLimitMiB);
    webkit_website_data_manager_set_memory_pressure_settings(pressure);
    context_ = WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", manager,
                                               "memory-pressure-settings", pressure, nullptr));
    webkit_memory_pressure_settings_free(pressure);
    // The pages are the game's own screens, fetched afresh as they change: no caches sized for
    // browsing.
    webkit_web_context_set_cache_model(context_, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    // Before any web process starts. WebKit leaves it off when the player has turned it off.
    webkit_web_context_set_sandbox_enabled(context_, TRUE);
    // Responses to be saved are refused before this; anything that still turns into a download
    // (a link with a download attribute) is cancelled before it has a file.
    g_signal_connect(context_, "download-started", G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download, gpointer) {
        WebViewPeer::downloadStarted(download);
    }), nullptr);
    // One jar for every page, kept across launches.
    if (!settings_.dataDirectory.empty()) {
        std::string jar = settings_.dataDirectory + "/cookies.sqlite";
        webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(manager), jar.c_str(),
                                                     WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    }
    // The invite post sends the cookies the pages got.
    cookies_ = std::make_unique<CookieJarPeer>(webkit_website_data_manager_get_cookie_manager(manager));
    g_object_unref(manager);
    return context_;
}

std::unique_ptr<PageEngine> WebViewPeer::Factory::make(kit::WebView& view)
{
    return std::make_unique<WebViewPeer>(view, context(), settings_);
}

kit::Error WebViewPeer::errorForFailedLoad(std::string_view domain, int code, std::string_view message,
                                           bool networkAvailable)
{
    auto is = [&](GQuark quark) { return domain == g_quark_to_string(quark); };
    int mapped = 0;
    if ((is(WEBKIT_NETWORK_ERROR) && code == WEBKIT_NETWORK_ERROR_CANCELLED) || (is(G_IO_ERROR) && code == G_IO_ERROR_CANCELLED)) {
        mapped = kit::NetworkError::Cancelled;
    } else if (is(G_TLS_ERROR)) {
        mapped = kit::NetworkError::SecureConnectionFailed;
    } else if (is(G_RESOLVER_ERROR) || (is(G_IO_ERROR) && code == G_IO_ERROR_HOST_NOT_FOUND)) {
        mapped = networkAvailable ? kit::NetworkError::CannotFindHost : kit::NetworkError::NotConnectedToInternet;
    } else if (is(G_IO_ERROR)) {
        switch (code) {
        case G_IO_ERROR_CONNECTION_REFUSED:
            mapped = kit::NetworkError::CannotConnectToHost;
            break;
        case G_IO_ERROR_NETWORK_UNREACHABLE:
        case G_IO_ERROR_HOST_UNREACHABLE:
            mapped = kit::NetworkError::NotConnectedToInternet;
            break;
        case G_IO_ERROR_TIMED_OUT:
            mapped = kit::NetworkError::TimedOut;
            break;
        case G_IO_ERROR_CONNECTION_CLOSED: // also a broken pipe
        case G_IO_ERROR_PARTIAL_INPUT:
        case G_IO_ERROR_NOT_CONNECTED:
            mapped = kit::NetworkError::NetworkConnectionLost;
            break;
        default:
            break;
        }
    }
    if (mapped)
        return kit::NetworkError::make(mapped);
    // Anything else keeps WebKit's words, under a code of its own that no other failure uses.
    return kit::NetworkError::make(-(3000 + std::abs(code)), std::string(message));
}

std::optional<kit::Error> WebViewPeer::tlsFailure(GTlsCertificate* certificate, GTlsCertificateFlags errors,
                                                   const std::string& host, GList* authorities)
{
    GTlsCertificateFlags flags = errors;
    if (certificate && (errors & G_TLS_CERTIFICATE_UNKNOWN_CA)) {
        GSocketConnectable* identity = g_network_address_new(host.c_str(), 0);
        for (GList* item = authorities; item; item = item->next) {
            GTlsCertificateFlags checked = g_tls_certificate_verify(certificate, identity, G_TLS_CERTIFICATE(item->data));
            if (!(checked & G_TLS_CERTIFICATE_UNKNOWN_CA)) {
                flags = checked;
                break;
            }
        }
        g_object_unref(identity);
    }
    if (!flags)
        return std::nullopt;
    return kit::NetworkError::certificateError(problemOf(flags), host);
}

WebViewPeer::WebViewPeer(kit::WebView& view, WebKitWebContext* context, const Settings& settings)
    : view_(view)
    , webView_(WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, nullptr)))
    , loadTimeout_(settings.loadTimeout)
    , scale_(settings.scale)
{
    WebKitWebView* web = webView_.get();
    g_object_set_data(G_OBJECT(web), peerKey, this);
    GdkRGBA clear{0, 0, 0, 0};
    webkit_web_view_set_background_color(web, &clear);
    // The desktop's text size would shrink the page's 320 CSS pixels: the zoom undoes it, now and
    // whenever the player changes it.
    followTextSize();
    g_signal_connect(gtk_settings_get_default(), "notify::gtk-xft-dpi", G_CALLBACK(+[](GObject*, GParamSpec*, gpointer self) {
        static_cast<WebViewPeer*>(self)->followTextSize();
    }), this);
    WebKitSettings* webSettings = webkit_web_view_get_settings(web);
    webkit_settings_set_javascript_can_open_windows_automatically(webSettings, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(webSettings, FALSE);
    webkit_settings_set_enable_developer_extras(webSettings, FALSE);
    // Nor WebGL, which the game never uses, nor GL at all: a small page drawn on the CPU spares
    // the web process its GL context (Mesa's software renderer here), which costs start-up time
    // and memory. The page's holder lays it over the pictures behind it (see LatePageEngine).
    webkit_settings_set_enable_webgl(webSettings, FALSE);
    webkit_settings_set_hardware_acceleration_policy(webSettings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    webkit_settings_set_enable_page_cache(webSettings, FALSE);

    g_signal_connect(web, "decide-policy", G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision,
                                                            WebKitPolicyDecisionType type, gpointer self) -> gboolean {
        auto* peer = static_cast<WebViewPeer*>(self);
        if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE
            && peer->later([peer, decision = keep(decision), type] { peer->decidePolicy(decision.get(), type); }))
            return TRUE;
        return peer->decidePolicy(decision, type);
    }), this);
    g_signal_connect(web, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
        auto* peer = static_cast<WebViewPeer*>(self);
        if (!peer->later([peer, event] { peer->loadChanged(event); }))
            peer->loadChanged(event);
    }), this);
    g_signal_connect(web, "notify::title", G_CALLBACK(+[](GObject* web, GParamSpec*, gpointer self) {
        auto* peer = static_cast<WebViewPeer*>(self);
        if (peer->titleObserver_)
            peer->titleObserver_(webkit_web_view_get_title(WEBKIT_WEB_VIEW(web)));
    }), this);
    g_signal_connect(web, "load-failed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, const char* uri, GError* error,
                                                          gpointer self) -> gboolean {
        auto* peer = static_cast<WebViewPeer*>(self);
        std::shared_ptr<GError> copy(g_error_copy(error), g_error_free);
        if (!peer->later([peer, url = std::string(uri ? uri : ""), copy] { peer->loadFailed(url.c_str(), copy.get()); }))
            peer->loadFailed(uri, error);
        return TRUE; // no error page: the page shown stays, as the delegate expects
    }), this);
    g_signal_connect(web, "resource-load-started", G_CALLBACK(+[](WebKitWebView* web, WebKitWebResource* resource,
                                                                    WebKitURIRequest* request, gpointer self) {
        if (resource != webkit_web_view_get_main_resource(web))
            return;
        auto* peer = static_cast<WebViewPeer*>(self);
        const char* uri = webkit_uri_request_get_uri(request);
        if (!peer->later([peer, url = std::string(uri ? uri : "")] { peer->mainResourceStarted(url.c_str()); }))
            peer->mainResourceStarted(uri);
    }), this);
    g_signal_connect(web, "load-failed-with-tls-errors", G_CALLBACK(+[](WebKitWebView*, const char* uri,
                                                                          GTlsCertificate* certificate,
                                                                          GTlsCertificateFlags errors, gpointer self) -> gboolean {
        auto* peer = static_cast<WebViewPeer*>(self);
        if (peer->later([peer, url = std::string(uri ? uri : ""), certificate = keep(certificate), errors] {
                peer->tlsErrors(url.c_str(), certificate.get(), errors);
            }))
            return TRUE;
        return peer->tlsErrors(uri, certificate, errors);
    }), this);
    g_signal_connect(web, "script-dialog", G_CALLBACK(+[](WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) -> gboolean {
        auto* peer = static_cast<WebViewPeer*>(self);
        std::shared_ptr<WebKitScriptDialog> held(webkit_script_dialog_ref(dialog), webkit_script_dialog_unref);
        if (peer->later([peer, held] { peer->scriptDialog(held.get()); }))
            return TRUE;
        return peer->scriptDialog(dialog);
    }), this);
    g_signal_connect(web, "create", G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction*, gpointer) -> GtkWidget* {
        return nullptr; // never a second window
    }), nullptr);
    // Nor a window of WebKit's own: no printing, no choosers, no fullscreen, and no permission
    // that a page may ask for (location, camera, notifications...).
    webkit_settings_set_enable_fullscreen(webSettings, FALSE);
    g_signal_connect(web, "print", G_CALLBACK(+[](WebKitWebView*, WebKitPrintOperation*, gpointer) -> gboolean {
        return TRUE;
    }), nullptr);
    g_signal_connect(web, "run-file-chooser", G_CALLBACK(+[](WebKitWebView*, WebKitFileChooserRequest* request,
                                                               gpointer) -> gboolean {
        webkit_file_chooser_request_cancel(request);
        return TRUE;
    }), nullptr);
    g_signal_connect(web, "run-color-chooser", G_CALLBACK(+[](WebKitWebView*, WebKitColorChooserRequest* request,
                                                                gpointer) -> gboolean {
        webkit_color_chooser_request_cancel(request);
        return TRUE;
    }), nullptr);
    g_signal_connect(web, "enter-fullscreen", G_CALLBACK(+[](WebKitWebView*, gpointer) -> gboolean { return TRUE; }),
                     nullptr);
    g_signal_connect(web, "permission-request", G_CALLBACK(+[](WebKitWebView*, WebKitPermissionRequest* request,
                                                                 gpointer) -> gboolean {
        webkit_permission_request_deny(request);
        return TRUE;
    }), nullptr);
    g_signal_connect(web, "show-notification", G_CALLBACK(+[](WebKitWebView*, WebKitNotification*, gpointer) -> gboolean {
        return TRUE;
    }), nullptr);
    g_signal_connect(web, "context-menu", G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                                           WebKitHitTestResult*, gpointer) -> gboolean { return TRUE; }),
                     nullptr);
    g_signal_connect(web, "scroll-event", G_CALLBACK(+[](GtkWidget*, GdkEventScroll* event, gpointer) -> gboolean {
        return (event->state & GDK_CONTROL_MASK) != 0; // no zoom by wheel
    }), nullptr);
    // A page whose script never ends holds its web process: WebKit notices when the process stops
    // answering, and the process is ended, so that the next page gets a fresh one.
    g_signal_connect(web, "notify::is-web-process-responsive", G_CALLBACK(+[](GObject* object, GParamSpec*, gpointer) {
        auto* web = WEBKIT_WEB_VIEW(object);
        if (!webkit_web_view_get_is_web_process_responsive(web))
            webkit_web_view_terminate_web_process(web);
    }), nullptr);
    g_signal_connect(web, "web-process-terminated", G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason,
                                                                     gpointer self) {
        auto* peer = static_cast<WebViewPeer*>(self);
        if (!peer->later([peer] { peer->webProcessEnded(); }))
            peer->webProcessEnded();
    }), this);
}

WebViewPeer::~WebViewPeer()
{
    disarmTimeout();
    g_signal_handlers_disconnect_by_data(gtk_settings_get_default(), this);
    g_signal_handlers_disconnect_by_data(webView_.get(), this);
    g_object_set_data(G_OBJECT(webView_.get()), peerKey, nullptr);
    // Nothing may call back into a view that is going away.
    webkit_web_view_stop_loading(webView_.get());
}

GtkWidget* WebViewPeer::widget() const { return GTK_WIDGET(webView_.get()); }

void WebViewPeer::followTitle(std::function<void(const char*)> observer)
{
    titleObserver_ = std::move(observer);
    if (titleObserver_)
        titleObserver_(webkit_web_view_get_title(webView_.get()));
}

double WebViewPeer::zoomLevel(int scale, int xftDpi)
{
    if (xftDpi <= 0)
        return scale;
    return scale * (96.0 * 1024.0) / xftDpi;
}

void WebViewPeer::followTextSize()
{
    int dpi = 0;
    g_object_get(gtk_settings_get_default(), "gtk-xft-dpi", &dpi, nullptr);
    webkit_web_view_set_zoom_level(webView_.get(), zoomLevel(scale_, dpi));
}

std::string WebViewPeer::currentURL() const
{
    const char* uri = webkit_web_view_get_uri(webView_.get());
    return uri ? uri : loadURL_;
}

void WebViewPeer::load(const kit::URLRequest& request)
{
    // The load it replaces has been reported cancelled; WebKit's own report of it is not passed on.
    inFlight_ = false;
    provisional_ = false;
    startPending_ = false;
    loadURL_ = request.url;
    ownLoadLed_ = request.navigation;
    refusedHop_.clear();
    ownLoadPending_ = true;
    ownLoadDecided_ = false;
    repeat_ = Repeat::None;
    tlsAllowed_ = false;
    cancelRetried_ = false;
    stopAsked_ = false;
    pageNavigated_ = false;
    armTimeout();
    startOwnLoad();
}

// A web process that names a file: URL to WebKit (a server redirecting there, say) is ended at
// once, taking the page with it, unless it was once given a document under a file: base. So
// every new process first gets an empty one based at "/": that grants it nothing (what it may
// read is the sandbox's business), and the redirect is then cancelled like any other refused one.
void WebViewPeer::startOwnLoad()
{
    if (!primed_) {
        primed_ = true;
        priming_ = true;
        webkit_web_view_load_html(webView_.get(), "", "file:///");
        return;
    }
    if (priming_)
        return; // the load follows once the empty document is in
    WebKitURIRequest* uriRequest = webkit_uri_request_new(loadURL_.c_str());
    webkit_web_view_load_request(webView_.get(), uriRequest);
    g_object_unref(uriRequest);
}

void WebViewPeer::primed()
{
    if (!priming_)
        return;
    if (!restoreURL_.empty() && !ownLoadPending_ && !restoring_) {
        // In place of the page that went with the last process, an empty document at its address,
        // where what is asked of the page (an alert's button script) still runs.
        restoring_ = true;
        webkit_web_view_load_html(webView_.get(), "", restoreURL_.c_str());
        return;
    }
    priming_ = false;
    restoring_ = false;
    restoreURL_.clear();
    auto scripts = std::exchange(heldScripts_, {});
    if (ownLoadPending_) {
        startOwnLoad(); // what the scripts were meant for is being replaced
        return;
    }
    for (const auto& script : scripts)
        evaluate(script);
}

void WebViewPeer::stop()
{
    // The web view reports the load cancelled; what WebKit then says of it is not passed on.
    bool asked = !(priming_ && ownLoadPending_); // otherwise WebKit never heard of it
    inFlight_ = false;
    ownLoadPending_ = false;
    provisional_ = false;
    startPending_ = false;
    disarmTimeout();
    if (asked) {
        stopAsked_ = true;
        webkit_web_view_stop_loading(webView_.get());
    }
}

void WebViewPeer::evaluate(const std::string& script)
{
    if (priming_ && !restoreURL_.empty()) {
        heldScripts_.push_back(script); // for the document that stands in for the page
        return;
    }
    webkit_web_view_evaluate_javascript(webView_.get(), script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

void WebViewPeer::navigateFromPage(const std::string& url)
{
    evaluate("window.location.href = " + nlohmann::json(url).dump() + ";");
}

bool WebViewPeer::decidePolicy(WebKitPolicyDecision* decision, int type)
{
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE)
        return decideResponse(WEBKIT_RESPONSE_POLICY_DECISION(decision));
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return FALSE;
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = webkit_uri_request_get_uri(request);
    std::string url = uri ? uri : "";
    WebKitNavigationType navigation = webkit_navigation_action_get_navigation_type(action);
    bool newWindow = type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION;
    bool redirect = webkit_navigation_action_is_redirect(action);
    // WebKit names the document that started a page's navigation only in its Referer, which a
    // page may withhold (and which a redirect hop keeps from the load's first request).
    std::optional<std::string> referer;
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request))
        if (const char* value = soup_message_headers_get_one(headers, "Referer"))
            referer = value;

    if (priming_) {
        // Nothing but the empty documents until they are in.
        if (!newWindow && (url == "file:///" || (restoring_ && url == restoreURL_)))
            webkit_policy_decision_use(decision);
        else
            webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    // load() has asked the delegate already.
    if (ownLoadPending_ && !newWindow && !redirect && (url == loadURL_ || (navigation == WEBKIT_NAVIGATION_TYPE_OTHER && !referer))) {
        ownLoadPending_ = false;
        ownLoadDecided_ = true;
        if (repeat_ != Repeat::Asked)
            main_ = MainLoad{ownLoadLed_, {loadURL_}};
        webkit_policy_decision_use(decision);
        return TRUE;
    }
    if (ownLoadPending_) {
        // The page's own navigation (a reload, a script's), begun before WebKit took up the load
        // asked for: that load replaces it, as a person's click replaces what a page had scheduled.
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }

    kit::URLRequest asked = kit::URLRequest::requestWithURL(url);
    kit::NavigationContext& led = asked.navigation;
    // WebKit does not say which frame a hop belongs to. The main frame's load has already taken
    // the hop's address when WebKit asks; any other hop may come from any frame's load.
    if (redirect && startPending_)
        reportPendingStart(pageNavigations_.empty() ? currentURL() : pageNavigations_.back().url);
    bool mainHop = redirect && provisional_ && url == currentURL();
    if (mainHop) {
        led = main_.led;
        led.earlierHops = main_.hops;
    } else {
        led.startingDocument = referer;
        if (redirect) {
            led.earlierHops = main_.hops;
            led.earlierHops.insert(led.earlierHops.end(), frameHops_.begin(), frameHops_.end());
            led.hopsKnown = !lostTrack_;
        }
    }
    led.redirect = redirect;
    bool allowed = view_.engineShouldStartLoad(asked, navigationType(navigation));
    if (mainHop && !allowed)
        refusedHop_ = url;
    if (!allowed || newWindow) {
        webkit_policy_decision_ignore(decision);
        // A window the page asked for opens in this view.
        if (allowed)
            view_.engineLoadAllowedRequest(asked);
        return TRUE;
    }
    if (mainHop)
        main_.hops.push_back(url);
    else {
        pageNavigated_ = true;
        trackPageNavigation(url, led);
    }
    webkit_policy_decision_use(decision);
    return TRUE;
}

void WebViewPeer::trackPageNavigation(const std::string& url, const kit::NavigationContext& led)
{
    if (pageNavigations_.size() >= maxTracked || frameHops_.size() >= maxTracked) {
        // Too many to follow: hops of unknown loads then count as coming from anywhere.
        lostTrack_ = true;
        pageNavigations_.erase(pageNavigations_.begin());
        frameHops_.clear();
    }
    if (!led.redirect)
        pageNavigations_.push_back({url, led});
    // Only a web page's load can be redirected: the blank, srcdoc and data: documents a page
    // makes for its frames are no way to a hop.
    std::string scheme = kit::URL::scheme(url);
    if (scheme == "http" || scheme == "https")
        frameHops_.push_back(url);
}

// A response is shown or refused, never saved: WebKit would save one that asks to be (an
// attachment), and WebKit cannot show one of a type it does not know.
bool WebViewPeer::decideResponse(WebKitResponsePolicyDecision* decision)
{
    SoupMessageHeaders* headers =
        webkit_uri_response_get_http_headers(webkit_response_policy_decision_get_response(decision));
    const char* disposition = headers ? soup_message_headers_get_one(headers, "Content-Disposition") : nullptr;
    if (webkit_response_policy_decision_is_mime_type_supported(decision)
        && !(disposition && kit::DownloadPolicy::asksToSave(disposition))) {
        webkit_policy_decision_use(WEBKIT_POLICY_DECISION(decision));
        return TRUE;
    }
    // WebKit then fails the page's load as interrupted; the delegate hears why.
    if (webkit_response_policy_decision_is_main_frame_main_resource(decision))
        responseRefused_ = true;
    webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
    return TRUE;
}

void WebViewPeer::downloadStarted(WebKitDownload* download)
{
    // Cancelled before it is given a file, so nothing is written, replaced or deleted.
    g_signal_connect(download, "decide-destination", G_CALLBACK(+[](WebKitDownload* d, gchar*, gpointer) -> gboolean {
        webkit_download_cancel(d);
        return TRUE;
    }), nullptr);
    webkit_download_cancel(download);
    WebKitWebView* web = webkit_download_get_web_view(download);
    auto* peer = web ? static_cast<WebViewPeer*>(g_object_get_data(G_OBJECT(web), peerKey)) : nullptr;
    // A page's download link: the delegate let its load through, and nothing else will end it.
    // While a page is loading, that load's end does.
    if (!peer || peer->inFlight_ || peer->ownLoadPending_)
        return;
    const char* uri = webkit_uri_request_get_uri(webkit_download_get_request(download));
    auto report = [peer, url = std::string(uri ? uri : "")] {
        peer->view_.engineDidBeginLoad(url);
        peer->view_.engineDidFailLoad(url, kit::DownloadPolicy::refused());
    };
    if (!peer->later(report))
        report();
}

void WebViewPeer::loadChanged(int event)
{
    if (repeatLoad(event))
        return;
    switch (event) {
    case WEBKIT_LOAD_STARTED:
        responseRefused_ = false; // a refusal that never failed its load is no news for this one
        // Until WebKit has taken up the load asked for, whatever starts is a navigation that load()
        // replaced (a page reloading itself, say): its end is not reported either.
        if (ownLoadPending_ || priming_)
            break;
        inFlight_ = true;
        provisional_ = true;
        armTimeout();
        if (ownLoadDecided_) {
            ownLoadDecided_ = false; // its start is the web view's to report
        } else {
            // The page's own navigation of the main frame, which WebKit names only once its main
            // resource starts: see mainResourceStarted.
            startPending_ = true;
        }
        break;
    case WEBKIT_LOAD_REDIRECTED:
        reportPendingStart(currentURL());
        break;
    case WEBKIT_LOAD_COMMITTED:
        if (priming_)
            break;
        reportPendingStart(currentURL());
        // The frames of the document before are gone, and so are their loads.
        provisional_ = false;
        pageNavigations_.clear();
        frameHops_.clear();
        lostTrack_ = false;
        break;
    case WEBKIT_LOAD_FINISHED:
        if (priming_) {
            primed();
            break;
        }
        reportPendingStart(currentURL());
        provisional_ = false;
        disarmTimeout();
        if (inFlight_) {
            inFlight_ = false;
            view_.engineDidFinishLoad(currentURL());
        }
        break;
    default:
        break;
    }
}

void WebViewPeer::mainResourceStarted(const char* uri)
{
    if (startPending_ && uri && *uri)
        reportPendingStart(uri);
}

// The page's own navigation of the main frame starts: it is reported under the address it asked
// for, and it was led there as that navigation was.
void WebViewPeer::reportPendingStart(const std::string& url)
{
    if (!startPending_)
        return;
    startPending_ = false;
    refusedHop_.clear();
    auto found = std::find_if(pageNavigations_.rbegin(), pageNavigations_.rend(),
                              [&](const PageNavigation& n) { return n.url == url; });
    main_ = MainLoad{found != pageNavigations_.rend() ? found->led : kit::NavigationContext{}, {url}};
    loadURL_ = url;
    view_.engineDidBeginLoad(loadURL_);
}

void WebViewPeer::loadFailed(const char* uri, const GError* error)
{
    if (priming_ || !inFlight_)
        return; // already ended: replaced, or failed by the time-out
    reportPendingStart(uri ? uri : currentURL());
    if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED && !stopAsked_ && !pageNavigated_
        && !main_.hops.empty()) {
        // Cancelled with nobody asking: the network layer gave up on the connection (its
        // handshake raced by WebKit's own preconnection, say). Tried once more; a second time
        // the connection counts as lost, for the player must hear that the page did not come.
        if (!std::exchange(cancelRetried_, true)) {
            askRepeat(main_.hops.back());
            return;
        }
        inFlight_ = false;
        provisional_ = false;
        disarmTimeout();
        view_.engineDidFailLoad(main_.hops.back(), kit::NetworkError::make(kit::NetworkError::NetworkConnectionLost));
        return;
    }
    if (uri && !kit::WebView::loadsURL(uri) && !main_.hops.empty() && main_.hops.back() != uri && refusedHop_ != uri) {
        // A hop to a scheme that WebKit cancels before asking: the delegate hears of it as of
        // any hop (the page table and the bridge apply), and the load ends as a refused one.
        kit::URLRequest hop = kit::URLRequest::requestWithURL(uri);
        hop.navigation = main_.led;
        hop.navigation.redirect = true;
        hop.navigation.earlierHops = main_.hops;
        view_.engineShouldStartLoad(hop, kit::NavigationType::Other);
        if (!inFlight_)
            return; // the delegate has started another load meanwhile
        inFlight_ = false;
        provisional_ = false;
        disarmTimeout();
        view_.engineDidFailLoad(main_.hops.back(), kit::NetworkError::make(kit::NetworkError::Cancelled));
        return;
    }
    if (!refusedHop_.empty() && !main_.hops.empty() && error->domain == WEBKIT_POLICY_ERROR
        && error->code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) {
        // A hop the delegate (or the scheme) refused: the load ends as cancelled, as any
        // engine's does, not as a failure of its own.
        inFlight_ = false;
        provisional_ = false;
        disarmTimeout();
        view_.engineDidFailLoad(main_.hops.back(), kit::NetworkError::make(kit::NetworkError::Cancelled));
        return;
    }
    inFlight_ = false;
    provisional_ = false;
    disarmTimeout();
    bool refused = std::exchange(responseRefused_, false) && error->domain == WEBKIT_POLICY_ERROR
        && error->code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE;
    GNetworkMonitor* monitor = g_network_monitor_get_default();
    bool available = !monitor || g_network_monitor_get_network_available(monitor);
    view_.engineDidFailLoad(uri ? uri : currentURL(),
                            refused ? kit::DownloadPolicy::refused()
                                    : errorForFailedLoad(g_quark_to_string(error->domain), error->code, error->message,
                                                         available));
}

void WebViewPeer::webProcessEnded()
{
    // The next process is a new one, to be primed again; when the last one ended while being
    // primed, the load goes ahead without.
    bool endedPriming = priming_;
    priming_ = false;
    restoring_ = false;
    restoreURL_.clear();
    heldScripts_.clear();
    provisional_ = false;
    primed_ = endedPriming && ownLoadPending_;
    if (ownLoadPending_) {
        // The load asked for never reached the old process: the new one takes it, within the
        // time-out already running.
        startOwnLoad();
        if (endedPriming)
            primed_ = false;
    } else if (inFlight_) {
        reportPendingStart(currentURL());
        inFlight_ = false;
        disarmTimeout();
        view_.engineDidFailLoad(currentURL(), kit::NetworkError::make(kWebProcessEnded, "The page stopped responding."));
    } else if (!endedPriming && kit::WebView::loadsURL(currentURL())) {
        // The page shown went with its process and the view is blank: the player hears of it as
        // of a load that failed, and a fresh process takes an empty document in its place.
        std::string url = currentURL();
        restoreURL_ = url;
        startOwnLoad();
        view_.engineDidBeginLoad(url);
        view_.engineDidFailLoad(url, kit::NetworkError::make(kWebProcessEnded, "The page stopped responding."));
    }
}

bool WebViewPeer::scriptDialog(WebKitScriptDialog* dialog)
{
    auto type = webkit_script_dialog_get_dialog_type(dialog);
    std::vector<std::optional<std::string>> others{std::string("OK")};
    std::optional<std::string> cancel;
    if (type != WEBKIT_SCRIPT_DIALOG_ALERT)
        cancel = "Cancel";
    auto delegate = std::make_shared<ScriptDialogDelegate>(dialog);
    ScriptDialogDelegate::all().push_back(delegate);
    auto alert = std::make_shared<kit::AlertView>(hostOf(webkit_web_view_get_uri(webView_.get())),
                                                  std::string(webkit_script_dialog_get_message(dialog)), delegate,
                                                  cancel, others);
    if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) {
        const char* text = webkit_script_dialog_prompt_get_default_text(dialog);
        alert->addTextFieldWithValue(text ? text : "", "");
    }
    alert->show();
    if (!alert->isVisible()) {
        // More alerts than the screen holds: this one is answered at once, so the page never
        // waits for it.
        delegate->declineNow();
        auto& live = ScriptDialogDelegate::all();
        live.erase(std::remove(live.begin(), live.end(), delegate), live.end());
    }
    return true;
}

void WebViewPeer::armTimeout()
{
    disarmTimeout();
    timeoutTask_ = kit::RunLoop::main().schedule(kit::RunLoop::toMicros(loadTimeout_), [this] {
        timeoutTask_ = 0;
        timedOut();
    });
}

void WebViewPeer::disarmTimeout()
{
    if (timeoutTask_)
        kit::RunLoop::main().cancel(timeoutTask_);
    timeoutTask_ = 0;
}

// WebKit waits for a silent server for ever; the kit's engines give up after the time-out.
void WebViewPeer::timedOut()
{
    if (!inFlight_ && !ownLoadPending_)
        return;
    bool started = inFlight_;
    inFlight_ = false;
    ownLoadPending_ = false;
    provisional_ = false;
    priming_ = false;
    if (started)
        reportPendingStart(currentURL());
    std::string url = started ? currentURL() : loadURL_;
    // The cancellation that follows is ours: nothing more is reported.
    webkit_web_view_stop_loading(webView_.get());
    view_.engineDidFailLoad(url, kit::NetworkError::make(kit::NetworkError::TimedOut));
}

// Once the hold has ended, what WebKit reports still waits while earlier reports do, so that
// the delegate sees everything in the order WebKit said it.
bool WebViewPeer::later(std::function<void()> report)
{
    auto& loop = kit::RunLoop::main();
    if (!loop.isHeld() && waiting_ == 0)
        return false;
    ++waiting_;
    loop.post([this, alive = std::weak_ptr<int>(alive_), report = std::move(report)] {
        if (alive.expired())
            return;
        --waiting_;
        report();
    });
    return true;
}

// WebKit trusts the system's authorities alone. A certificate that an authority of --ca-file
// vouches for is allowed for its host, and the load is repeated as the same load: the delegate
// and the transcript never see the first attempt. Anything else fails the load with the code of
// its problem; WebKit is never left to report the failure itself.
bool WebViewPeer::tlsErrors(const char* uri, GTlsCertificate* certificate, GTlsCertificateFlags errors)
{
    if (!inFlight_)
        return TRUE; // replaced, or failed by the time-out
    std::string url = uri && *uri ? uri : currentURL();
    std::string host = hostOf(url.c_str());
    auto failure = tlsFailure(certificate, errors, host, fileAuthorities());
    if (!failure && !std::exchange(tlsAllowed_, true)) {
        webkit_web_context_allow_tls_certificate_for_host(webkit_web_view_get_context(webView_.get()), certificate, host.c_str());
        askRepeat(url);
        return TRUE;
    }
    // Refused even after it was allowed: nothing is tried a third time.
    if (!failure)
        failure = kit::NetworkError::certificateError(kit::NetworkError::CertificateProblem::Other, host);
    inFlight_ = false;
    disarmTimeout();
    view_.engineDidFailLoad(url, *failure);
    return TRUE;
}

void WebViewPeer::askRepeat(const std::string& url)
{
    repeat_ = Repeat::Pending;
    repeatURL_ = url;
}

// The first attempt's end starts the repeat, whose start is the load's start, reported already.
bool WebViewPeer::repeatLoad(int event)
{
    switch (repeat_) {
    case Repeat::Pending:
        if (event != WEBKIT_LOAD_FINISHED)
            return false;
        if (!inFlight_) { // ended meanwhile (the time-out)
            repeat_ = Repeat::None;
            return false;
        }
        repeat_ = Repeat::Asked;
        loadURL_ = std::exchange(repeatURL_, std::string());
        // The repeat's navigation is ours: the delegate said yes to this load already, and it
        // keeps how the load was led there and the hops it went through.
        ownLoadPending_ = true;
        ownLoadDecided_ = false;
        {
            WebKitURIRequest* request = webkit_uri_request_new(loadURL_.c_str());
            webkit_web_view_load_request(webView_.get(), request);
            g_object_unref(request);
        }
        return true;
    case Repeat::Asked:
        if (event != WEBKIT_LOAD_STARTED || ownLoadPending_)
            return false;
        repeat_ = Repeat::Started;
        ownLoadDecided_ = false; // its start was reported with the first attempt's
        return true;
    case Repeat::Started:
        if (event == WEBKIT_LOAD_FINISHED)
            repeat_ = Repeat::None;
        return false;
    default:
        return false;
    }
}

} // namespace backend::gtk
