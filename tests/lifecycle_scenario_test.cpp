// The page-load lifecycle on the virtual clock: the loading indicator's two-second timer, the
// time-out of the first load, the failure alerts (held back during the intro, shown at once
// afterwards), the landing page's interstitial and the delayed show of the web view.

#include "support/Timeline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using nlohmann::json;
using timeline::alertTitles;
using timeline::alphaOf;
using timeline::eventsUntil;
using timeline::Intro;
using timeline::kBase;
using timeline::kFirstPageShownIntroOff;
using timeline::kNoConnectionMessage;
using timeline::kNoConnectionTitle;
using timeline::run;
using timeline::stateAt;
using timeline::unknownErrorMessage;

const std::string kCars = kBase + "cars.php?showCarsBg=true";
const std::string kHome = kBase + "home.php?showHomeBg=true";

bool animating(const json& state) { return state["indicator"]["animating"].get<bool>(); }

TEST(LifecycleScenario, IndicatorComesUpTwoSecondsAfterALoadWasLetThrough)
{
    // The first page is up at 3.0 s; a tab page starts then and is still loading two seconds on.
    const auto t = run(kFirstPageShownIntroOff + "navigate " + kCars + R"(
state
wait 1.99
state
wait 0.01
state
wait 0.5
finish
state
)",
                       Intro::Off);

    json s = stateAt(t, 3.0);
    EXPECT_FALSE(animating(s));
    EXPECT_TRUE(s["page"]["timerIndicator"].get<bool>());
    EXPECT_TRUE(s["page"]["loading"].get<bool>());

    s = stateAt(t, 4.99);
    EXPECT_FALSE(animating(s));
    EXPECT_TRUE(s["page"]["timerIndicator"].get<bool>());

    s = stateAt(t, 5.0);
    EXPECT_TRUE(animating(s));
    EXPECT_FALSE(s["page"]["timerIndicator"].get<bool>());

    // Finishing stops it, swaps the background and shows the page at once.
    s = stateAt(t, 5.5);
    EXPECT_FALSE(animating(s));
    EXPECT_FALSE(s["page"]["loading"].get<bool>());
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 1.0);
    EXPECT_EQ(s["indicator"]["center"], json::array({160, 230}));
}

TEST(LifecycleScenario, IndicatorStaysDownForQuickLoadsAndANewLoadReplacesThePendingTimer)
{
    const auto t = run(kFirstPageShownIntroOff + "navigate " + kCars + "\nwait 1\nfinish\nwait 1.5\nstate\n" +
                           // 5.5 s: a load, replaced one second later by another.
                           "navigate " + kCars + "\nwait 1\nnavigate " + kHome + R"(
wait 1.5
state
wait 0.49
state
wait 0.01
state
)",
                       Intro::Off);

    // A load that finished within two seconds: the timer fired, found nothing loading.
    json s = stateAt(t, 5.5);
    EXPECT_FALSE(animating(s));
    EXPECT_FALSE(s["page"]["timerIndicator"].get<bool>());

    // The first timer (due at 7.5 s) was replaced by the second load's (due at 8.5 s).
    EXPECT_FALSE(animating(stateAt(t, 8.0)));
    EXPECT_FALSE(animating(stateAt(t, 8.49)));
    EXPECT_TRUE(animating(stateAt(t, 8.5)));

    // The replaced load was reported cancelled, which raises nothing.
    auto failures = t.events("load-fail");
    ASSERT_EQ(failures.size(), 1u) << t.dump();
    EXPECT_EQ(failures[0].value("code", 0), -999);
    EXPECT_TRUE(t.events("alert").empty()) << t.dump();
}

TEST(LifecycleScenario, QuickFailureStopsTheIndicatorThenThePendingTimerRestartsIt)
{
    const auto t = run(kFirstPageShownIntroOff + "navigate " + kCars + R"(
wait 0.5
fail -1009
state
press OK
wait 1.49
state
wait 0.01
state
wait 3
state
)" + "navigate " + kHome + "\nwait 0.5\nfinish\nstate\n",
                       Intro::Off);

    json s = stateAt(t, 3.5);
    EXPECT_FALSE(animating(s));
    ASSERT_EQ(s["alerts"].size(), 1u);
    EXPECT_EQ(s["alerts"][0]["title"], kNoConnectionTitle);
    EXPECT_TRUE(s["page"]["loading"].get<bool>());

    EXPECT_FALSE(animating(stateAt(t, 4.99)));
    EXPECT_TRUE(animating(stateAt(t, 5.0)));
    EXPECT_TRUE(animating(stateAt(t, 8.0)));
    // Turns until a later load finishes.
    EXPECT_FALSE(animating(stateAt(t, 8.5)));
}

