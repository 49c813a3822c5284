#include "backend/headless/HttpEngine.h"

#include "kit/DownloadPolicy.h"
#include "kit/HttpTransfer.h"
#include "kit/NetworkError.h"
#include "kit/URL.h"

#include <cerrno>

namespace backend::headless {

namespace {

bool isTlsFailure(CURLcode result)
{
    switch (result) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
        return true;
    default:
        return false;
    }
}

// The error a failed transfer is reported with: the platform's code where one fits, otherwise
// -(2000 + curl's code) with curl's own words.
kit::Error errorForTransfer(CURLcode result, long osErrno, const char* detail)
{
    switch (result) {
    case CURLE_COULDNT_CONNECT:
        if (osErrno == ENETUNREACH || osErrno == EHOSTUNREACH)
            return kit::NetworkError::make(kit::NetworkError::NotConnectedToInternet);
        return kit::NetworkError::make(kit::NetworkError::CannotConnectToHost);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return kit::NetworkError::make(kit::NetworkError::CannotFindHost);
    case CURLE_OPERATION_TIMEDOUT:
        return kit::NetworkError::make(kit::NetworkError::TimedOut);
    case CURLE_WRITE_ERROR:  // only our write callback refuses bytes: the page is too large
        return kit::NetworkError::make(kit::NetworkError::DataLengthExceedsMaximum);
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
        return kit::NetworkError::make(kit::NetworkError::NetworkConnectionLost);
    default: {
        std::string description = curl_easy_strerror(result);
        if (detail && *detail && description != detail)
            description += std::string(" (") + detail + ")";
        return kit::NetworkError::make(-(2000 + static_cast<int>(result)), description);
    }
    }
}

std::string hostOf(const std::string& url)
{
    auto origin = kit::URL::webOrigin(url);
    return origin ? origin->host : std::string();
}

} // namespace

HttpEngine::HttpEngine(kit::WebView& view)
    : view_(view)
{
    kit::HttpTransfer::initialiseLibrary();
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &HttpEngine::socketCallback);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &HttpEngine::timerCallback);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
}

HttpEngine::~HttpEngine()
{
    dropTransfer();
    curl_multi_cleanup(multi_);
    auto& loop = kit::RunLoop::main();
    if (loop_ == &loop) {
        for (auto& [fd, id] : watches_)
            loop.removeWatch(id);
    }
    loop.cancel(timerTask_);
}

void HttpEngine::loadImpl(const kit::URLRequest& request)
{
    dropTransfer();
    request_ = request;
    hops_ = 0;
    startTransfer();
}

void HttpEngine::startTransfer()
{
    auto& loop = kit::RunLoop::main();
    if (loop_ != &loop) {
        // Watches of a replaced run loop are gone with it.
        watches_.clear();
        timerTask_ = 0;
        loop_ = &loop;
    }
    transfer_ = std::make_unique<kit::HttpTransfer>(request_, maxBodyBytes);
    CURL* easy = transfer_->handle();
    if (!easy) {
        failLoad(errorForTransfer(CURLE_FAILED_INIT, 0, nullptr));
        return;
    }
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeoutMillis);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "street-client/1.53");
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");

    CURLMcode added = curl_multi_add_handle(multi_, easy);
    if (added != CURLM_OK) {
        failLoad(kit::NetworkError::make(-(2000 + static_cast<int>(CURLE_FAILED_INIT)), curl_multi_strerror(added)));
        return;
    }
}

void HttpEngine::dropTransfer()
{
    if (transfer_ && transfer_->handle())
        curl_multi_remove_handle(multi_, transfer_->handle());
    transfer_.reset();
}

