#pragma once

#include "backend/gtk/GObjectPtr.h"
#include "kit/WebView.h"

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace backend::gtk {

// What the window's web views are made with.
struct PageSettings {
    std::string dataDirectory;   // cookies.sqlite and the rest of the site data
    std::string cacheDirectory;  // the disk cache
    double loadTimeout = 60;
    int scale = 1;
};

// A page's engine as the window sees it. WebKit lives in a module of its own (see WebModule),
// loaded once the window is on screen, so nothing here may name it.
class PageEngine {
public:
    virtual ~PageEngine() = default;
    virtual GtkWidget* widget() const = 0;
    // The kit's requests, as kit::WebEngine has them.
    virtual void load(const kit::URLRequest& request) = 0;
    virtual void stop() = 0;
    virtual void evaluate(const std::string& script) = 0;
    // The page navigates to `url` as a script of its own would (scripts' `navigate`).
    virtual void navigateFromPage(const std::string& url) = 0;
    // Told the page's title (null when it has none) now and whenever it changes.
    virtual void followTitle(std::function<void(const char*)> observer) = 0;
};

// Makes the pages' engines: the web module's, once it is loaded.
class PageEngineMaker {
public:
    virtual ~PageEngineMaker() = default;
    virtual std::unique_ptr<PageEngine> make(kit::WebView& view) = 0;
};

// The kit's engine for a web view in the window. The view gets its place in the window at once;
// the page's engine fills it when there is a maker (see setMaker). Until then a load the kit
// asks for waits, and is started then: the kit has reported its start already, as ever.
class LatePageEngine : public kit::WebEngine {
public:
    explicit LatePageEngine(kit::WebView& view);
    ~LatePageEngine() override;
    LatePageEngine(const LatePageEngine&) = delete;
    LatePageEngine& operator=(const LatePageEngine&) = delete;

    // From now on every web view's engine is `maker`'s (none: let them go, as at the end of a
    // run); the ones made already catch up now.
    static void setMaker(PageEngineMaker* maker);

    // Where the page is drawn: a holder that takes the page's widget when it comes.
    GtkWidget* widget() const { return holder_.get(); }
    // What takes the keys meant for the page: its engine's widget once there is one.
    GtkWidget* focusWidget() const;
    PageEngine* page() const { return page_.get(); }
    // False when there is no page to navigate yet.
    bool navigateFromPage(const std::string& url);
    void followTitle(std::function<void(const char*)> observer);

private:
    void loadImpl(const kit::URLRequest& request) override;
    void stopLoadingImpl() override;
    void evaluateJavaScriptImpl(const std::string& script) override;
    void attach(PageEngineMaker& maker);
    void detach();

    kit::WebView& view_;
    GObjectPtr<GtkWidget> holder_;
    std::unique_ptr<PageEngine> page_;
    std::optional<kit::URLRequest> waiting_;
    std::function<void(const char*)> titleObserver_;
};

} // namespace backend::gtk