TEST(LifecycleScenario, CancelledLoadIsIgnoredEntirely)
{
    struct Case {
        const char* name;
        double failAfter;
        bool indicatorAtFailure;
    };
    for (const auto& c : std::vector<Case>{{"before the indicator", 0.5, false}, {"with the indicator up", 2.5, true}}) {
        SCOPED_TRACE(c.name);
        const double failAt = 3.0 + c.failAfter;
        const auto t = run(kFirstPageShownIntroOff + "navigate " + kCars + "\nwait " + std::to_string(c.failAfter) +
                               "\nfail -999\nstate\nwait 3\nstate\n",
                           Intro::Off);
        json s = stateAt(t, failAt);
        EXPECT_EQ(animating(s), c.indicatorAtFailure);
        EXPECT_TRUE(s["alerts"].empty());
        EXPECT_TRUE(s["page"]["loading"].get<bool>());
        // The load is still counted as running, so the indicator is up once its timer has fired.
        EXPECT_TRUE(animating(stateAt(t, failAt + 3)));
        EXPECT_TRUE(t.events("alert").empty()) << t.dump();
    }
}

TEST(LifecycleScenario, FailureCodesChooseTheAlert)
{
    struct Case {
        int code;
        std::string description;
        bool noConnection;
    };
    const std::vector<Case> cases = {
        {-1009, "The Internet connection appears to be offline.", true},
        {-1001, "The request timed out.", true},
        {-1003, "A server with that hostname could not be found.", true},
        {-1005, "The network connection was lost.", true},
        {-1004, "Could not connect to the server.", true},
        {-1002, "unsupported URL", false},
        {-1000, "bad URL", false},
        {-1, "unknown error", false},
        {404, "Not Found (with parentheses) and 100% odd text", false},
    };
    std::string script = kFirstPageShownIntroOff;
    for (const auto& c : cases) {
        std::string quoted = c.description;
        script += "navigate " + kCars + "\nwait 0.1\nfail " + std::to_string(c.code) + " \"" + quoted + "\"\npress OK\n";
    }
    const auto t = run(script, Intro::Off);

    auto alerts = t.events("alert");
    ASSERT_EQ(alerts.size(), cases.size()) << t.dump();
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "code " << cases[i].code);
        const auto& alert = alerts[i];
        if (cases[i].noConnection) {
            EXPECT_EQ(alert.value("title", ""), kNoConnectionTitle);
            EXPECT_EQ(alert.value("message", ""), kNoConnectionMessage);
        } else {
            EXPECT_EQ(alert.value("title", ""), "Unknown Error");
            EXPECT_EQ(alert.value("message", ""), unknownErrorMessage(cases[i].description));
        }
        EXPECT_EQ(alert["buttons"], json::array({"OK"}));
    }
}

TEST(LifecycleScenario, EveryNetworkFailureAfterTheFirstPageShowsANewAlert)
{
    const auto t = run(kFirstPageShownIntroOff + "state\nnavigate " + kCars + "\nwait 0.1\nfail -1009\nnavigate " + kHome +
                           "\nwait 0.1\nfail -1004\nstate\n",
                       Intro::Off);
    EXPECT_EQ(alertTitles(t), (std::vector<std::string>{kNoConnectionTitle, kNoConnectionTitle}));
    json before = stateAt(t, 3.0);
    json after = stateAt(t, 3.2);
    EXPECT_EQ(after["alerts"].size(), 2u);
    // Failed loads leave the page and its background as they were.
    EXPECT_EQ(after["backgrounds"], before["backgrounds"]);
    EXPECT_EQ(after["webView"]["hidden"], before["webView"]["hidden"]);
    EXPECT_EQ(after["webView"]["alpha"], before["webView"]["alpha"]);
}

