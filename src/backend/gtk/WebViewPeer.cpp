#include "backend/gtk/WebViewPeer.h"

#include "backend/gtk/CookieJarPeer.h"
#include "backend/gtk/WindowPeer.h"
#include "backend/headless/DownloadPolicy.h"
#include "backend/headless/NetworkError.h"
#include "kit/AlertView.h"

#include <algorithm>
#include <libsoup/soup.h>
#include <memory>
#include <utility>
#include <gio/gio.h>
#include <nlohmann/json.hpp>
#include <vector>
#include <webkit2/webkit2.h>

namespace backend::gtk {

using backend::headless::DownloadPolicy;
using backend::headless::NetworkError;

namespace {

WebViewPeer::Settings settings;
// The peer of a WebKitWebView, for WebKit's signals that name only the view.
constexpr const char* peerKey = "street-web-view-peer";
WebKitWebContext* context = nullptr;
std::unique_ptr<CookieJarPeer> cookies;

WebKitWebContext* sharedContext()
{
    if (context)
        return context;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
        "base-data-directory", settings.dataDirectory.empty() ? nullptr : settings.dataDirectory.c_str(),
        "base-cache-directory", settings.cacheDirectory.empty() ? nullptr : settings.cacheDirectory.c_str(), nullptr);
    context = webkit_web_context_new_with_website_data_manager(manager);
    G_GNUC_END_IGNORE_DEPRECATIONS
    // Before any web process starts. WebKit leaves it off when the player has turned it off.
    webkit_web_context_set_sandbox_enabled(context, TRUE);
    // Responses to be saved are refused before this; anything that still turns into a download
    // (a link with a download attribute) is cancelled before it has a file.
    g_signal_connect(context, "download-started", G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download, gpointer) {
        WebViewPeer::downloadStarted(download);
    }), nullptr);
    // One jar for every page, kept across launches.
    if (!settings.dataDirectory.empty()) {
        std::string jar = settings.dataDirectory + "/cookies.sqlite";
        webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(manager), jar.c_str(),
                                                     WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    }
    // The invite post sends the cookies the pages got.
    cookies = std::make_unique<CookieJarPeer>(webkit_website_data_manager_get_cookie_manager(manager));
    g_object_unref(manager);
    return context;
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

void WebViewPeer::configure(Settings newSettings) { settings = std::move(newSettings); }

void WebViewPeer::releaseContext()
{
    ScriptDialogDelegate::all().clear();
    cookies.reset();
    if (context)
        g_object_unref(context);
    context = nullptr;
}

kit::Error WebViewPeer::errorForFailedLoad(std::string_view domain, int code, std::string_view message,
                                           bool networkAvailable)
{
    auto is = [&](GQuark quark) { return domain == g_quark_to_string(quark); };
    int mapped = 0;
    if ((is(WEBKIT_NETWORK_ERROR) && code == WEBKIT_NETWORK_ERROR_CANCELLED) || (is(G_IO_ERROR) && code == G_IO_ERROR_CANCELLED)) {
        mapped = NetworkError::Cancelled;
    } else if (is(G_RESOLVER_ERROR) || (is(G_IO_ERROR) && code == G_IO_ERROR_HOST_NOT_FOUND)) {
        mapped = networkAvailable ? NetworkError::CannotFindHost : NetworkError::NotConnectedToInternet;
    } else if (is(G_IO_ERROR)) {
        switch (code) {
        case G_IO_ERROR_CONNECTION_REFUSED:
            mapped = NetworkError::CannotConnectToHost;
            break;
        case G_IO_ERROR_NETWORK_UNREACHABLE:
        case G_IO_ERROR_HOST_UNREACHABLE:
            mapped = NetworkError::NotConnectedToInternet;
            break;
        case G_IO_ERROR_TIMED_OUT:
            mapped = NetworkError::TimedOut;
            break;
        case G_IO_ERROR_CONNECTION_CLOSED: // also a broken pipe
        case G_IO_ERROR_PARTIAL_INPUT:
        case G_IO_ERROR_NOT_CONNECTED:
            mapped = NetworkError::NetworkConnectionLost;
            break;
        default:
            break;
        }
    }
    if (mapped)
        return NetworkError::make(mapped);
    // Anything else keeps WebKit's words, under a code of its own that no other failure uses.
    return NetworkError::make(-(3000 + std::abs(code)), std::string(message));
}

