// The HTTP web engine against the demo server and a closed loopback port: every redirect hop
// asks the delegate, HTTP error pages finish like pages, network failures carry the platform's
// codes, and a new load or a stop cancels the one in flight.

#include "app/Util.h"
#include "backend/headless/HttpEngine.h"
#include "kit/Events.h"
#include "kit/HttpTransfer.h"
#include "kit/Platform.h"
#include "kit/RunLoop.h"
#include "kit/WebView.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using backend::headless::HttpEngine;
using Calls = std::vector<std::string>;

// Records what the web view tells its delegate, one line per call, URLs without scheme and host.
class RecordingDelegate : public kit::WebViewDelegate {
public:
    std::function<bool(const std::string&)> allow = [](const std::string&) { return true; };
    Calls calls;
    std::vector<kit::Error> errors;
    int ended = 0;

    bool shouldStartLoadWithRequest(kit::WebView&, const kit::URLRequest& request, kit::NavigationType type) override
    {
        bool answer = allow(request.url);
        calls.push_back(std::string(type == kit::NavigationType::Other ? "ask " : "ask(link) ") + path(request.url) + (answer ? " yes" : " no"));
        return answer;
    }
    void webViewDidStartLoad(kit::WebView& view) override { calls.push_back("start " + path(*view.url())); }
    void webViewDidFinishLoad(kit::WebView&) override { calls.push_back("finish"), ++ended; }
    void didFailLoadWithError(kit::WebView&, const kit::Error& error) override
    {
        calls.push_back("fail " + std::to_string(error.code));
        errors.push_back(error);
        ++ended;
    }
    static std::string path(const std::string& url)
    {
        auto scheme = url.find("://");
        auto slash = scheme == std::string::npos ? std::string::npos : url.find('/', scheme + 3);
        return slash == std::string::npos ? url : url.substr(slash);
    }
};

class EventLog : public kit::EventSink {
public:
    std::vector<std::pair<std::string, nlohmann::json>> events;
    void event(const std::string& name, nlohmann::json fields) override { events.emplace_back(name, std::move(fields)); }
};

class HttpEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.started()) << "the demo server did not start";
        kit::Platform platform;
        platform.clock = kit::RunLoop::Clock::Real;
        platform.events = &log;
        platform.engines = [](kit::WebView& v) { return std::make_unique<HttpEngine>(v); };
        session.emplace(std::move(platform));
        view = std::make_unique<kit::WebView>(kit::Rect{0, 0, 320, 480});
        view->setDelegate(&delegate);
    }
    void TearDown() override
    {
        view.reset();
        session.reset();
    }
    std::optional<kit::PlatformSession> session;

    HttpEngine& engine() { return *static_cast<HttpEngine*>(view->engine()); }

    // Loads through the web view (the delegate is asked first) and waits for `loads` loads to end.
    void loadAndWait(const std::string& url, int loads = 1)
    {
        int target = delegate.ended + loads;
        view->loadRequest(kit::URLRequest::requestWithURL(url));
        ASSERT_TRUE(kit::RunLoop::main().runUntil([&] { return delegate.ended >= target; }, kit::RunLoop::toMicros(20)))
            << "the load did not end; calls so far: " << ::testing::PrintToString(delegate.calls);
    }
    void startSlowLoad()
    {
        view->loadRequest(kit::URLRequest::requestWithURL(url("/slow.php?ms=3000")));
        kit::RunLoop::main().runFor(kit::RunLoop::toMicros(0.1)); // it starts and reaches the server
    }
    std::string url(const std::string& path) const { return server.baseURL() + path; }

    static scenario::DemoServer server;
    EventLog log;
    RecordingDelegate delegate;
    std::unique_ptr<kit::WebView> view;
};

scenario::DemoServer HttpEngineTest::server;

// The signed entry request, which the server answers with a redirect to the home page.
std::string entryPath(const std::string& udid)
{
    return "/points.php?version=1.53&udid=" + udid + "&pf=" + street::Util::md5(udid + ":BrightPlume27k:45") + "&fpts=45&model=Linux&sv=12";
}

TEST_F(HttpEngineTest, EveryRedirectHopAsksTheDelegateWithinOneLoad)
{
    const std::string home = "ask /home.php?showHomeBg=true yes";
    loadAndWait(url(entryPath("device-1")));
    EXPECT_EQ(delegate.calls, (Calls{"ask " + entryPath("device-1") + " yes", "start " + entryPath("device-1"), home, "finish"}));
    EXPECT_EQ(engine().statusCode(), 200);
    EXPECT_NE(engine().body().find("<html"), std::string::npos);
    EXPECT_FALSE(view->isLoading());
    ASSERT_FALSE(log.events.empty()); // the finish names the page where the load ended
    EXPECT_EQ(log.events.back(), std::make_pair(std::string("load-finish"), nlohmann::json({{"url", url("/home.php?showHomeBg=true")}})));

    // A refused hop ends the load as cancelled.
    delegate.calls.clear();
    delegate.allow = [](const std::string& u) { return u.find("home.php") == std::string::npos; };
    loadAndWait(url(entryPath("device-2")));
    EXPECT_EQ(delegate.calls, (Calls{"ask " + entryPath("device-2") + " yes", "start " + entryPath("device-2"), "ask /home.php?showHomeBg=true no",
                                     "fail -999"}));
    EXPECT_FALSE(view->isLoading());

    // A delegate that stops the load while asked about a hop ends it once.
    delegate.calls.clear();
    delegate.allow = [this](const std::string& u) {
        if (u.find("home.php") != std::string::npos)
            view->stopLoading();
        return true;
    };
    loadAndWait(url(entryPath("device-4")));
    kit::RunLoop::main().runFor(kit::RunLoop::toMicros(0.2));
    EXPECT_EQ(delegate.calls, (Calls{"ask " + entryPath("device-4") + " yes", "start " + entryPath("device-4"), "fail -999", home}));
    EXPECT_EQ(delegate.ended, 3);
    EXPECT_FALSE(view->isLoading());
}

