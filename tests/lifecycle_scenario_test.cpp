// The page-load lifecycle on the virtual clock: the loading indicator's two-second timer, the
// time-out of the first load, the failure alerts (held back during the intro, shown at once
// afterwards), the landing page's interstitial and the delayed show of the web view.

#include "support/Timeline.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;
using timeline::expectAt;
using timeline::Intro;
using timeline::kBase;
using timeline::kFirstPageShownIntroOff;
using timeline::kNoConnectionMessage;
using timeline::kNoConnectionTitle;
using timeline::run;
using timeline::unknownErrorMessage;

const std::string kCars = "navigate " + kBase + "cars.php?showCarsBg=true\n";
const std::string kHome = "navigate " + kBase + "home.php?showHomeBg=true\n";
const std::string kSpinning = "/indicator/animating";

TEST(LifecycleScenario, IndicatorComesUpTwoSecondsAfterALoadWasLetThroughUnlessItEndedOrWasReplaced)
{
    // First page up at 3.0 s; a tab page starts then and is still loading two seconds on.
    const auto t = run(kFirstPageShownIntroOff + kCars + "state\nwait 1.99\nstate\nwait 0.01\nstate\nwait 0.5\nfinish\nstate\n" +
                           // 5.5 s: a quick load; then one replaced a second later by another.
                           kCars + "wait 1\nfinish\nwait 1.5\nstate\n" + kCars + "wait 1\n" + kHome +
                           "wait 1.5\nstate\nwait 0.49\nstate\nwait 0.01\nstate\nfinish\nwait 12\nstate\n",
                       Intro::Off);
    expectAt(t, 3.0, {{kSpinning, false}, {"/page/timerIndicator", true}, {"/page/loading", true}});
    expectAt(t, 4.99, {{kSpinning, false}, {"/page/timerIndicator", true}});
    expectAt(t, 5.0, {{kSpinning, true}, {"/page/timerIndicator", false}});
    // Finishing stops it, swaps the background and shows the page at once.
    expectAt(t, 5.5, {{kSpinning, false}, {"/page/loading", false}, {"/webView/hidden", false}, {"/webView/alpha", 1.0},
                      {"/indicator/center", {160, 230}}});
    // The quick load's timer fired and found nothing loading.
    expectAt(t, 8.0, {{kSpinning, false}, {"/page/timerIndicator", false}});
    // The replaced load's timer (due at 10.0 s) gave way to the new load's (due at 11.0 s).
    expectAt(t, 10.5, {{kSpinning, false}});
    expectAt(t, 10.99, {{kSpinning, false}});
    expectAt(t, 11.0, {{kSpinning, true}});
    // The replaced load was reported cancelled, which raises nothing; nor does the first-load check.
    EXPECT_EQ(timeline::fieldOf(t, "load-fail", "code"), std::vector<json>{-999}) << t.dump();
    expectAt(t, 23.0, {{kSpinning, false}, {"/alerts", json::array()}});
    EXPECT_EQ(t.count("alert"), 0u) << t.dump();
}

TEST(LifecycleScenario, QuickFailureStopsTheIndicatorThenThePendingTimerRestartsIt)
{
    const auto t = run(kFirstPageShownIntroOff + kCars + "wait 0.5\nfail -1009\nstate\npress OK\nwait 1.49\nstate\nwait 0.01\nstate\n"
                       "wait 3\nstate\n" + kHome + "wait 0.5\nfinish\nstate\n", Intro::Off);
    expectAt(t, 3.5, {{kSpinning, false}, {"/alerts/0/title", kNoConnectionTitle}, {"/page/loading", true}});
    expectAt(t, 4.99, {{kSpinning, false}});
    expectAt(t, 5.0, {{kSpinning, true}});
    expectAt(t, 8.0, {{kSpinning, true}}); // until a later load finishes
    expectAt(t, 8.5, {{kSpinning, false}});

    // A cancelled load is ignored entirely: still counted as running, no alert.
    for (double after : {0.5, 2.5}) {
        const auto c = run(kFirstPageShownIntroOff + kCars + "wait " + std::to_string(after) + "\nfail -999\nstate\nwait 3\nstate\n", Intro::Off);
        expectAt(c, 3.0 + after, {{kSpinning, after > 2}, {"/alerts", json::array()}, {"/page/loading", true}});
        expectAt(c, 6.0 + after, {{kSpinning, true}});
        EXPECT_EQ(c.count("alert"), 0u) << c.dump();
    }
}

