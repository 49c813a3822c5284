#include "backend/gtk/PageEngine.h"

#include <algorithm>
#include <vector>

namespace backend::gtk {

namespace {

PageEngineMaker*& currentMaker()
{
    static PageEngineMaker* maker = nullptr;
    return maker;
}

std::vector<LatePageEngine*>& liveEngines()
{
    static auto* engines = new std::vector<LatePageEngine*>();
    return *engines;
}

} // namespace

LatePageEngine::LatePageEngine(kit::WebView& view)
    : view_(view)
    , holder_(gtk_event_box_new())
{
    // Draws nothing of its own: the page's transparent background shows what is behind it.
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(holder_.get()), FALSE);
    // The page is drawn without compositing, and a page drawn so copies its pixels, transparent
    // ones too, over what is behind it: drawn apart first, it is laid over the pictures instead.
    g_signal_connect(holder_.get(), "draw", G_CALLBACK(+[](GtkWidget* holder, cairo_t* cr, gpointer) -> gboolean {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(holder));
        if (!child)
            return TRUE;
        cairo_push_group(cr);
        gtk_container_propagate_draw(GTK_CONTAINER(holder), child, cr);
        cairo_pop_group_to_source(cr);
        cairo_paint(cr);
        return TRUE;
    }), nullptr);
    liveEngines().push_back(this);
    if (auto* maker = currentMaker())
        attach(*maker);
}

LatePageEngine::~LatePageEngine()
{
    auto& engines = liveEngines();
    engines.erase(std::remove(engines.begin(), engines.end(), this), engines.end());
    detach();
}

void LatePageEngine::setMaker(PageEngineMaker* maker)
{
    currentMaker() = maker;
    for (auto* engine : liveEngines()) {
        if (maker)
            engine->attach(*maker);
        else
            engine->detach();
    }
}

void LatePageEngine::attach(PageEngineMaker& maker)
{
    if (page_)
        return;
    page_ = maker.make(view_);
    if (!page_)
        return;
    GtkWidget* widget = page_->widget();
    gtk_container_add(GTK_CONTAINER(holder_.get()), widget);
    gtk_widget_show(widget);
    if (titleObserver_)
        page_->followTitle(titleObserver_);
    if (auto request = std::exchange(waiting_, std::nullopt))
        page_->load(*request);
}

void LatePageEngine::detach()
{
    if (!page_)
        return;
    GtkWidget* widget = page_->widget();
    page_.reset();
    if (widget && gtk_widget_get_parent(widget) == holder_.get())
        gtk_container_remove(GTK_CONTAINER(holder_.get()), widget);
}

GtkWidget* LatePageEngine::focusWidget() const { return page_ ? page_->widget() : holder_.get(); }

bool LatePageEngine::navigateFromPage(const std::string& url)
{
    if (!page_)
        return false;
    page_->navigateFromPage(url);
    return true;
}

void LatePageEngine::followTitle(std::function<void(const char*)> observer)
{
    titleObserver_ = std::move(observer);
    if (page_)
        page_->followTitle(titleObserver_);
    else if (titleObserver_)
        titleObserver_(nullptr);
}

void LatePageEngine::loadImpl(const kit::URLRequest& request)
{
    if (page_)
        page_->load(request);
    else
        waiting_ = request;
}

void LatePageEngine::stopLoadingImpl()
{
    waiting_.reset();
    if (page_)
        page_->stop();
}

// Before the page's engine there is no page for a script to run in.
void LatePageEngine::evaluateJavaScriptImpl(const std::string& script)
{
    if (page_)
        page_->evaluate(script);
}

} // namespace backend::gtk