TEST(LifecycleScenario, OkOnAFailureAlertRunsTheStoredButtonScript)
{
    const auto t = run(kFirstPageShownIntroOff +
                           // No page alert yet: OK runs nothing.
                           "navigate " + kCars + "\nwait 0.1\nfail -1009\npress OK\n" +
                           "navigate " + kBase +
                           "msg.php?invokeAlertOneBtnTitle=Hi&invokeAlertOneBtnBody=There&invokeAlertOneBtnName=Go"
                           "&invokeAlertOneBtnJS=pageDone()&stopLoad=true\n"
                           "press Go\n"
                           "navigate " + kCars + "\nwait 0.1\nfail -1009\npress OK\n" +
                           "navigate " + kCars + "\nwait 0.1\nfail -1002 \"bad\"\npress OK\n",
                       Intro::Off);

    auto scripts = t.events("js");
    ASSERT_EQ(scripts.size(), 3u) << t.dump();
    for (const auto& js : scripts)
        EXPECT_EQ(js.value("script", ""), "pageDone()");

    // Which presses ran a script: not the first OK (nothing stored yet), then every one.
    auto names = t.names();
    std::vector<bool> ranScript;
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == "alert-press")
            ranScript.push_back(i + 1 < names.size() && names[i + 1] == "js");
    EXPECT_EQ(ranScript, (std::vector<bool>{false, true, true, true})) << t.dump();
    auto presses = t.events("alert-press");
    ASSERT_EQ(presses.size(), 4u);
    EXPECT_EQ(presses[2].value("title", ""), kNoConnectionTitle);
    EXPECT_EQ(presses[3].value("title", ""), "Unknown Error");
    for (const auto& press : presses)
        EXPECT_EQ(press.value("index", -1), 0);
}

TEST(LifecycleScenario, NoNetworkAtFirstLaunchShowsOneAlertAfterTheIntro)
{
    const auto t = run(R"(
wait 1
fail -1009
state
wait 1.99
state
wait 0.01
state
press OK
wait 2.39
state
wait 0.01
state
wait 14.59
state
wait 0.01
state
wait 5
state
)");

    json s = stateAt(t, 1.0);
    EXPECT_FALSE(animating(s));
    EXPECT_TRUE(s["alerts"].empty());
    EXPECT_TRUE(s["page"]["unableToReachInternetDeferred"].get<bool>());
    EXPECT_TRUE(s["page"]["isUnableToReachInternet"].get<bool>());

    EXPECT_TRUE(stateAt(t, 2.99)["alerts"].empty());

    s = stateAt(t, 3.0);
    ASSERT_EQ(s["alerts"].size(), 1u);
    EXPECT_EQ(s["alerts"][0]["title"], kNoConnectionTitle);
    EXPECT_EQ(s["alerts"][0]["message"], kNoConnectionMessage);
    EXPECT_FALSE(s["page"]["unableToReachInternetDeferred"].get<bool>());

    // The end of the intro sequence starts no indicator once the connection is known lost.
    EXPECT_FALSE(stateAt(t, 5.39)["page"]["introSequenceCompleted"].get<bool>());
    s = stateAt(t, 5.4);
    EXPECT_TRUE(s["page"]["introSequenceCompleted"].get<bool>());
    EXPECT_FALSE(animating(s));

    // The first-load check finds the alert already raised.
    for (double at : {19.99, 20.0, 25.0}) {
        SCOPED_TRACE(testing::Message() << "t=" << at);
        s = stateAt(t, at);
        EXPECT_TRUE(s["alerts"].empty());
        EXPECT_FALSE(animating(s));
        EXPECT_TRUE(s["webView"]["hidden"].get<bool>());
        EXPECT_TRUE(s["page"]["firstLoad"].get<bool>());
    }
    auto alerts = t.events("alert");
    ASSERT_EQ(alerts.size(), 1u) << t.dump();
    EXPECT_DOUBLE_EQ(alerts[0].value("t", -1.0), 3.0);
}

