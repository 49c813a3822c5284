// The load's lifecycle, which the web view keeps for every engine: one load in flight, a new one
// or a stop ending it as cancelled, the start reported on the next turn and before any end, and
// reports that come when nothing is in flight dropped.

#include "kit/NetworkError.h"
#include "kit/Platform.h"
#include "kit/RunLoop.h"
#include "kit/WebView.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

// An engine that only remembers what it was asked; the test plays the transport.
class FakeEngine : public kit::WebEngine {
public:
    explicit FakeEngine(Calls& calls) : calls_(calls) {}

private:
    void loadImpl(const kit::URLRequest& request) override { calls_.push_back("engine load " + request.url); }
    void stopLoadingImpl() override { calls_.push_back("engine stop"); }
    Calls& calls_;
};

class Recorder : public kit::WebViewDelegate {
public:
    explicit Recorder(Calls& calls) : calls_(calls) {}
    std::function<void(kit::WebView&)> onStart;

    void webViewDidStartLoad(kit::WebView& view) override
    {
        calls_.push_back("start " + *view.url());
        if (onStart)
            std::exchange(onStart, nullptr)(view);
    }
    void webViewDidFinishLoad(kit::WebView& view) override { calls_.push_back("finish " + *view.url()); }
    void didFailLoadWithError(kit::WebView&, const kit::Error& error) override
    {
        calls_.push_back("fail " + std::to_string(error.code));
    }

private:
    Calls& calls_;
};

class WebViewLifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        kit::Platform platform;
        platform.engines = [this](kit::WebView&) { return std::make_unique<FakeEngine>(calls); };
        session.emplace(std::move(platform));
        view = std::make_unique<kit::WebView>(kit::Rect{0, 0, 320, 480});
        view->setDelegate(&recorder);
    }
    void TearDown() override
    {
        view.reset();
        session.reset();
    }
    std::optional<kit::PlatformSession> session;
    void load(const std::string& url) { view->loadRequest(kit::URLRequest::requestWithURL(url)); }
    void turn() { kit::RunLoop::main().advanceSeconds(0); }
    Calls take() { return std::exchange(calls, {}); }

    Calls calls;
    Recorder recorder{calls};
    std::unique_ptr<kit::WebView> view;
};

constexpr int cancelled = kit::NetworkError::Cancelled;
const std::string cancelledLine = "fail " + std::to_string(cancelled);

TEST_F(WebViewLifecycle, TheStartComesOnTheNextTurnAndBeforeAnyEnd)
{
    load("http://h/a");
    EXPECT_EQ(take(), Calls{"engine load http://h/a"}) << "nothing is reported from inside the call";
    EXPECT_TRUE(view->isLoading());
    turn();
    EXPECT_EQ(take(), Calls{"start http://h/a"});
    view->engineDidFinishLoad("http://h/b");
    EXPECT_EQ(take(), Calls{"finish http://h/b"});
    EXPECT_FALSE(view->isLoading());
    EXPECT_EQ(view->documentURL(), "http://h/b");

    // An end the transport reports before the next turn brings its start first.
    load("http://h/c");
    view->engineDidFailLoad("http://h/c", kit::NetworkError::make(kit::NetworkError::TimedOut));
    turn();
    EXPECT_EQ(take(), (Calls{"engine load http://h/c", "start http://h/c", "fail -1001"}));
}

TEST_F(WebViewLifecycle, ANewLoadOrAStopEndsTheOneInFlightAsCancelled)
{
    struct Case {
        const char* name;
        bool startSeen;  // a turn passes before the second step
        bool stop;       // the second step is a stop, not a new load
        Calls expected;
    };
    const Case cases[] = {
        {"replaced before its start", false, false, {"engine load http://h/1", cancelledLine, "engine load http://h/2", "start http://h/2"}},
        {"replaced after its start", true, false,
         {"engine load http://h/1", "start http://h/1", cancelledLine, "engine load http://h/2", "start http://h/2"}},
        {"stopped before its start", false, true, {"engine load http://h/1", "engine stop", cancelledLine}},
        {"stopped after its start", true, true, {"engine load http://h/1", "start http://h/1", "engine stop", cancelledLine}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load("http://h/1");
        if (c.startSeen)
            turn();
        if (c.stop)
            view->stopLoading();
        else
            load("http://h/2");
        turn();
        if (c.stop) // what a transport still says once nothing is in flight is dropped
            view->engineDidFailLoad("http://h/1", kit::NetworkError::make(kit::NetworkError::NetworkConnectionLost));
        else
            view->engineDidFinishLoad("http://h/2");
        Calls expected = c.expected;
        if (!c.stop)
            expected.push_back("finish http://h/2");
        EXPECT_EQ(take(), expected);
        EXPECT_FALSE(view->isLoading());
    }
    view->stopLoading();
    EXPECT_EQ(take(), Calls{}) << "a stop with nothing in flight says nothing";
}

TEST_F(WebViewLifecycle, TheEnginesOwnNavigationReplacesTheLoadAndFollowsItsHops)
{
    load("http://h/1");
    turn();
    auto serial = view->loadSerial();
    view->engineDidBeginLoad("http://h/page");
    EXPECT_NE(view->loadSerial(), serial);
    view->engineDidRedirect("http://h/hop");
    view->stopLoading();
    EXPECT_EQ(take(), (Calls{"engine load http://h/1", "start http://h/1", cancelledLine, "start http://h/page", "engine stop",
                             cancelledLine}));
}

TEST_F(WebViewLifecycle, ADelegateThatLoadsAgainAsALoadStartsEndsTheFirst)
{
    recorder.onStart = [this](kit::WebView&) { load("http://h/2"); };
    load("http://h/1");
    // The transport's end of the first load comes before the turn, and goes with that load.
    view->engineDidFinishLoad("http://h/1");
    turn();
    EXPECT_EQ(take(), (Calls{"engine load http://h/1", "start http://h/1", cancelledLine, "engine load http://h/2",
                             "start http://h/2"}));
    EXPECT_TRUE(view->isLoading());
}

} // namespace
