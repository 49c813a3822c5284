#include "kit/WebView.h"

#include "kit/Events.h"
#include "kit/NetworkError.h"
#include "kit/URL.h"

#include <algorithm>

namespace kit {

static WebView::EngineFactory& engineFactory()
{
    static auto* factory = new WebView::EngineFactory();
    return *factory;
}

static std::vector<WebView*>& liveWebViews()
{
    static auto* views = new std::vector<WebView*>();
    return *views;
}

static WebViewObserver*& observer()
{
    static WebViewObserver* current = nullptr;
    return current;
}

void WebView::setObserver(WebViewObserver* watcher) { observer() = watcher; }

void WebView::setEngineFactory(EngineFactory factory) { engineFactory() = std::move(factory); }

const std::vector<WebView*>& WebView::allWebViews() { return liveWebViews(); }

WebView::WebView(Rect frame)
    : View(frame)
{
    liveWebViews().push_back(this);
    if (engineFactory())
        engine_ = engineFactory()(*this);
}

WebView::~WebView()
{
    RunLoop::main().cancel(startTask_);
    engine_.reset();
    auto& views = liveWebViews();
    views.erase(std::remove(views.begin(), views.end(), this), views.end());
}

void WebView::loadRequest(const URLRequest& request)
{
    URLRequest own = request;
    own.navigation = NavigationContext{};
    own.navigation.byClient = true;
    if (!documentURL_)
        documentURL_ = own.url;
    if (engineShouldStartLoad(own, NavigationType::Other))
        beginLoad(own);
}

void WebView::loadFromPage(const URLRequest& request, NavigationType type)
{
    if (engineShouldStartLoad(request, type))
        beginLoad(request);
}

void WebView::beginLoad(const URLRequest& request)
{
    if (!engine_)
        return;
    cancelLoad();
    loading_ = true;
    startReported_ = false;
    loadURL_ = request.url;
    ++loadSerial_;
    // Posted before the engine starts, so the start comes before anything the transport reports.
    startTask_ = RunLoop::main().post([this] {
        startTask_ = 0;
        reportStart();
    });
    engine_->loadImpl(request);
}

void WebView::stopLoading()
{
    if (!loading_)
        return;
    engine_->stopLoadingImpl();
    cancelLoad();
}

void WebView::cancelLoad()
{
    if (!loading_)
        return;
    loading_ = false;
    ++loadSerial_;
    RunLoop::main().cancel(startTask_);
    startTask_ = 0;
    reportFailure(loadURL_, NetworkError::make(NetworkError::Cancelled));
}

void WebView::reportFailure(const std::string& url, const Error& error)
{
    emit("load-fail", {{"url", url}, {"code", error.code}, {"description", error.description}});
    if (delegate_)
        delegate_->didFailLoadWithError(*this, error);
}

bool WebView::reportStart()
{
    if (!loading_)
        return false;
    if (startReported_)
        return true;
    RunLoop::main().cancel(startTask_);
    startTask_ = 0;
    startReported_ = true;
    auto serial = loadSerial_;
    url_ = loadURL_;
    emit("load-start", {{"url", loadURL_}});
    if (delegate_)
        delegate_->webViewDidStartLoad(*this);
    return loading_ && serial == loadSerial_;
}

void WebView::stringByEvaluatingJavaScriptFromString(const std::string& script)
{
    emit("js", {{"script", script}});
    if (engine_)
        engine_->evaluateJavaScriptImpl(script);
}

bool WebView::loadsURL(std::string_view url)
{
    std::string scheme = URL::scheme(url);
    if (scheme == "http" || scheme == "https" || scheme == "data" || scheme == "blob")
        return true;
    if (scheme != "about")
        return false;
    std::string_view page = url.substr(url.find(':') + 1);
    page = page.substr(0, page.find_first_of("?#"));
    return page == "blank" || page == "srcdoc";
}

bool WebView::engineShouldStartLoad(const URLRequest& request, NavigationType type)
{
    bool allow = delegate_ ? delegate_->shouldStartLoadWithRequest(*this, request, type) : true;
    emit("decide", {{"url", request.url}, {"allow", allow}});
    if (allow && !loadsURL(request.url)) {
        emit("scheme-refused", {{"url", request.url}});
        allow = false;
    }
    if (observer())
        observer()->webViewDecided(*this, request, allow);
    return allow;
}

void WebView::engineDidBeginLoad(const std::string& url)
{
    cancelLoad();
    loading_ = true;
    startReported_ = false;
    loadURL_ = url;
    ++loadSerial_;
    reportStart();
}

void WebView::engineDidRedirect(const std::string& url)
{
    if (loading_)
        loadURL_ = url;
}

void WebView::engineDidFinishLoad(const std::string& url)
{
    if (!reportStart())
        return;
    if (observer())
        observer()->webViewEngineFinished(*this, url);
    loading_ = false;
    ++loadSerial_;
    // After redirects the page shown is the last hop's.
    url_ = url;
    documentURL_ = url;
    emit("load-finish", {{"url", url}});
    if (delegate_)
        delegate_->webViewDidFinishLoad(*this);
}

void WebView::engineDidFailLoad(const std::string& url, const Error& error)
{
    if (!reportStart())
        return;
    if (observer())
        observer()->webViewEngineFailed(*this, url, error);
    loading_ = false;
    ++loadSerial_;
    reportFailure(url, error);
}

} // namespace kit
