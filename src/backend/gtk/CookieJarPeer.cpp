#include "backend/gtk/CookieJarPeer.h"

#include "kit/CookieJar.h"

#include <string>

namespace backend::gtk {

namespace {

// A cookie as a line of a Netscape cookie file, which the kit's jar reads exactly.
std::string netscapeLine(SoupCookie* cookie)
{
    const char* domain = soup_cookie_get_domain(cookie);
    if (!domain || !*domain)
        return {};
    GDateTime* expires = soup_cookie_get_expires(cookie);
    std::string line = soup_cookie_get_http_only(cookie) ? "#HttpOnly_" : "";
    line += domain;
    line += domain[0] == '.' ? "\tTRUE\t" : "\tFALSE\t";
    const char* path = soup_cookie_get_path(cookie);
    line += path && *path ? path : "/";
    line += soup_cookie_get_secure(cookie) ? "\tTRUE\t" : "\tFALSE\t";
    line += std::to_string(expires ? g_date_time_to_unix(expires) : 0); // 0: for the session only
    line += '\t';
    line += soup_cookie_get_name(cookie);
    line += '\t';
    line += soup_cookie_get_value(cookie);
    return line;
}

} // namespace

CookieJarPeer::CookieJarPeer(WebKitCookieManager* manager)
    : manager_(WEBKIT_COOKIE_MANAGER(g_object_ref(manager)))
    , cancellable_(g_cancellable_new())
{
    g_signal_connect(manager, "changed", G_CALLBACK(+[](WebKitCookieManager*, gpointer self) {
        static_cast<CookieJarPeer*>(self)->copy();
    }), this);
    copy();
}

CookieJarPeer::~CookieJarPeer()
{
    g_signal_handlers_disconnect_by_data(manager_.get(), this);
    // An answer still on its way finds the request cancelled and this peer untouched.
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
}

WebKitCookieManager* CookieJarPeer::managerOf(GtkWidget* webView)
{
    if (!webView || !WEBKIT_IS_WEB_VIEW(webView))
        return nullptr;
    WebKitWebContext* context = webkit_web_view_get_context(WEBKIT_WEB_VIEW(webView));
    WebKitWebsiteDataManager* data = context ? webkit_web_context_get_website_data_manager(context) : nullptr;
    return data ? webkit_website_data_manager_get_cookie_manager(data) : nullptr;
}

void CookieJarPeer::copy()
{
    webkit_cookie_manager_get_all_cookies(
        manager_.get(), cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer self) {
            GError* error = nullptr;
            GList* cookies = webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(source), result, &error);
            if (error) {
                // Cancelled: the peer is gone and `self` with it.
                g_error_free(error);
                return;
            }
            (void)self;
            for (GList* item = cookies; item; item = item->next) {
                std::string line = netscapeLine(static_cast<SoupCookie*>(item->data));
                if (!line.empty())
                    kit::CookieJar::shared().addCookie(line);
            }
            g_list_free_full(cookies, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
        },
        this);
}

} // namespace backend::gtk
