// The HTTP web engine against the demo server and a closed loopback port: every redirect hop
// asks the delegate, HTTP error pages finish like pages, network failures carry the platform's
// codes, and a new load or a stop cancels the one in flight.

#include "app/Util.h"
#include "backend/headless/HttpEngine.h"
#include "kit/Events.h"
#include "kit/RunLoop.h"
#include "kit/WebView.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using backend::headless::HttpEngine;

// Records what the web view tells its delegate, as one line per call.
class RecordingDelegate : public kit::WebViewDelegate {
public:
    std::function<bool(const std::string&)> allow = [](const std::string&) { return true; };
    std::vector<std::string> calls;
    std::vector<kit::Error> errors;
    int ended = 0;

    bool shouldStartLoadWithRequest(kit::WebView&, const kit::URLRequest& request, kit::NavigationType type) override
    {
        bool answer = allow(request.url);
        calls.push_back(std::string(type == kit::NavigationType::Other ? "ask " : "ask(link) ") + path(request.url)
                        + (answer ? " yes" : " no"));
        return answer;
    }
    void webViewDidStartLoad(kit::WebView& view) override { calls.push_back("start " + path(*view.url())); }
    void webViewDidFinishLoad(kit::WebView&) override
    {
        calls.push_back("finish");
        ++ended;
    }
    void didFailLoadWithError(kit::WebView&, const kit::Error& error) override
    {
        calls.push_back("fail " + std::to_string(error.code));
        errors.push_back(error);
        ++ended;
    }

    // The URL without scheme and host, so expectations do not depend on the port.
    static std::string path(const std::string& url)
    {
        auto scheme = url.find("://");
        auto slash = scheme == std::string::npos ? std::string::npos : url.find('/', scheme + 3);
        return slash == std::string::npos ? url : url.substr(slash);
    }
};

// Collects the kit events, to see which URL each report names.
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
        kit::RunLoop::resetMain(kit::RunLoop::Clock::Real);
        kit::setEventSink(&log);
        kit::WebView::setEngineFactory([](kit::WebView& v) { return std::make_unique<HttpEngine>(v); });
        view = std::make_unique<kit::WebView>(kit::Rect{0, 0, 320, 480});
        view->setDelegate(&delegate);
    }
    void TearDown() override
    {
        view.reset();
        kit::setEventSink(nullptr);
        kit::RunLoop::resetMain(kit::RunLoop::Clock::Virtual);
        kit::WebView::setEngineFactory(nullptr);
    }

    HttpEngine& engine() { return *static_cast<HttpEngine*>(view->engine()); }

    // Loads through the web view (the delegate is asked first) and waits for the load to end.
    void loadAndWait(const std::string& url, int loads = 1)
    {
        int target = delegate.ended + loads;
        view->loadRequest(kit::URLRequest::requestWithURL(url));
        ASSERT_TRUE(kit::RunLoop::main().runUntil([&] { return delegate.ended >= target; },
                                                  kit::RunLoop::toMicros(20)))
            << "the load did not end; calls so far: " << ::testing::PrintToString(delegate.calls);
    }

    std::string url(const std::string& path) const { return server.baseURL() + path; }

    static scenario::DemoServer server;
    EventLog log;
    RecordingDelegate delegate;
    std::unique_ptr<kit::WebView> view;
};

scenario::DemoServer HttpEngineTest::server;

std::string signedEntryPath(const std::string& udid)
{
    // The entry signature the game server checks: MD5 of udid, the shared salt and the points.
    std::string pf = street::Util::md5(udid + ":BrightPlume27k:45");
    return "/points.php?version=1.53&udid=" + udid + "&pf=" + pf + "&fpts=45&model=Linux&sv=12";
}

TEST_F(HttpEngineTest, RedirectHopAsksTheDelegateAndStaysOneLoad)
{
    std::string entry = signedEntryPath("device-1");
    loadAndWait(url(entry));
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"ask " + entry + " yes", "start " + entry,
                                                        "ask /home.php?showHomeBg=true yes", "finish"}));
    EXPECT_EQ(engine().statusCode(), 200);
    EXPECT_NE(engine().body().find("<html"), std::string::npos);
    EXPECT_FALSE(view->isLoading());
    // The finish names the page where the load ended.
    ASSERT_FALSE(log.events.empty());
    EXPECT_EQ(log.events.back().first, "load-finish");
    EXPECT_EQ(log.events.back().second["url"], url("/home.php?showHomeBg=true"));
}

TEST_F(HttpEngineTest, RefusedRedirectHopEndsTheLoadAsCancelled)
{
    delegate.allow = [](const std::string& u) { return u.find("home.php") == std::string::npos; };
    std::string entry = signedEntryPath("device-2");
    loadAndWait(url(entry));
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"ask " + entry + " yes", "start " + entry,
                                                        "ask /home.php?showHomeBg=true no", "fail -999"}));
    EXPECT_FALSE(view->isLoading());
}