TEST(LifecycleScenario, FailureAlertsHeldBackDuringTheIntro)
{
    const std::string kChooseName = kBase + "choose_name.php";
    struct Case {
        const char* name;
        std::string failures;  // script lines, ending at 1.0 s
        std::vector<std::string> titles;
        std::vector<std::string> messages;
    };
    const std::vector<Case> cases = {
        {"two unknown errors: only the latest waits",
         "wait 0.5\nfail -1002 \"first problem\"\nnavigate " + kChooseName + "\nwait 0.5\nfail -1100 \"second problem\"\n",
         {"Unknown Error"},
         {unknownErrorMessage("second problem")}},
        {"unknown error, then lost connection: the no-connection alert comes first",
         "wait 0.5\nfail -1002 \"lookup problem\"\nnavigate " + kChooseName + "\nwait 0.5\nfail -1009\n",
         {kNoConnectionTitle, "Unknown Error"},
         {kNoConnectionMessage, unknownErrorMessage("lookup problem")}},
        {"a cancelled load is not held back",
         "wait 0.5\nfail -999\nwait 0.5\n",
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto t = run(c.failures + "wait 1\nstate\nwait 0.99\nstate\nwait 0.01\nstate\n");

        // 2.0 s: the messages wait; 2.99 s: still nothing shown.
        json s = stateAt(t, 2.0);
        EXPECT_TRUE(s["alerts"].empty());
        EXPECT_EQ(s["page"]["errorMessageDeferred"], c.titles.empty() ? json(nullptr) : json(c.messages.back()));
        EXPECT_EQ(s["page"]["unableToReachInternetDeferred"].get<bool>(), c.titles.size() == 2);
        EXPECT_TRUE(stateAt(t, 2.99)["alerts"].empty());

        EXPECT_EQ(alertTitles(t), c.titles) << t.dump();
        auto alerts = t.events("alert");
        for (size_t i = 0; i < alerts.size() && i < c.messages.size(); ++i) {
            EXPECT_EQ(alerts[i].value("message", ""), c.messages[i]);
            EXPECT_DOUBLE_EQ(alerts[i].value("t", -1.0), 3.0);
        }
        s = stateAt(t, 3.0);
        EXPECT_TRUE(s["page"]["errorMessageDeferred"].is_null());
        EXPECT_FALSE(s["page"]["unableToReachInternetDeferred"].get<bool>());
        ASSERT_EQ(s["alerts"].size(), c.titles.size());
        if (!c.titles.empty()) {
            EXPECT_EQ(s["alerts"].back()["title"], c.titles.back()) << "frontmost is the one shown last";
        }
    }
}

TEST(LifecycleScenario, FirstLoadStillRunningAfterTwentySecondsRaisesTheAlertThenShowsThePage)
{
    const auto t = run(R"(
wait 5.4
state
wait 14.59
state
wait 0.01
state
press OK
wait 5
finish
state
wait 0.6
state
wait 20
state
)");

    EXPECT_TRUE(animating(stateAt(t, 5.4)));

    json s = stateAt(t, 19.99);
    EXPECT_TRUE(s["alerts"].empty());
    EXPECT_TRUE(animating(s));

    s = stateAt(t, 20.0);
    ASSERT_EQ(s["alerts"].size(), 1u);
    EXPECT_EQ(s["alerts"][0]["title"], kNoConnectionTitle);
    EXPECT_FALSE(animating(s));
    EXPECT_TRUE(s["page"]["isUnableToReachInternet"].get<bool>());
    EXPECT_TRUE(s["page"]["loading"].get<bool>()) << "the load is not stopped";
    auto alerts = t.events("alert");
    ASSERT_EQ(alerts.size(), 1u) << t.dump();
    EXPECT_DOUBLE_EQ(alerts[0].value("t", -1.0), 20.0);

    // Finishing later shows the first page the usual way.
    s = stateAt(t, 25.0);
    EXPECT_FALSE(s["page"]["firstLoad"].get<bool>());
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 0.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 1.0);
    s = stateAt(t, 25.6);
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 1.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 1.0);
    EXPECT_EQ(s["backgrounds"]["secondImageViewBg"]["image"], "bg_default.jpg");
    EXPECT_TRUE(stateAt(t, 45.6)["alerts"].empty());
}

TEST(LifecycleScenario, FirstLoadTimeOutDuringALongIntroWaitsForTheIntroToEnd)
{
    const auto t = run("wait 19.99\nstate\nwait 0.01\nstate\nwait 4.99\nstate\nwait 0.01\nstate\n", Intro::On,
                       {"--movie-seconds", "25"});

    EXPECT_FALSE(stateAt(t, 19.99)["page"]["isUnableToReachInternet"].get<bool>());
    json s = stateAt(t, 20.0);
    EXPECT_TRUE(s["alerts"].empty());
    EXPECT_TRUE(s["page"]["unableToReachInternetDeferred"].get<bool>());
    EXPECT_TRUE(s["page"]["isUnableToReachInternet"].get<bool>());
    EXPECT_TRUE(stateAt(t, 24.99)["alerts"].empty());
    s = stateAt(t, 25.0);
    ASSERT_EQ(s["alerts"].size(), 1u);
    EXPECT_EQ(s["alerts"][0]["title"], kNoConnectionTitle);
    EXPECT_EQ(t.count("alert"), 1u) << t.dump();
}

TEST(LifecycleScenario, FirstLoadCheckIsSilentOnceTheFirstPageIsShown)
{
    const auto t = run(kFirstPageShownIntroOff + "wait 16.99\nstate\nwait 0.01\nstate\nwait 1\n", Intro::Off);
    EXPECT_TRUE(t.events("alert").empty()) << t.dump();
    EXPECT_FALSE(animating(stateAt(t, 20.0)));
}

