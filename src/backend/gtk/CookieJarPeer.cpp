#include "backend/gtk/CookieJarPeer.h"

#include "kit/CookieJar.h"

#include <charconv>
#include <utility>
#include <vector>
#include <webkit2/webkit2.h>

namespace backend::gtk {

namespace {

constexpr std::string_view kHttpOnly = "#HttpOnly_";

// The seven fields of a cookie-file line, or none.
std::optional<std::vector<std::string>> fieldsOf(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos)
            break;
        start = tab + 1;
    }
    if (fields.size() != 7 || fields[0].empty() || fields[5].empty())
        return std::nullopt;
    return fields;
}

} // namespace

std::string CookieJarPeer::lineOf(SoupCookie* cookie)
{
    std::string domain = soup_cookie_get_domain(cookie) ? soup_cookie_get_domain(cookie) : "";
    // A leading dot is a cookie for the domain and its subdomains; without, for that host only.
    bool subdomains = domain.starts_with('.');
    long long expiry = 0;
    if (GDateTime* expires = soup_cookie_get_expires(cookie))
        expiry = g_date_time_to_unix(expires);
    const char* path = soup_cookie_get_path(cookie);
    const char* name = soup_cookie_get_name(cookie);
    const char* value = soup_cookie_get_value(cookie);
    return (soup_cookie_get_http_only(cookie) ? std::string(kHttpOnly) : std::string()) + domain + "\t"
        + (subdomains ? "TRUE" : "FALSE") + "\t" + (path && *path ? path : "/") + "\t"
        + (soup_cookie_get_secure(cookie) ? "TRUE" : "FALSE") + "\t" + std::to_string(expiry) + "\t"
        + (name ? name : "") + "\t" + (value ? value : "");
}

SoupCookie* CookieJarPeer::cookieOf(const std::string& line)
{
    auto fields = fieldsOf(line);
    if (!fields)
        return nullptr;
    auto& f = *fields;
    bool httpOnly = f[0].starts_with(kHttpOnly);
    std::string domain = httpOnly ? f[0].substr(kHttpOnly.size()) : f[0];
    if (f[1] == "TRUE" && !domain.starts_with('.'))
        domain.insert(0, ".");
    else if (f[1] != "TRUE" && domain.starts_with('.'))
        domain.erase(0, 1);
    long long expiry = 0;
    auto [end, error] = std::from_chars(f[4].data(), f[4].data() + f[4].size(), expiry);
    if (domain.empty() || error != std::errc() || end != f[4].data() + f[4].size())
        return nullptr;
    SoupCookie* cookie = soup_cookie_new(f[5].c_str(), f[6].c_str(), domain.c_str(), f[2].empty() ? "/" : f[2].c_str(), -1);
    if (expiry > 0) {
        GDateTime* expires = g_date_time_new_from_unix_utc(expiry);
        soup_cookie_set_expires(cookie, expires);
        g_date_time_unref(expires);
    }
    soup_cookie_set_secure(cookie, f[3] == "TRUE");
    soup_cookie_set_http_only(cookie, httpOnly);
    return cookie;
}

std::optional<CookieJarPeer::Key> CookieJarPeer::keyOf(const std::string& line)
{
    SoupCookie* cookie = cookieOf(line);
    if (!cookie)
        return std::nullopt;
    Key key {soup_cookie_get_name(cookie), soup_cookie_get_domain(cookie), soup_cookie_get_path(cookie)};
    soup_cookie_free(cookie);
    return key;
}

CookieJarPeer::CookieJarPeer(WebKitCookieManager* manager)
    : manager_(WEBKIT_COOKIE_MANAGER(g_object_ref(manager)))
    , cancellable_(g_cancellable_new())
{
    changedHandler_ = g_signal_connect(manager_, "changed", G_CALLBACK(+[](WebKitCookieManager*, gpointer self) {
        static_cast<CookieJarPeer*>(self)->fetch();
    }), this);
    kit::CookieJar::shared().setExchangeObserver([this] { exchanged(); });
    fetch();
}

CookieJarPeer::~CookieJarPeer()
{
    kit::CookieJar::shared().setExchangeObserver(nullptr);
    g_signal_handler_disconnect(manager_, changedHandler_);
    // A read still under way ends cancelled, without this peer.
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
    g_object_unref(manager_);
}

void CookieJarPeer::fetch()
{
    if (fetching_) {
        fetchAgain_ = true;
        return;
    }
    fetching_ = true;
    webkit_cookie_manager_get_all_cookies(manager_, cancellable_, +[](GObject* source, GAsyncResult* result, gpointer self) {
        GError* error = nullptr;
        GList* cookies = webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(source), result, &error);
        if (error) {
            // Cancelled: the peer is gone. Otherwise the mirror stays as it was until the next change.
            bool gone = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            g_error_free(error);
            if (!gone)
                static_cast<CookieJarPeer*>(self)->fetching_ = false;
            return;
        }
        static_cast<CookieJarPeer*>(self)->fetched(cookies);
    }, this);
}

void CookieJarPeer::fetched(GList* cookies)
{
    fetching_ = false;
    auto& jar = kit::CookieJar::shared();
    jar.removeAllCookies();
    for (GList* item = cookies; item; item = item->next)
        jar.addCookie(lineOf(static_cast<SoupCookie*>(item->data)));
    g_list_free_full(cookies, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
    auto lines = jar.cookies();
    mirrored_ = {lines.begin(), lines.end()};
    if (std::exchange(fetchAgain_, false))
        fetch();
}

void CookieJarPeer::exchanged()
{
    auto lines = kit::CookieJar::shared().cookies();
    std::set<std::string> now {lines.begin(), lines.end()};
    if (now == mirrored_)
        return;
    std::set<Key> kept;
    for (const auto& line : now)
        if (auto key = keyOf(line))
            kept.insert(*key);
    auto done = +[](GObject*, GAsyncResult*, gpointer) {};
    // Removed first: a cookie whose value changed is one line gone and one new, under one key.
    for (const auto& line : mirrored_) {
        auto key = keyOf(line);
        if (now.contains(line) || !key || kept.contains(*key))
            continue;
        if (SoupCookie* cookie = cookieOf(line)) {
            webkit_cookie_manager_delete_cookie(manager_, cookie, nullptr, done, nullptr);
            soup_cookie_free(cookie);
        }
    }
    for (const auto& line : now) {
        if (mirrored_.contains(line))
            continue;
        if (SoupCookie* cookie = cookieOf(line)) {
            webkit_cookie_manager_add_cookie(manager_, cookie, nullptr, done, nullptr);
            soup_cookie_free(cookie);
        }
    }
    mirrored_ = std::move(now);
}

} // namespace backend::gtk
