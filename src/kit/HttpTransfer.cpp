#include "kit/HttpTransfer.h"

#include "kit/CertificateAuthorities.h"
#include "kit/CookieJar.h"
#include "kit/Text.h"
#include "kit/URL.h"

#include <algorithm>
#include <poll.h>

namespace kit {

void HttpTransfer::initialiseLibrary()
{
    static bool initialised = false;
    if (!initialised) {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        initialised = true;
    }
}

HttpTransfer::HttpTransfer(const URLRequest& request, size_t maxBodyBytes)
    : request_(request)
    , maxBodyBytes_(maxBodyBytes)
{
    initialiseLibrary();
    easy_ = curl_easy_init();
    if (!easy_)
        return;
    curl_easy_setopt(easy_, CURLOPT_URL, request_.url.c_str());
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &HttpTransfer::write);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);

    const std::string method = request_.method.empty() ? "GET" : request_.method;
    if (method == "GET") {
        curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    } else {
        if (method != "POST")
            curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method.c_str());
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.body.size()));
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, request_.body.data());
    }
    auto add = [this](const std::string& line) {
        if (curl_slist* list = curl_slist_append(headers_, line.c_str()))
            headers_ = list;
    };
    for (const auto& [name, value] : request_.headers)
        add(name + ": " + value);
    // libcurl would otherwise hold back a large body waiting for "100 Continue".
    add("Expect:");
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    CookieJar::shared().attach(easy_);
    CertificateAuthorities::apply(easy_);
}

HttpTransfer::~HttpTransfer()
{
    if (easy_)
        curl_easy_cleanup(easy_);
    if (headers_)
        curl_slist_free_all(headers_);
}

// Nothing may throw through libcurl.
size_t HttpTransfer::write(char* data, size_t size, size_t count, void* self)
{
    auto* transfer = static_cast<HttpTransfer*>(self);
    auto& body = transfer->body_;
    size_t length = size * count;
    const size_t cap = transfer->maxBodyBytes_ + 1;
    size_t room = cap - std::min(body.size(), cap);
    size_t kept = std::min(length, room);
    try {
        // Grow as the string would, but never past the cap: doubling at the last step would
        // hold twice the largest body the client accepts.
        if (body.size() + kept > body.capacity())
            body.reserve(std::min(cap, std::max(body.size() + kept, body.capacity() * 2)));
        body.append(data, kept);
    } catch (...) {
        return CURL_WRITEFUNC_ERROR;
    }
    return length <= room ? length : CURL_WRITEFUNC_ERROR;
}

void HttpTransfer::ended() { CookieJar::shared().synchronize(); }

long HttpTransfer::status() const
{
    long status = 0;
    if (easy_)
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

std::string HttpTransfer::location() const
{
    curl_header* header = nullptr;
    long code = status();
    if (code < 300 || code >= 400 || curl_easy_header(easy_, "Location", 0, CURLH_HEADER, -1, &header) != CURLHE_OK)
        return {};
    // libcurl would read some other schemes as relative paths.
    std::string scheme = URL::scheme(header->value);
    if (!scheme.empty() && scheme != "http" && scheme != "https")
        return header->value;
    return URL::resolve(request_.url, header->value).value_or("");
}

bool HttpTransfer::isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

URLRequest HttpTransfer::nextHop(const URLRequest& request, long status, const std::string& location)
{
    URLRequest hop = request;
    hop.url = location;
    const std::string method = request.method.empty() ? "GET" : request.method;
    if ((status == 303 && method != "GET" && method != "HEAD") || ((status == 301 || status == 302) && method == "POST")) {
        hop.method = "GET";
        hop.body.clear();
        std::erase_if(hop.headers, [](const auto& header) {
            return Text::equalsIgnoringASCIICase(header.first, "Content-Type")
                || Text::equalsIgnoringASCIICase(header.first, "Content-Length");
        });
    }
    return hop;
}

short HttpTransfer::pollEvents(int what)
{
    return static_cast<short>(((what & CURL_POLL_IN) ? POLLIN : 0) | ((what & CURL_POLL_OUT) ? POLLOUT : 0));
}

int HttpTransfer::socketFlags(short revents)
{
    return ((revents & (POLLIN | POLLHUP)) ? CURL_CSELECT_IN : 0) | ((revents & POLLOUT) ? CURL_CSELECT_OUT : 0)
        | ((revents & (POLLERR | POLLNVAL)) ? CURL_CSELECT_ERR : 0);
}

} // namespace kit
