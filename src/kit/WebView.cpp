#include "kit/WebView.h"

#include "kit/Events.h"
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
    if (engineShouldStartLoad(own, NavigationType::Other) && engine_)
        engine_->load(own);
}

void WebView::stopLoading()
{
    if (engine_)
        engine_->stopLoading();
}

bool WebView::isLoading() const { return engine_ && engine_->isLoading(); }

void WebView::stringByEvaluatingJavaScriptFromString(const std::string& script)
{
    emit("js", {{"script", script}});
    if (engine_)
        engine_->evaluateJavaScript(script);
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
        return false;
    }
    return allow;
}

void WebView::engineDidStartLoad(const std::string& url)
{
    url_ = url;
    emit("load-start", {{"url", url}});
    if (delegate_)
        delegate_->webViewDidStartLoad(*this);
}

void WebView::engineDidFinishLoad(const std::string& url)
{
    // After redirects the page shown is the last hop's.
    url_ = url;
    documentURL_ = url;
    emit("load-finish", {{"url", url}});
    if (delegate_)
        delegate_->webViewDidFinishLoad(*this);
}

void WebView::engineDidFailLoad(const std::string& url, const Error& error)
{
    emit("load-fail", {{"url", url}, {"code", error.code}, {"description", error.description}});
    if (delegate_)
        delegate_->didFailLoadWithError(*this, error);
}

} // namespace kit