TEST(LifecycleScenario, EveryFailureAfterTheFirstPageShowsItsAlertAndLeavesThePageAlone)
{
    const std::vector<std::pair<int, std::string>> failures = { // code, description; the first five: no connection
        {-1009, "The Internet connection appears to be offline."}, {-1001, "The request timed out."},
        {-1003, "A server with that hostname could not be found."}, {-1005, "The network connection was lost."},
        {-1004, "Could not connect to the server."}, {-1002, "unsupported URL"}, {-1000, "bad URL"}, {-1, "unknown error"},
        {404, "Not Found (with parentheses) and 100% odd text"},
    };
    std::string script = kFirstPageShownIntroOff + "state\n";
    for (const auto& [code, description] : failures)
        script += kCars + "wait 0.1\nfail " + std::to_string(code) + " \"" + description + "\"\n";
    const auto t = run(script + "state\n", Intro::Off);

    auto alerts = t.events("alert");
    ASSERT_EQ(alerts.size(), failures.size()) << t.dump();
    for (size_t i = 0; i < failures.size(); ++i) {
        const bool noConnection = i < 5;
        EXPECT_EQ(alerts[i]["title"], noConnection ? kNoConnectionTitle : "Unknown Error") << failures[i].first;
        EXPECT_EQ(alerts[i]["message"], noConnection ? kNoConnectionMessage : unknownErrorMessage(failures[i].second)) << failures[i].first;
        EXPECT_EQ(alerts[i]["buttons"], json::array({"OK"}));
    }
    json before = timeline::stateAt(t, 3.0), after = timeline::stateAt(t, 3.9);
    EXPECT_EQ(after["alerts"].size(), failures.size());
    for (const char* part : {"/backgrounds", "/webView/hidden", "/webView/alpha"})
        EXPECT_EQ(after[json::json_pointer(part)], before[json::json_pointer(part)]) << part;
}

TEST(LifecycleScenario, OkOnAFailureAlertRunsTheStoredButtonScript)
{
    const auto t = run(kFirstPageShownIntroOff + kCars + "wait 0.1\nfail -1009\npress OK\n" + // nothing stored yet
                           timeline::command("invokeAlertOneBtnTitle=Hi&invokeAlertOneBtnBody=There&invokeAlertOneBtnName=Go"
                                             "&invokeAlertOneBtnJS=pageDone()") +
                           "press Go\n" + kCars + "wait 0.1\nfail -1009\npress OK\n" + kCars + "wait 0.1\nfail -1002 \"bad\"\npress OK\n",
                       Intro::Off);
    EXPECT_EQ(timeline::fieldOf(t, "js", "script"), std::vector<json>(3, "pageDone()")) << t.dump();
    auto names = t.names();
    std::vector<bool> ranScript;
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == "alert-press")
            ranScript.push_back(i + 1 < names.size() && names[i + 1] == "js");
    EXPECT_EQ(ranScript, (std::vector<bool>{false, true, true, true})) << t.dump();
    EXPECT_EQ(timeline::fieldOf(t, "alert-press", "title"), (std::vector<json>{kNoConnectionTitle, "Hi", kNoConnectionTitle, "Unknown Error"}));
    EXPECT_EQ(timeline::fieldOf(t, "alert-press", "index"), std::vector<json>(4, 0));
}

TEST(LifecycleScenario, NoNetworkAtFirstLaunchShowsOneAlertAfterTheIntro)
{
    const auto t = run("wait 1\nfail -1009\nstate\nwait 1.99\nstate\nwait 0.01\nstate\npress OK\nwait 2.39\nstate\nwait 0.01\nstate\n"
                       "wait 14.59\nstate\nwait 0.01\nstate\nwait 5\nstate\n");
    expectAt(t, 1.0, {{kSpinning, false}, {"/alerts", json::array()}, {"/page/unableToReachInternetDeferred", true},
                      {"/page/isUnableToReachInternet", true}});
    expectAt(t, 2.99, {{"/alerts", json::array()}});
    expectAt(t, 3.0, {{"/alerts/0/title", kNoConnectionTitle}, {"/alerts/0/message", kNoConnectionMessage},
                      {"/page/unableToReachInternetDeferred", false}});
    // The end of the intro sequence starts no indicator once the connection is known lost.
    expectAt(t, 5.39, {{"/page/introSequenceCompleted", false}});
    expectAt(t, 5.4, {{"/page/introSequenceCompleted", true}, {kSpinning, false}});
    // The first-load check finds the alert already raised.
    for (double at : {19.99, 20.0, 25.0})
        expectAt(t, at, {{"/alerts", json::array()}, {kSpinning, false}, {"/webView/hidden", true}, {"/page/firstLoad", true}});
    EXPECT_EQ(timeline::fieldOf(t, "alert", "t"), std::vector<json>{3.0}) << t.dump();
}

