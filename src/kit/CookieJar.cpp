#include "kit/CookieJar.h"

#include "kit/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <string_view>

#include <unistd.h>

namespace kit {

namespace {

constexpr std::size_t kMaxFileBytes = 1 << 20;
constexpr const char* kFileHeader = "# Netscape HTTP Cookie File\n# The game's lasting cookies, kept by street-client.\n\n";

void complain(const std::string& message)
{
    std::fprintf(stderr, "street-client: %s\n", message.c_str());
}

// The expiry of a cookie line (seven tab-separated fields, the fifth a number; 0 for a session
// cookie); none for any other line.
std::optional<long long> cookieExpiry(std::string_view line)
{
    std::string_view fields[7];
    std::size_t count = 0;
    for (std::size_t start = 0;; ++count) {
        std::size_t tab = line.find('\t', start);
        if (count == 7)
            return std::nullopt;
        fields[count] = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    if (count != 6 || fields[4].empty())
        return std::nullopt;
    long long expiry = 0;
    std::string_view text = fields[4];
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), expiry);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return expiry;
}

bool isBlankOrComment(std::string_view line)
{
    if (line.find_first_not_of(" \t") == std::string_view::npos)
        return true;
    return line.front() == '#' && !line.starts_with("#HttpOnly_");
}

bool lasting(long long expiry) { return expiry > static_cast<long long>(std::time(nullptr)); }

// The lines of `text`, without their line ends.
std::vector<std::string_view> linesOf(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

} // namespace

CookieJar& CookieJar::shared()
{
    static CookieJar jar;
    return jar;
}

void CookieJar::resetShared()
{
    CookieJar& jar = shared();
    jar.synchronize();
    jar.exchangeObserver_ = nullptr;
    jar.removeAllCookies();
    jar.path_.clear();
    jar.onDisk_.clear();
    jar.unusableFileOnDisk_ = false;
    jar.saveFailureReported_ = false;
}

CookieJar::CookieJar()
{
    share_ = curl_share_init();
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    store_ = curl_easy_init();
    attach(store_);
}

CookieJar::~CookieJar()
{
    curl_easy_cleanup(store_);
    curl_share_cleanup(share_);
}

void CookieJar::attach(CURL* transfer)
{
    curl_easy_setopt(transfer, CURLOPT_SHARE, share_);
    // The empty name switches the cookie engine on without reading a file.
    curl_easy_setopt(transfer, CURLOPT_COOKIEFILE, "");
}

void CookieJar::addCookie(const std::string& line)
{
    // libcurl reads a C string up to its end of line: anything after a break or a NUL would be
    // dropped silently, so such a line is no cookie at all.
    if (line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos)
        curl_easy_setopt(store_, CURLOPT_COOKIELIST, line.c_str());
}

std::vector<std::string> CookieJar::cookies() const
{
    std::vector<std::string> lines;
    curl_slist* list = nullptr;
    curl_easy_getinfo(store_, CURLINFO_COOKIELIST, &list);
    for (curl_slist* item = list; item; item = item->next)
        lines.emplace_back(item->data);
    curl_slist_free_all(list);
    return lines;
}

void CookieJar::removeAllCookies()
{
    curl_easy_setopt(store_, CURLOPT_COOKIELIST, "ALL");
}

void CookieJar::setFile(std::string path)
{
    path_ = std::move(path);
    onDisk_.clear();
    unusableFileOnDisk_ = false;
    AtomicFile::removeLeftovers(path_);
    int error = 0;
    auto text = AtomicFile::read(path_, kMaxFileBytes, error);
    if (!text && error == ENOENT)
        return;

    std::string problem;
    if (!text) {
        problem = error == EFBIG    ? "is too large"
                : error == EINVAL ? "is not a regular file"
                                  : "cannot be read (" + std::string(std::strerror(error)) + ")";
    } else if (text->find('\0') != std::string::npos) {
        problem = "is not text";
    } else {
        auto lines = linesOf(*text);
        for (std::size_t i = 0; i < lines.size() && problem.empty(); ++i) {
            if (!isBlankOrComment(lines[i]) && !cookieExpiry(lines[i]))
                problem = "is not a cookie file (line " + std::to_string(i + 1) + ")";
        }
        if (problem.empty()) {
            for (std::string_view line : lines) {
                auto expiry = cookieExpiry(line);
                if (expiry && lasting(*expiry))
                    addCookie(std::string(line));
            }
            onDisk_ = std::move(*text);
            return;
        }
    }

    unusableFileOnDisk_ = true;
    // One report per file and process, however often the jar is pointed at it.
    static std::map<std::string, std::string> reported;
    auto [it, isNew] = reported.try_emplace(path_, AtomicFile::asideName(path_));
    asidePath_ = it->second;
    if (isNew)
        complain("cookie file " + path_ + " " + problem + "; starting without saved cookies. "
                 "The file will be kept as " + asidePath_ + " when cookies are next saved.");
}

std::string CookieJar::lastingCookiesText() const
{
    std::vector<std::string> kept;
    for (auto& line : cookies()) {
        auto expiry = cookieExpiry(line);
        if (expiry && lasting(*expiry))
            kept.push_back(std::move(line));
    }
    if (kept.empty())
        return {};
    // One order for one set of cookies, so an unchanged jar is never written again.
    std::sort(kept.begin(), kept.end());
    std::string text = kFileHeader;
    for (const auto& line : kept)
        text += line + "\n";
    return text;
}

bool CookieJar::synchronize()
{
    if (exchangeObserver_)
        exchangeObserver_();
    if (path_.empty())
        return true;
    std::string text = lastingCookiesText();
    if (text == onDisk_ && !unusableFileOnDisk_)
        return true;
    if (text.empty() && unusableFileOnDisk_)
        return true;  // nothing to save: the unusable file may stay where it is for now
    if (unusableFileOnDisk_) {
        std::string aside = asidePath_;
        for (int n = 2; ::access(aside.c_str(), F_OK) == 0; ++n)
            aside = asidePath_ + "-" + std::to_string(n);
        if (std::rename(path_.c_str(), aside.c_str()) != 0 && errno != ENOENT)
            return failedToSave("the unusable file " + path_ + " could not be moved to " + aside + " ("
                                + std::strerror(errno) + "), and it is not overwritten");
        unusableFileOnDisk_ = false;
    }
    if (int error = AtomicFile::write(path_, text))
        return failedToSave(path_ + " cannot be written (" + std::strerror(error) + ")");
    onDisk_ = std::move(text);
    saveFailureReported_ = false;
    return true;
}

bool CookieJar::failedToSave(const std::string& why)
{
    // The jar is saved after every exchange: one report until a save succeeds again.
    if (!saveFailureReported_)
        complain("cannot save cookies: " + why);
    saveFailureReported_ = true;
    return false;
}

} // namespace kit