TEST(LifecycleScenario, LoadAfterTheLandingPageShowsTheInterstitialAndLaterPagesShowAfterADelay)
{
    const auto t = run(kFirstPageShownIntroOff + "navigate " + kBase + "register.php\nwait 0.5\nfinish\nstate\nwait 0.5\n" +
                           "navigate " + kBase + "fight.php?showAttackBg=true\n" + R"(
state
wait 0.5
finish
state
wait 0.059
state
wait 0.001
state
wait 0.5
state
)" + "navigate " + kCars + "\nstate\nwait 0.5\nfinish\nstate\n",
                       Intro::Off);

    // The landing page itself is shown at once, as usual.
    json s = stateAt(t, 3.5);
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 1.0);
    EXPECT_TRUE(s["page"]["lastPageLoadedWasLanding"].get<bool>());
    EXPECT_FALSE(s["page"]["showWebViewDelayed"].get<bool>());

    // The next load: indicator at once, page hidden, both layers on the default picture.
    s = stateAt(t, 4.0);
    EXPECT_TRUE(animating(s));
    EXPECT_TRUE(s["webView"]["hidden"].get<bool>());
    EXPECT_EQ(s["backgrounds"]["imageViewBg"]["image"], "bg_default.jpg");
    EXPECT_EQ(s["backgrounds"]["secondImageViewBg"]["image"], "bg_default.jpg");
    EXPECT_TRUE(s["page"]["showWebViewDelayed"].get<bool>());
    EXPECT_FALSE(s["page"]["lastPageLoadedWasLanding"].get<bool>());

    // Finished: indicator down, background swapped, page still hidden for 0.06 s.
    s = stateAt(t, 4.5);
    EXPECT_FALSE(animating(s));
    EXPECT_TRUE(s["webView"]["hidden"].get<bool>());
    EXPECT_EQ(s["backgrounds"]["secondImageViewBg"]["image"], "bg_fight.jpg");
    EXPECT_EQ(s["backgrounds"]["rearmost"], "secondImageViewBg");
    EXPECT_TRUE(stateAt(t, 4.559)["webView"]["hidden"].get<bool>());
    s = stateAt(t, 4.56);
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 1.0);

    // The load after that carries no interstitial: the page stays up and the indicator waits
    // for its timer, but the delayed show stays in force.
    s = stateAt(t, 5.06);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 1.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 0.0);
    EXPECT_TRUE(s["page"]["bgInterstitialToLoad"].is_null());
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_FALSE(animating(s));
    s = stateAt(t, 5.56);
    EXPECT_TRUE(s["page"]["showWebViewDelayed"].get<bool>());
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
}

TEST(LifecycleScenario, NewPlayerPathDuringTheIntroShowsTheInterstitialAndThePageWithTheFirstPageFade)
{
    // The entry request leads to the landing page and then to the name page while the movie plays.
    const auto t = run("wait 0.5\nfinish\nnavigate " + kBase + "register.php\nwait 0.5\nfinish\nnavigate " + kBase +
                       "choose_name.php\nstate\nwait 0.5\nfinish\nwait 3.9\nstate\nwait 0.059\nstate\nwait 0.001\nstate\n"
                       "wait 0.24\nstate\nwait 0.3\nstate\n");

    // The interstitial does not wait for the intro: indicator at once, page hidden.
    json s = stateAt(t, 1.0);
    EXPECT_TRUE(animating(s));
    EXPECT_TRUE(s["webView"]["hidden"].get<bool>());
    EXPECT_EQ(s["backgrounds"]["imageViewBg"]["image"], "bg_default.jpg");
    EXPECT_EQ(s["backgrounds"]["secondImageViewBg"]["image"], "bg_default.jpg");
    EXPECT_TRUE(s["page"]["showWebViewDelayed"].get<bool>());
    EXPECT_FALSE(s["page"]["introAnimationCompleted"].get<bool>());

    // 5.4 s: the first page is shown on the delayed path, while the start layer fades out slowly.
    s = stateAt(t, 5.4);
    EXPECT_FALSE(animating(s));
    EXPECT_FALSE(s["page"]["firstLoad"].get<bool>());
    EXPECT_TRUE(s["webView"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 1.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 0.0);
    EXPECT_TRUE(stateAt(t, 5.459)["webView"]["hidden"].get<bool>());
    s = stateAt(t, 5.46);
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 1.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 0.8);
    // The fade-out's end still fades the new background in.
    s = stateAt(t, 5.7);
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 0.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 0.0);
    s = stateAt(t, 6.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 1.0);
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 1.0);
    EXPECT_TRUE(s["tabBar"]["hidden"].get<bool>());
    EXPECT_TRUE(t.events("alert").empty()) << t.dump();
}

} // namespace