WebViewPeer::WebViewPeer(kit::WebView& view)
    : view_(view)
    , webView_(WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", sharedContext(), nullptr)))
    , loadTimeout_(settings.loadTimeout)
{
    WebKitWebView* web = webView_.get();
    g_object_set_data(G_OBJECT(web), peerKey, this);
    GdkRGBA clear{0, 0, 0, 0};
    webkit_web_view_set_background_color(web, &clear);
    webkit_web_view_set_zoom_level(web, settings.scale);
    WebKitSettings* webSettings = webkit_web_view_get_settings(web);
    webkit_settings_set_javascript_can_open_windows_automatically(webSettings, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(webSettings, FALSE);
    webkit_settings_set_enable_developer_extras(webSettings, FALSE);

    g_signal_connect(web, "decide-policy", G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision,
                                                            WebKitPolicyDecisionType type, gpointer self) -> gboolean {
        return static_cast<WebViewPeer*>(self)->decidePolicy(decision, type);
    }), this);
    g_signal_connect(web, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
        static_cast<WebViewPeer*>(self)->loadChanged(event);
    }), this);
    g_signal_connect(web, "load-failed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, const char* uri, GError* error,
                                                          gpointer self) -> gboolean {
        static_cast<WebViewPeer*>(self)->loadFailed(uri, error);
        return TRUE; // no error page: the page shown stays, as the delegate expects
    }), this);
    g_signal_connect(web, "script-dialog", G_CALLBACK(+[](WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) -> gboolean {
        return static_cast<WebViewPeer*>(self)->scriptDialog(dialog);
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
        static_cast<WebViewPeer*>(self)->webProcessEnded();
    }), this);
    g_signal_connect(web, "notify::title", G_CALLBACK(+[](GObject* object, GParamSpec*, gpointer) {
        if (auto* window = WindowPeer::current())
            window->setPageTitle(webkit_web_view_get_title(WEBKIT_WEB_VIEW(object)));
    }), nullptr);
}

WebViewPeer::~WebViewPeer()
{
    disarmTimeout();
    g_signal_handlers_disconnect_by_data(webView_.get(), this);
    g_object_set_data(G_OBJECT(webView_.get()), peerKey, nullptr);
    // Nothing may call back into a view that is going away.
    webkit_web_view_stop_loading(webView_.get());
}

GtkWidget* WebViewPeer::widget() const { return GTK_WIDGET(webView_.get()); }

std::string WebViewPeer::currentURL() const
{
    const char* uri = webkit_web_view_get_uri(webView_.get());
    return uri ? uri : loadURL_;
}

void WebViewPeer::load(const kit::URLRequest& request)
{
    if (inFlight_ || ownLoadPending_) {
        // The load it replaces ends as cancelled; WebKit's own report of it is not passed on.
        inFlight_ = false;
        ownLoadPending_ = false;
        disarmTimeout();
        view_.engineDidFailLoad(loadURL_.empty() ? currentURL() : loadURL_, NetworkError::make(NetworkError::Cancelled));
    }
    loadURL_ = request.url;
    ownLoadPending_ = true;
    armTimeout();
    WebKitURIRequest* uriRequest = webkit_uri_request_new(request.url.c_str());
    webkit_web_view_load_request(webView_.get(), uriRequest);
    g_object_unref(uriRequest);
}

void WebViewPeer::stopLoading() { webkit_web_view_stop_loading(webView_.get()); }

