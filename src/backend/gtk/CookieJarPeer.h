#pragma once

#include "backend/gtk/GObjectPtr.h"

#include <webkit2/webkit2.h>

namespace backend::gtk {

// The pages' cookies live in the web engine's own store; the kit's exchanges (the invite post)
// must carry the same session. Every change there is copied into the kit's shared jar.
class CookieJarPeer {
public:
    explicit CookieJarPeer(WebKitCookieManager* manager);
    ~CookieJarPeer();
    CookieJarPeer(const CookieJarPeer&) = delete;
    CookieJarPeer& operator=(const CookieJarPeer&) = delete;

    // The manager of the web view's context, when the view is the engine's.
    static WebKitCookieManager* managerOf(GtkWidget* webView);

private:
    void copy();

    GObjectPtr<WebKitCookieManager> manager_;
    GCancellable* cancellable_;
};

} // namespace backend::gtk