TEST(LifecycleScenario, FailureAlertsHeldBackDuringTheIntro)
{
    const std::string kChooseName = "navigate " + kBase + "choose_name.php\n";
    struct Case {
        std::string failures; // script lines, ending at 1.0 s
        std::vector<std::string> titles, messages;
    };
    const Case cases[] = {
        {"wait 0.5\nfail -1002 \"first problem\"\n" + kChooseName + "wait 0.5\nfail -1100 \"second problem\"\n", // only the latest waits
         {"Unknown Error"}, {unknownErrorMessage("second problem")}},
        {"wait 0.5\nfail -1002 \"lookup problem\"\n" + kChooseName + "wait 0.5\nfail -1009\n", // no connection comes first
         {kNoConnectionTitle, "Unknown Error"}, {kNoConnectionMessage, unknownErrorMessage("lookup problem")}},
        {"wait 0.5\nfail -999\nwait 0.5\n", {}, {}}, // a cancelled load is not held back
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failures);
        const auto t = run(c.failures + "wait 1\nstate\nwait 0.99\nstate\nwait 0.01\nstate\n");
        expectAt(t, 2.0, {{"/alerts", json::array()}, {"/page/errorMessageDeferred", c.titles.empty() ? json() : json(c.messages.back())},
                          {"/page/unableToReachInternetDeferred", c.titles.size() == 2}});
        expectAt(t, 2.99, {{"/alerts", json::array()}});
        EXPECT_EQ(timeline::fieldOf(t, "alert", "title"), std::vector<json>(c.titles.begin(), c.titles.end())) << t.dump();
        EXPECT_EQ(timeline::fieldOf(t, "alert", "message"), std::vector<json>(c.messages.begin(), c.messages.end()));
        EXPECT_EQ(timeline::fieldOf(t, "alert", "t"), std::vector<json>(c.titles.size(), 3.0));
        json expected = {{"/page/errorMessageDeferred", nullptr}, {"/page/unableToReachInternetDeferred", false},
                         {"/alerts/" + std::to_string(c.titles.size()), "(absent)"}};
        if (!c.titles.empty()) // frontmost is the one shown last
            expected["/alerts/" + std::to_string(c.titles.size() - 1) + "/title"] = c.titles.back();
        expectAt(t, 3.0, expected);
    }
}

TEST(LifecycleScenario, FirstLoadStillRunningAfterTwentySecondsRaisesTheAlertThenShowsThePage)
{
    const auto t = run("wait 5.4\nstate\nwait 14.59\nstate\nwait 0.01\nstate\npress OK\nwait 5\nfinish\nstate\nwait 0.6\nstate\nwait 20\nstate\n");
    expectAt(t, 5.4, {{kSpinning, true}});
    expectAt(t, 19.99, {{"/alerts", json::array()}, {kSpinning, true}});
    // The load is not stopped.
    expectAt(t, 20.0, {{"/alerts/0/title", kNoConnectionTitle}, {kSpinning, false}, {"/page/isUnableToReachInternet", true},
                       {"/page/loading", true}});
    EXPECT_EQ(timeline::fieldOf(t, "alert", "t"), std::vector<json>{20.0}) << t.dump();
    // Finishing later shows the first page the usual way.
    expectAt(t, 25.0, {{"/page/firstLoad", false}, {"/webView/hidden", false}, {"/webView/alpha", 0.0},
                       {"/backgrounds/imageViewBg/alpha", 1.0}});
    expectAt(t, 25.6, {{"/webView/alpha", 1.0}, {"/backgrounds/secondImageViewBg/alpha", 1.0},
                       {"/backgrounds/secondImageViewBg/image", "bg_default.jpg"}});
    expectAt(t, 45.6, {{"/alerts", json::array()}});

    // During a longer intro the time-out's alert waits for the intro to end.
    const auto l = run("wait 19.99\nstate\nwait 0.01\nstate\nwait 4.99\nstate\nwait 0.01\nstate\n", Intro::On, {"--movie-seconds", "25"});
    expectAt(l, 19.99, {{"/page/isUnableToReachInternet", false}});
    expectAt(l, 20.0, {{"/alerts", json::array()}, {"/page/unableToReachInternetDeferred", true}, {"/page/isUnableToReachInternet", true}});
    expectAt(l, 24.99, {{"/alerts", json::array()}});
    expectAt(l, 25.0, {{"/alerts/0/title", kNoConnectionTitle}});
    EXPECT_EQ(l.count("alert"), 1u) << l.dump();
}

