#include "Routes.h"

#include "Multipart.h"
#include "NearMissPage.h"
#include "Pages.h"
#include "Query.h"
#include "Signature.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <optional>

namespace demo {

namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kInvitePath = "/postback/invite_postback.php";
// Where the invite post's Content-Type is kept while httplib reads the body (see installRoutes).
constexpr const char* kRawContentType = "X-Demo-Raw-Content-Type";
constexpr int kSlowCapMs = 30000;

std::optional<std::string> requestCookie(const httplib::Request& req, const char* name)
{
    return cookieValue(req.get_header_value("Cookie"), name);
}

void serveEntry(const httplib::Request& req, httplib::Response& res, ServerContext& context)
{
    auto udid = queryValue(req.target, "udid");
    auto pf = queryValue(req.target, "pf");
    if (!udid || !pf || !entrySignatureValid(*udid, *pf)) {
        res.status = 403;
        res.set_content("Signature check failed\n", kText);
        return;
    }
    // The player's name stands for an account that a real server would look up by device.
    std::string player = "Racer " + pf->substr(0, 4);
    auto session = context.sessions().start(player, requestCookie(req, Sessions::loginCookie));
    context.log("entry: " + std::string(session.returning ? "returning" : "new") + " player " + player);
    res.set_header("Set-Cookie", std::string(Sessions::sessionCookie) + "=" + session.sid + "; Path=/; HttpOnly");
    res.set_header("Set-Cookie", std::string(Sessions::loginCookie) + "=" + session.login
            + "; Path=/; Max-Age=" + std::to_string(Sessions::loginSeconds));
    res.set_redirect(context.baseUrl(req.get_header_value("Host")) + "/home.php?showHomeBg=true", 302);
    res.set_content("Redirecting to the home page\n", kText);
}

// Promises more bytes than it sends, then hangs up, so the client sees a connection lost mid-transfer.
void serveDrop(httplib::Response& res)
{
    static const std::string partial = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Drop</title>"
                                       "</head><body><h1>This page never arrives in full";
    res.set_content_provider(partial.size() + 4096, kHtml, [](size_t offset, size_t, httplib::DataSink& sink) {
        if (offset > 0)
            return false;
        sink.write(partial.data(), partial.size());
        return true;
    });
}

void serveSlow(const httplib::Request& req, httplib::Response& res, ServerContext& context)
{
    int ms = 0;
    if (auto text = queryValue(req.target, "ms")) {
        auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), ms);
        if (error != std::errc() || end != text->data() + text->size() || ms < 0)
            ms = 0;
    }
    ms = std::min(ms, kSlowCapMs);
    context.sleepUnlessStopped(std::chrono::milliseconds(ms));
    res.set_content(slowPage(ms), kHtml);
}

void serveGet(const httplib::Request& req, httplib::Response& res, ServerContext& context)
{
    const std::string& path = req.path;
    if (path == "/points.php")
        return serveEntry(req, res, context);
    if (path == "/drop.php")
        return serveDrop(res);
    if (path == "/slow.php")
        return serveSlow(req, res, context);
    if (path == "/commands.php")
        return res.set_content(commandsPage(), kHtml);
    if (path == "/live.php")
        return res.set_content(livePage(), kHtml);
    if (path == "/near-miss.php")
        return res.set_content(nearMissPage(), kHtml);
    if (path.size() > 1 && path.find('/', 1) == std::string::npos) {
        std::string_view file = std::string_view(path).substr(1);
        auto player = context.sessions().player(requestCookie(req, Sessions::sessionCookie));
        if (auto page = gamePage(file, player)) {
            if (file != "register.php")
                context.log("page " + std::string(file) + ": " + player.value_or("no session"));
            return res.set_content(*page, kHtml);
        }
    }
    res.status = 404;
    res.set_content("Not found\n", kText);
}

std::string senderName(const std::string& fromName)
{
    // The reply's only "%" separates the alert title from its message.
    std::string name = fromName;
    name.erase(std::remove(name.begin(), name.end(), '%'), name.end());
    return name.empty() ? "someone" : name;
}

void serveInvite(const httplib::Request& req, httplib::Response& res, ServerContext& context)
{
    const InviteBehaviour& behaviour = context.invite();
    if (behaviour.redirectStatus && req.target.find('?') == std::string::npos) {
        context.log("invite redirected to " + behaviour.redirectTo);
        res.set_redirect(behaviour.redirectTo, behaviour.redirectStatus);
        return;
    }
    if (behaviour.delay.count() > 0) {
        context.log("invite: replying in " + std::to_string(behaviour.delay.count()) + " ms");
        context.sleepUnlessStopped(behaviour.delay);
    }
    if (!context.sessions().player(requestCookie(req, Sessions::sessionCookie))) {
        context.log("invite refused: no session");
        res.set_content("Fail%Your session has expired. Please restart the game and try again.", kText);
        return;
    }
    InviteParse parsed;
    if (req.get_header_value_count(kRawContentType) != 1)
        parsed.error = "not exactly one Content-Type header";
    else
        parsed = parseInvite(req.get_header_value(kRawContentType), req.body);
    if (!parsed.invite) {
        context.log("invite refused: " + parsed.error);
        res.set_content("Bad invite request", kText);
        return;
    }
    const Invite& invite = *parsed.invite;
    std::string count = std::to_string(invite.invitations);
    context.log("invite: " + count + " invitation(s) from udid " + invite.fromUdid);
    res.set_content("Invites Sent%" + count + " invitation(s) received from " + senderName(invite.fromName)
            + ". Thank you!",
        kText);
}

} // namespace

ServerContext::ServerContext(std::string hostName, bool secure, InviteBehaviour invite,
                             std::function<void(const std::string&)> log)
    : hostName_(std::move(hostName))
    , secure_(secure)
    , invite_(std::move(invite))
    , log_(std::move(log))
{
}

std::string ServerContext::baseUrl(const std::string& hostHeader) const
{
    std::string scheme = secure_ ? "https://" : "http://";
    if (!hostName_.empty())
        return scheme + hostName_;
    if (!hostHeader.empty())
        return scheme + hostHeader;
    return scheme + "127.0.0.1:" + std::to_string(port_);
}

void ServerContext::sleepUnlessStopped(std::chrono::milliseconds duration)
{
    std::unique_lock lock(mutex_);
    stopped_.wait_for(lock, duration, [this] { return stopping_; });
}

void ServerContext::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
}

void installRoutes(httplib::Server& server, ServerContext& context)
{
    // httplib parses any multipart/form-data body itself, leniently, and hands the
    // handler only the parts. The invite post has to be checked byte for byte, so its
    // Content-Type is moved aside before the body is read; the request object is not
    // const inside httplib, only this callback's view of it.
    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        if (req.method == "POST" && req.path == kInvitePath) {
            auto& headers = const_cast<httplib::Request&>(req).headers;
            auto [first, last] = headers.equal_range("Content-Type");
            std::vector<std::string> values;
            for (auto it = first; it != last; ++it)
                values.push_back(it->second);
            headers.erase(first, last);
            for (auto& value : values)
                headers.emplace(kRawContentType, std::move(value));
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Get(".*", [&context](const httplib::Request& req, httplib::Response& res) { serveGet(req, res, context); });
    server.Post(kInvitePath,
        [&context](const httplib::Request& req, httplib::Response& res) { serveInvite(req, res, context); });
    server.set_error_handler(httplib::Server::Handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content(res.status == 404 ? "Not found\n" : "Request refused\n", kText);
    }));
}

} // namespace demo