void WebViewPeer::evaluateJavaScript(const std::string& script)
{
    webkit_web_view_evaluate_javascript(webView_.get(), script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

void WebViewPeer::navigateFromPage(const std::string& url)
{
    evaluateJavaScript("window.location.href = " + nlohmann::json(url).dump() + ";");
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

    // load() has asked the delegate already.
    if (ownLoadPending_ && !newWindow && (navigation == WEBKIT_NAVIGATION_TYPE_OTHER || url == loadURL_)
        && !webkit_navigation_action_is_redirect(action)) {
        ownLoadPending_ = false;
        webkit_policy_decision_use(decision);
        return TRUE;
    }
    if (ownLoadPending_) {
        // The page's own navigation (a reload, a script's), begun before WebKit took up the load
        // asked for: that load replaces it, as a person's click replaces what a page had scheduled.
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    bool allowed = view_.engineShouldStartLoad(kit::URLRequest::requestWithURL(url), navigationType(navigation));
    if (!allowed || newWindow) {
        webkit_policy_decision_ignore(decision);
        // A window the page asked for opens in this view.
        if (allowed)
            load(kit::URLRequest::requestWithURL(url));
        return TRUE;
    }
    // The page's own navigation: its start is reported under the address it asked for.
    loadURL_ = url;
    webkit_policy_decision_use(decision);
    return TRUE;
}

// A response is shown or refused, never saved: WebKit would save one that asks to be (an
// attachment), and WebKit cannot show one of a type it does not know.
bool WebViewPeer::decideResponse(WebKitResponsePolicyDecision* decision)
{
    SoupMessageHeaders* headers =
        webkit_uri_response_get_http_headers(webkit_response_policy_decision_get_response(decision));
    const char* disposition = headers ? soup_message_headers_get_one(headers, "Content-Disposition") : nullptr;
    if (webkit_response_policy_decision_is_mime_type_supported(decision)
        && !(disposition && DownloadPolicy::asksToSave(disposition))) {
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
    std::string url = uri ? uri : "";
    peer->view_.engineDidStartLoad(url);
    peer->view_.engineDidFailLoad(url, DownloadPolicy::refused());
}

void WebViewPeer::loadChanged(int event)
{
    switch (event) {
    case WEBKIT_LOAD_STARTED:
        responseRefused_ = false; // a refusal that never failed its load is no news for this one
        // Until WebKit has taken up the load asked for, whatever starts is a navigation that load()
        // replaced (a page reloading itself, say): its end is not reported either.
        if (ownLoadPending_)
            break;
        inFlight_ = true;
        armTimeout();
        view_.engineDidStartLoad(loadURL_.empty() ? currentURL() : loadURL_);
        break;
    case WEBKIT_LOAD_FINISHED:
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

void WebViewPeer::loadFailed(const char* uri, const GError* error)
{
    if (!inFlight_)
        return; // already ended: replaced, or failed by the time-out
    inFlight_ = false;
    disarmTimeout();
    bool refused = std::exchange(responseRefused_, false) && error->domain == WEBKIT_POLICY_ERROR
        && error->code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE;
    GNetworkMonitor* monitor = g_network_monitor_get_default();
    bool available = !monitor || g_network_monitor_get_network_available(monitor);
    view_.engineDidFailLoad(uri ? uri : currentURL(),
                            refused ? DownloadPolicy::refused()
                                    : errorForFailedLoad(g_quark_to_string(error->domain), error->code, error->message,
                                                         available));
}

void WebViewPeer::webProcessEnded()
{
    if (ownLoadPending_) {
        // The load asked for never reached the old process: the new one takes it, within the
        // time-out already running.
        WebKitURIRequest* request = webkit_uri_request_new(loadURL_.c_str());
        webkit_web_view_load_request(webView_.get(), request);
        g_object_unref(request);
    } else if (inFlight_) {
        inFlight_ = false;
        disarmTimeout();
        view_.engineDidFailLoad(currentURL(), NetworkError::make(kWebProcessEnded, "The page stopped responding."));
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
    std::string url = started ? currentURL() : loadURL_;
    // The cancellation that follows is ours: nothing more is reported.
    webkit_web_view_stop_loading(webView_.get());
    if (!started)
        view_.engineDidStartLoad(url);
    view_.engineDidFailLoad(url, NetworkError::make(NetworkError::TimedOut));
}

} // namespace backend::gtk
