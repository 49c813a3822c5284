#pragma once

#include <optional>
#include <set>
#include <string>
#include <tuple>

typedef struct _SoupCookie SoupCookie;
typedef struct _WebKitCookieManager WebKitCookieManager;
typedef struct _GCancellable GCancellable;
typedef struct _GList GList;

namespace backend::gtk {

// One jar for the pages and the invite post. WebKit keeps the pages' cookies (and keeps them
// across launches); the kit's jar, which the post sends from, mirrors them: every change WebKit
// reports is read back into it, and whatever an exchange of the kit's (the post's reply) set or
// removed is handed to WebKit.
class CookieJarPeer {
public:
    explicit CookieJarPeer(WebKitCookieManager* manager);
    ~CookieJarPeer();
    CookieJarPeer(const CookieJarPeer&) = delete;
    CookieJarPeer& operator=(const CookieJarPeer&) = delete;

    // A cookie as a line of a Netscape cookie file (the kit jar's form), and back. None for a
    // line that is not a cookie.
    static std::string lineOf(SoupCookie* cookie);
    static SoupCookie* cookieOf(const std::string& line);

private:
    using Key = std::tuple<std::string, std::string, std::string>; // name, domain, path
    static std::optional<Key> keyOf(const std::string& line);

    void fetch();
    void fetched(GList* cookies);
    void exchanged();

    WebKitCookieManager* manager_;
    GCancellable* cancellable_;
    std::set<std::string> mirrored_;  // the lines both stores hold, as far as we know
    bool fetching_ = false;
    bool fetchAgain_ = false;
    unsigned long changedHandler_ = 0;
};

} // namespace backend::gtk
