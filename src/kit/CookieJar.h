#pragma once

#include <curl/curl.h>

#include <functional>
#include <string>
#include <vector>

namespace kit {

// The process's one cookie store, shared by every HTTP exchange: each hop of every page load
// and the URLConnection post. libcurl's cookie engine keeps and matches the cookies (domain,
// path, expiry, secure flag); this class shares that engine between transfers and keeps the
// lasting cookies in a Netscape cookie file across launches. Session cookies (no expiry) live
// for the run only; expired cookies are dropped.
//
// A backend whose web engine keeps a store of its own mirrors its cookies in with addCookie(),
// and after each exchange made here (setExchangeObserver) reads this store back with cookies().
class CookieJar {
public:
    static CookieJar& shared();
    // Saves the shared jar and empties it: no cookies, no file, as at process start.
    static void resetShared();

    // From now on the lasting cookies are kept in `path`; the cookies it holds are added, except
    // session and expired ones. A file that is not a cookie file is not used: it is reported
    // once on stderr and moved aside (to path.corrupt-TIME) when the jar is next saved.
    void setFile(std::string path);
    // Writes the lasting cookies to the file (atomically) when they differ from what it holds.
    // False when the file cannot be written (reported on stderr once until a write succeeds);
    // nothing is lost, the next call tries again.
    bool synchronize();
    // Called at each synchronize(), that is after every exchange made through the jar; none by
    // default.
    void setExchangeObserver(std::function<void()> observer) { exchangeObserver_ = std::move(observer); }

    // Makes a libcurl transfer use this jar: it sends the jar's cookies that match each URL it
    // requests and keeps every cookie the replies set. The jar must outlive the transfer.
    void attach(CURL* transfer);

    // Adds one cookie, replacing one of the same name, domain and path: a line of a Netscape
    // cookie file, or a "Set-Cookie:" header line, which then needs its Domain attribute. A
    // line libcurl cannot read, or one that has expired, adds nothing.
    void addCookie(const std::string& line);
    // Every cookie held, as Netscape cookie-file lines.
    std::vector<std::string> cookies() const;
    void removeAllCookies();

    CookieJar(const CookieJar&) = delete;
    CookieJar& operator=(const CookieJar&) = delete;
    ~CookieJar();

private:
    CookieJar();
    // The file's text for the lasting cookies held now.
    std::string lastingCookiesText() const;
    bool failedToSave(const std::string& why);

    CURLSH* share_ = nullptr;
    CURL* store_ = nullptr;  // never transfers: the way to the shared store for adding and listing
    std::string path_;
    std::string onDisk_;     // what the file holds, as far as we know
    bool unusableFileOnDisk_ = false;
    std::string asidePath_;
    bool saveFailureReported_ = false;
    std::function<void()> exchangeObserver_;
};

} // namespace kit