TEST(LifecycleScenario, LoadAfterTheLandingPageShowsTheInterstitialAndLaterPagesShowAfterADelay)
{
    const auto t = run(kFirstPageShownIntroOff + "navigate " + kBase + "register.php\nwait 0.5\nfinish\nstate\nwait 0.5\nnavigate " + kBase +
                           "fight.php?showAttackBg=true\nstate\nwait 0.5\nfinish\nstate\nwait 0.059\nstate\nwait 0.001\nstate\nwait 0.5\nstate\n" +
                           kCars + "state\nwait 0.5\nfinish\nstate\n",
                       Intro::Off);
    // The landing page itself is shown at once.
    expectAt(t, 3.5, {{"/webView/hidden", false}, {"/webView/alpha", 1.0}, {"/page/lastPageLoadedWasLanding", true},
                      {"/page/showWebViewDelayed", false}});
    // The next load: indicator at once, page hidden, both layers on the default picture.
    expectAt(t, 4.0, {{kSpinning, true}, {"/webView/hidden", true}, {"/backgrounds/imageViewBg/image", "bg_default.jpg"},
                      {"/backgrounds/secondImageViewBg/image", "bg_default.jpg"}, {"/page/showWebViewDelayed", true},
                      {"/page/lastPageLoadedWasLanding", false}});
    // Finished: indicator down, background swapped, page still hidden for 0.06 s.
    expectAt(t, 4.5, {{kSpinning, false}, {"/webView/hidden", true}, {"/backgrounds/secondImageViewBg/image", "bg_fight.jpg"},
                      {"/backgrounds/rearmost", "secondImageViewBg"}});
    expectAt(t, 4.559, {{"/webView/hidden", true}});
    expectAt(t, 4.56, {{"/webView/hidden", false}, {"/webView/alpha", 1.0}});
    // The load after that has no interstitial: the page stays up and the indicator waits for its
    // timer, but the delayed show stays in force.
    expectAt(t, 5.06, {{"/backgrounds/secondImageViewBg/alpha", 1.0}, {"/backgrounds/imageViewBg/alpha", 0.0},
                       {"/page/bgInterstitialToLoad", nullptr}, {"/webView/hidden", false}, {kSpinning, false}});
    expectAt(t, 5.56, {{"/page/showWebViewDelayed", true}, {"/webView/hidden", false}});
}

TEST(LifecycleScenario, NewPlayerPathDuringTheIntroShowsTheInterstitialAndThePageWithTheFirstPageFade)
{
    // The entry request leads to the landing page and then to the name page while the movie plays.
    const auto t = run("wait 0.5\nfinish\nnavigate " + kBase + "register.php\nwait 0.5\nfinish\nnavigate " + kBase +
                       "choose_name.php\nstate\nwait 0.5\nfinish\nwait 3.9\nstate\nwait 0.059\nstate\nwait 0.001\nstate\n"
                       "wait 0.24\nstate\nwait 0.3\nstate\n");
    // The interstitial does not wait for the intro.
    expectAt(t, 1.0, {{kSpinning, true}, {"/webView/hidden", true}, {"/backgrounds/imageViewBg/image", "bg_default.jpg"},
                      {"/backgrounds/secondImageViewBg/image", "bg_default.jpg"}, {"/page/showWebViewDelayed", true},
                      {"/page/introAnimationCompleted", false}});
    // 5.4 s: the first page is shown on the delayed path while the start layer fades out.
    expectAt(t, 5.4, {{kSpinning, false}, {"/page/firstLoad", false}, {"/webView/hidden", true},
                      {"/backgrounds/imageViewBg/alpha", 1.0}, {"/backgrounds/secondImageViewBg/alpha", 0.0}});
    expectAt(t, 5.459, {{"/webView/hidden", true}});
    expectAt(t, 5.46, {{"/webView/hidden", false}, {"/webView/alpha", 1.0}, {"/backgrounds/imageViewBg/alpha", 0.8}});
    // The fade-out's end still fades the new background in.
    expectAt(t, 5.7, {{"/backgrounds/imageViewBg/alpha", 0.0}, {"/backgrounds/secondImageViewBg/alpha", 0.0}});
    expectAt(t, 6.0, {{"/backgrounds/secondImageViewBg/alpha", 1.0}, {"/webView/alpha", 1.0}, {"/tabBar/hidden", true}});
    EXPECT_EQ(t.count("alert"), 0u) << t.dump();
}

} // namespace