int HttpEngine::socketCallback(CURL*, curl_socket_t fd, int what, void* self, void*)
{
    auto* engine = static_cast<HttpEngine*>(self);
    auto& loop = kit::RunLoop::main();
    auto found = engine->watches_.find(fd);
    if (what == CURL_POLL_REMOVE) {
        if (found != engine->watches_.end()) {
            loop.removeWatch(found->second);
            engine->watches_.erase(found);
        }
        return 0;
    }
    short events = kit::HttpTransfer::pollEvents(what);
    if (found != engine->watches_.end()) {
        loop.updateWatch(found->second, events);
        return 0;
    }
    engine->watches_[fd] = loop.addWatch(fd, events, [engine, fd](short revents) {
        engine->socketAction(fd, kit::HttpTransfer::socketFlags(revents));
    });
    return 0;
}

int HttpEngine::timerCallback(CURLM*, long timeoutMs, void* self)
{
    auto* engine = static_cast<HttpEngine*>(self);
    auto& loop = kit::RunLoop::main();
    loop.cancel(engine->timerTask_);
    engine->timerTask_ = 0;
    if (timeoutMs >= 0) {
        engine->timerTask_ = loop.schedule(static_cast<kit::RunLoop::Micros>(timeoutMs) * 1000, [engine] {
            engine->timerTask_ = 0;
            engine->socketAction(CURL_SOCKET_TIMEOUT, 0);
        });
    }
    return 0;
}

void HttpEngine::socketAction(curl_socket_t fd, int flags)
{
    int running = 0;
    curl_multi_socket_action(multi_, fd, flags, &running);
    processMessages();
}

void HttpEngine::processMessages()
{
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE || !transfer_ || message->easy_handle != transfer_->handle())
            continue;
        // transferDone removes the handle, which frees `message`: copy what it says first.
        CURLcode result = message->data.result;
        transferDone(result);
    }
}

void HttpEngine::transferDone(CURLcode result)
{
    // Whatever the hop set is kept before anything else can end the run.
    transfer_->ended();
    CURL* easy = transfer_->handle();
    if (isTlsFailure(result)) {
        auto problem = kit::NetworkError::CertificateProblem::Other;
        if (result == CURLE_PEER_FAILED_VERIFICATION) {
            long verified = 0;
            curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verified);
            problem = kit::NetworkError::problemForVerifyResult(verified);
        }
        failLoad(kit::NetworkError::certificateError(problem, hostOf(request_.url)));
        return;
    }
    if (result != CURLE_OK) {
        long osErrno = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
        auto error = errorForTransfer(result, osErrno, transfer_->errorDetail());
        failLoad(error);
        return;
    }
    long status = transfer_->status();
    std::string location = transfer_->location();
    curl_header* header = nullptr;

    if (location.empty() && curl_easy_header(easy, "Content-Disposition", 0, CURLH_HEADER, -1, &header) == CURLHE_OK
        && kit::DownloadPolicy::asksToSave(header->value)) {
        failLoad(kit::DownloadPolicy::refused());
        return;
    }
    if (location.empty()) {
        // A page, whatever its status: error pages show like any other.
        body_ = transfer_->takeBody();
        status_ = status;
        dropTransfer();
        view_.engineDidFinishLoad(request_.url);
        return;
    }

    dropTransfer();
    if (hops_ >= kit::HttpTransfer::maxRedirects) {
        failLoad(kit::NetworkError::make(kit::NetworkError::HTTPTooManyRedirects));
        return;
    }
    kit::URLRequest hop = kit::HttpTransfer::nextHop(request_, status, location);
    hop.navigation.redirect = true;
    hop.navigation.earlierHops.push_back(request_.url);
    auto serial = view_.loadSerial();
    bool allow = view_.engineShouldStartLoad(hop, kit::NavigationType::Other);
    // The delegate may have stopped this load or started another one while it decided.
    if (serial != view_.loadSerial())
        return;
    if (!allow) {
        failLoad(kit::NetworkError::make(kit::NetworkError::Cancelled));
        return;
    }
    ++hops_;
    request_ = std::move(hop);
    view_.engineDidRedirect(request_.url);
    startTransfer();
}

void HttpEngine::failLoad(const kit::Error& error)
{
    dropTransfer();
    view_.engineDidFailLoad(request_.url, error);
}

} // namespace backend::headless