TEST_F(HttpEngineTest, HttpErrorStatusesFinishAsPages)
{
    struct Case {
        std::string path;
        long status;
    };
    const Case cases[] = {
        {"/points.php?udid=device-3&pf=0123456789ABCDEF0123456789ABCDEF", 403},  // wrong signature
        {"/no-such-page.php", 404},
        {"/home.php", 200},
    };
    for (const auto& c : cases) {
        delegate.calls.clear();
        loadAndWait(url(c.path));
        EXPECT_EQ(delegate.calls, (std::vector<std::string>{"ask " + c.path + " yes", "start " + c.path, "finish"}))
            << c.path;
        EXPECT_EQ(engine().statusCode(), c.status) << c.path;
    }
}

TEST_F(HttpEngineTest, NetworkFailuresCarryThePlatformCodes)
{
    struct Case {
        std::string url;
        int code;
        std::string description;
    };
    const Case cases[] = {
        {"http://127.0.0.1:" + std::to_string(scenario::closedLoopbackPort()) + "/home.php", -1004,
         "Could not connect to the server."},
        {url("/drop.php"), -1005, "The network connection was lost."},
    };
    for (const auto& c : cases) {
        delegate.calls.clear();
        delegate.errors.clear();
        loadAndWait(c.url);
        ASSERT_EQ(delegate.errors.size(), 1u) << c.url;
        EXPECT_EQ(delegate.errors[0].code, c.code) << c.url;
        EXPECT_EQ(delegate.errors[0].description, c.description) << c.url;
        // The start is seen before the failure, and the load is over.
        EXPECT_EQ(delegate.calls.size(), 3u) << ::testing::PrintToString(delegate.calls);
        EXPECT_EQ(delegate.calls[1].rfind("start ", 0), 0u);
        EXPECT_FALSE(view->isLoading());
    }
}

TEST_F(HttpEngineTest, FailuresWithoutAPlatformCodeCarryCurlsCodeAndWords)
{
    struct Case {
        std::string url;
        int code;                 // -(2000 + curl's code)
        std::string mentions;     // part of the description
    };
    const Case cases[] = {
        {"http://127.0.0.1:99999/home.php", -2003, "URL"},   // CURLE_URL_MALFORMAT
        {"ftp://127.0.0.1/home.php", -2001, "protocol"},     // CURLE_UNSUPPORTED_PROTOCOL
    };
    for (const auto& c : cases) {
        delegate.errors.clear();
        loadAndWait(c.url);
        ASSERT_EQ(delegate.errors.size(), 1u) << c.url;
        EXPECT_EQ(delegate.errors[0].code, c.code) << c.url;
        EXPECT_NE(delegate.errors[0].description.find(c.mentions), std::string::npos)
            << c.url << ": " << delegate.errors[0].description;
    }
}

TEST_F(HttpEngineTest, NewLoadCancelsTheOneInFlightBeforeItStarts)
{
    view->loadRequest(kit::URLRequest::requestWithURL(url("/slow.php?ms=3000")));
    // Let the slow load start and reach the server.
    kit::RunLoop::main().runFor(kit::RunLoop::toMicros(0.1));
    loadAndWait(url("/home.php"), 2);
    // The new load is decided on first; only a load that goes ahead cancels the old one.
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"ask /slow.php?ms=3000 yes", "start /slow.php?ms=3000",
                                                        "ask /home.php yes", "fail -999", "start /home.php",
                                                        "finish"}));
    EXPECT_EQ(engine().statusCode(), 200);
}

TEST_F(HttpEngineTest, StopLoadingCancelsAndIsQuietWhenNothingIsInFlight)
{
    view->stopLoading();
    EXPECT_TRUE(delegate.calls.empty());

    view->loadRequest(kit::URLRequest::requestWithURL(url("/slow.php?ms=3000")));
    kit::RunLoop::main().runFor(kit::RunLoop::toMicros(0.1));
    EXPECT_TRUE(view->isLoading());
    view->stopLoading();
    EXPECT_FALSE(view->isLoading());
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"ask /slow.php?ms=3000 yes", "start /slow.php?ms=3000",
                                                        "fail -999"}));
    // Nothing of the stopped load arrives later.
    kit::RunLoop::main().runFor(kit::RunLoop::toMicros(0.2));
    EXPECT_EQ(delegate.calls.size(), 3u);
}

TEST_F(HttpEngineTest, DelegateStoppingTheLoadWhileAskedAboutAHopEndsItOnce)
{
    delegate.allow = [this](const std::string& u) {
        if (u.find("home.php") != std::string::npos)
            view->stopLoading();
        return true;
    };
    std::string entry = signedEntryPath("device-4");
    loadAndWait(url(entry));
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"ask " + entry + " yes", "start " + entry, "fail -999",
                                                        "ask /home.php?showHomeBg=true yes"}));
    kit::RunLoop::main().runFor(kit::RunLoop::toMicros(0.2));
    EXPECT_EQ(delegate.ended, 1);
    EXPECT_FALSE(view->isLoading());
}

} // namespace
