#include "kit/WebView.h"

#include "kit/Events.h"

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
    if (engineShouldStartLoad(request, NavigationType::Other) && engine_)
        engine_->load(request);
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

bool WebView::engineShouldStartLoad(const URLRequest& request, NavigationType type)
{
    bool allow = delegate_ ? delegate_->shouldStartLoadWithRequest(*this, request, type) : true;
    emit("decide", {{"url", request.url}, {"allow", allow}});
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