TEST_F(HttpEngineTest, HttpErrorPagesFinishAndNetworkFailuresCarryThePlatformCodes)
{
    const std::pair<std::string, long> pages[] = {
        {"/points.php?udid=device-3&pf=0123456789ABCDEF0123456789ABCDEF", 403}, {"/no-such-page.php", 404}, {"/home.php", 200}};
    for (const auto& [path, status] : pages) {
        delegate.calls.clear();
        loadAndWait(url(path));
        EXPECT_EQ(delegate.calls, (Calls{"ask " + path + " yes", "start " + path, "finish"})) << path;
        EXPECT_EQ(engine().statusCode(), status) << path;
    }
    const std::tuple<std::string, int, std::string> failures[] = { // URL, code, description (or part of it)
        {"http://127.0.0.1:" + std::to_string(scenario::closedLoopbackPort()) + "/home.php", -1004, "Could not connect to the server."},
        {url("/drop.php"), -1005, "The network connection was lost."},
        // Without a platform code: -(2000 + curl's code) and curl's words.
        {"http://127.0.0.1:99999/home.php", -2003, "URL"},
    };
    for (const auto& [target, code, words] : failures) {
        delegate.calls.clear();
        delegate.errors.clear();
        loadAndWait(target);
        ASSERT_EQ(delegate.errors.size(), 1u) << target;
        EXPECT_EQ(delegate.errors[0].code, code) << target;
        EXPECT_NE(delegate.errors[0].description.find(words), std::string::npos) << delegate.errors[0].description;
        EXPECT_TRUE(code < -2000 || delegate.errors[0].description == words) << delegate.errors[0].description;
        EXPECT_FALSE(view->isLoading());
        if (code > -2000) { // the start is seen before the failure
            EXPECT_EQ(delegate.calls.size(), 3u) << ::testing::PrintToString(delegate.calls);
            EXPECT_EQ(delegate.calls[1].rfind("start ", 0), 0u);
        }
    }
}

TEST_F(HttpEngineTest, ANewLoadOrAStopCancelsTheLoadInFlight)
{
    view->stopLoading(); // quiet with nothing in flight
    EXPECT_TRUE(delegate.calls.empty());

    // The new load is decided on first; only a load that goes ahead cancels the old one.
    startSlowLoad();
    loadAndWait(url("/home.php"), 2);
    EXPECT_EQ(delegate.calls, (Calls{"ask /slow.php?ms=3000 yes", "start /slow.php?ms=3000", "ask /home.php yes", "fail -999", "start /home.php",
                                     "finish"}));
    EXPECT_EQ(engine().statusCode(), 200);

    delegate.calls.clear();
    startSlowLoad();
    EXPECT_TRUE(view->isLoading());
    view->stopLoading();
    EXPECT_FALSE(view->isLoading());
    kit::RunLoop::main().runFor(kit::RunLoop::toMicros(0.2)); // nothing of the stopped load arrives later
    EXPECT_EQ(delegate.calls, (Calls{"ask /slow.php?ms=3000 yes", "start /slow.php?ms=3000", "fail -999"}));
}

} // namespace

// The hop a redirect leads to, for the pages and the invite post alike.
TEST(HttpTransfer, ARedirectKeepsTheRequestExceptWhereItTurnsIntoAGet)
{
    kit::URLRequest post = kit::URLRequest::requestWithURL("http://h/a");
    post.method = "POST";
    post.body = "x=1";
    post.headers = {{"Content-Type", "application/x-www-form-urlencoded"}, {"content-length", "3"}, {"Cookie", "c=1"}};
    kit::URLRequest put = post;
    put.method = "PUT";
    struct Case {
        const kit::URLRequest& request;
        long status;
        const char* method;  // of the next hop
        bool keepsBody;
    };
    const Case cases[] = {
        {post, 301, "GET", false}, {post, 302, "GET", false}, {post, 303, "GET", false},
        {post, 307, "POST", true}, {post, 308, "POST", true},
        {put, 301, "PUT", true}, {put, 302, "PUT", true}, {put, 303, "GET", false}, {put, 307, "PUT", true},
    };
    for (const auto& c : cases) {
        auto hop = kit::HttpTransfer::nextHop(c.request, c.status, "http://h/b");
        SCOPED_TRACE(c.request.method + " " + std::to_string(c.status));
        EXPECT_EQ(hop.url, "http://h/b");
        EXPECT_EQ(hop.method, c.method);
        EXPECT_EQ(hop.body, c.keepsBody ? "x=1" : "");
        // The cookie header stays; the body's own headers go with the body.
        EXPECT_EQ(hop.headers.size(), c.keepsBody ? 3u : 1u);
        EXPECT_EQ(hop.headers.back().first, "Cookie");
    }
    auto head = kit::URLRequest::requestWithURL("http://h/a");
    head.method = "HEAD";
    EXPECT_EQ(kit::HttpTransfer::nextHop(head, 303, "http://h/b").method, "HEAD");
}
