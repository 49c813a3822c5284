// Launch, the signed entry request and the tab bar, end to end on the virtual clock with the
// scripted engine.

#include "support/Reference.h"
#include "support/Timeline.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

namespace {

using nlohmann::json;
using timeline::expectState;
using timeline::fieldOf;
using timeline::Intro;
using timeline::kBase;
using timeline::run;
using timeline::runWith;

const std::string kHome = kBase + "home.php?showHomeBg=true";
// Intro off: the first page is shown at 2.4 s and has faded in by 3.0 s, with the tab bar.
const std::string kHomeShown = "navigate " + kHome + "\nfinish\nwait 3\n";

std::string base64(const std::vector<unsigned char>& bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    out.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), static_cast<int>(bytes.size()))));
    return out;
}

TEST(LaunchScenario, MovieChoiceAndEndOfIntroFollowTheSettingsAndAudioRoute)
{
    struct Case {
        json defaults;
        const char* route; // --audio-route
        const char* movie; // nullptr: no movie at all
    };
    const std::vector<Case> cases{
        {json::object(), "Speaker", "halvex_v1"}, {json::object(), "none", "halvex_no_sound_v1"}, {json::object(), "", "halvex_no_sound_v1"},
        {{{"introAnimationEnabled", true}, {"soundEnabled", true}}, "Speaker", "halvex_v1"},
        {{{"introAnimationEnabled", true}, {"soundEnabled", true}}, "none", "halvex_no_sound_v1"},
        {{{"introAnimationEnabled", true}, {"soundEnabled", false}}, "Speaker", "halvex_no_sound_v1"},
        {{{"introAnimationEnabled", true}, {"soundEnabled", false}}, "none", "halvex_no_sound_v1"},
        {{{"introAnimationEnabled", false}, {"soundEnabled", true}}, "Speaker", nullptr},
        {{{"introAnimationEnabled", false}, {"soundEnabled", true}}, "none", nullptr},
        {{{"introAnimationEnabled", false}, {"soundEnabled", false}}, "Speaker", nullptr},
        {{{"introAnimationEnabled", false}, {"soundEnabled", false}}, "none", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defaults.dump() + " route " + c.route);
        // The default movie lasts 3 s: the intro ends at exactly t = 3 when a movie plays.
        auto t = runWith(c.defaults, "state\nwait 2.99\nstate\nwait 0.01\nstate\n", {"--audio-route", c.route});
        EXPECT_EQ(fieldOf(t, "movie", "name"), c.movie ? std::vector<json>(2, c.movie) : std::vector<json>{}) << t.dump();
        EXPECT_EQ(fieldOf(t, "movie", "event"), (c.movie ? std::vector<json>{"prepare", "play"} : std::vector<json>{}));
        EXPECT_EQ(fieldOf(t, "movie", "t"), std::vector<json>(c.movie ? 2 : 0, 0.0));
        // Without a movie the intro ends during launch itself. Either way the icon badge is cleared.
        auto states = t.states();
        ASSERT_EQ(states.size(), 3u) << t.dump();
        for (size_t i = 0; i < 3; ++i)
            expectState(states[i], {{"/webView/inView", !c.movie || i == 2}, {"/page/introAnimationCompleted", !c.movie || i == 2}},
                        "state " + std::to_string(i));
        EXPECT_EQ(fieldOf(t, "icon-badge", "value"), std::vector<json>{0});
        EXPECT_EQ(fieldOf(t, "icon-badge", "t"), std::vector<json>{0.0});
    }
}

TEST(LaunchScenario, MovieFinishedFromTheScriptEndsTheIntroOnce)
{
    // The player's own end at 3 s posts nothing more; the intro sequence completes 2.4 s after the one end.
    auto t = run("movie finished\nstate\nwait 2.39\nstate\nwait 0.01\nstate\nwait 3.5\nstate\n");
    EXPECT_EQ(t.count("movie"), 2u) << t.dump();
    EXPECT_EQ(t.count("ignored"), 0u) << t.dump();
    auto s = t.states();
    ASSERT_EQ(s.size(), 4u) << t.dump();
    expectState(s[0], {{"/webView/inView", true}, {"/page/introAnimationCompleted", true}, {"/page/introSequenceCompleted", false}});
    expectState(s[1], {{"/page/introSequenceCompleted", false}});
    expectState(s[2], {{"/page/introSequenceCompleted", true}, {"/indicator/animating", true}});
    expectState(s[3], {{"/page/introAnimationCompleted", true}, {"/webView/inView", true}, {"/alerts", json::array()}});
}

TEST(LaunchScenario, MainScreenAfterSetUp)
{
    // Intro on: nothing of the intro has ended yet at t = 0. The entry request went through the
    // page table ("points.php") in the first-load phase.
    auto t = runWith({}, "state\n");
    expectState(t.states().at(0),
                {{"/tabBar/hidden", true}, {"/tabBar/selected", 0}, {"/tabBar/badges", json::array({nullptr, nullptr, nullptr, nullptr, nullptr})},
                 {"/webView/hidden", true}, {"/webView/alpha", 0.0}, {"/webView/inView", false}, {"/webView/frame", {0, 0, 320, 480}},
                 {"/indicator/animating", false}, {"/indicator/front", true}, {"/backgrounds/secondImageViewBg/alpha", 0.0},
                 {"/backgrounds/rearmost", "secondImageViewBg"}, {"/alerts", json::array()}, {"/modal", nullptr}, {"/page/firstLoad", true},
                 {"/page/started", false}, {"/page/loading", true}, {"/page/showTabBar", false}, {"/page/timerIndicator", false},
                 {"/page/bgToLoad", "bg_default.jpg"}, {"/page/bgInterstitialToLoad", nullptr}, {"/settings/soundEnabled", true},
                 {"/settings/introAnimationEnabled", true}, {"/iconBadge", 0}});
}

TEST(LaunchScenario, EntryRequestIsSignedAndCarriesTheDeviceInOrder)
{
    struct Case {
        std::string udid, model, version, server, escapedModel;
    };
    const std::vector<Case> cases{
        {"X", "Linux PC", "12", "", "Linux%20PC"},
        {"0f3c9a5e-77d1-4b8e-9c1a-5d2e6f7a8b90", "Desk", "6.1.2", "", "Desk"},
        {"X", "Linux PC", "12", "10.1.2.3:9000", "Linux%20PC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.udid + " / " + c.model + " / " + c.server);
        std::vector<std::string> args{"--udid", c.udid, "--model", c.model, "--system-version", c.version};
        if (!c.server.empty())
            args.insert(args.end(), {"--server", c.server});
        auto t = scenario::runScenario("state\n", args);
        std::string expected = "http://" + (c.server.empty() ? "127.0.0.1:8642" : c.server) + "/points.php?version=1.53&udid=" + c.udid +
                               "&pf=" + scenario::referenceMd5Upper(c.udid + ":BrightPlume27k:45") + "&fpts=45&model=" + c.escapedModel +
                               "&sv=" + c.version;
        EXPECT_EQ(fieldOf(t, "decide", "url"), std::vector<json>{expected}) << t.dump();
        EXPECT_EQ(fieldOf(t, "decide", "allow"), std::vector<json>{true});
        EXPECT_EQ(fieldOf(t, "load-start", "url"), std::vector<json>{expected});
    }
}

TEST(LaunchScenario, EachTabLoadsItsPageAndTheRecruitTabNeverOpensTheRecruitScreen)
{
    const std::vector<std::tuple<std::string, std::string, int>> taps{
        {"tap Street", "missions.php?showMissionsBg=true", 1}, {"tap Race", "fight.php?showAttackBg=true", 2},
        {"tap Cars", "cars.php?showCarsBg=true", 3}, {"tap Recruit", "group.php?showGroupBg=true", 4},
        {"tap Home", "home.php?showHomeBg=true", 0}, {"tap #1", "missions.php?showMissionsBg=true", 1},
        {"tap #4", "group.php?showGroupBg=true", 4}, {"tap #0", "home.php?showHomeBg=true", 0},
    };
    std::string script = kHomeShown;
    std::vector<json> urls;
    for (const auto& [tap, page, item] : taps) {
        script += tap + "\nstate\n";
        urls.push_back(kBase + page);
    }
    auto t = run(script, Intro::Off);
    EXPECT_EQ(t.count("ignored") + t.count("present"), 0u) << t.dump();
    auto decided = fieldOf(t, "decide", "url");
    ASSERT_EQ(decided.size(), urls.size() + 2) << t.dump(); // + the entry request and home
    EXPECT_EQ(std::vector<json>(decided.begin() + 2, decided.end()), urls);
    auto started = fieldOf(t, "load-start", "url");
    EXPECT_EQ(std::vector<json>(started.end() - static_cast<long>(urls.size()), started.end()), urls);
    for (size_t i = 0; i < taps.size(); ++i)
        expectState(t.states().at(i), {{"/tabBar/selected", std::get<2>(taps[i])}, {"/tabBar/hidden", false}}, std::get<0>(taps[i]));
}

TEST(LaunchScenario, PushTokenGoesOutOnceWithTheNextTab)
{
    const std::string dt = "&dt=" + base64({0xfb, 0xff, 0xbf, 0x01}); // "+/+/AQ==": left unescaped
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases{ // steps, what each later tab URL ends with
        {"tap Race\n", {""}},
        {"token 0102030405\ntoken fbffbf01\ntap Street\ntap Street\n", {dt, ""}}, // only the second token, then none
        {"token fbffbf01\nnavigate " + kBase + "profile.php\nfinish\ntap Cars\ntap Cars\n", {dt, ""}}, // a page's own load does not take it
        {"push-fail\ntap Race\n", {""}},
        {"token fbffbf01\npush-fail\ntap Race\ntap Race\n", {dt, ""}}, // a failure keeps a token that came before it
        {"token fbffbf01\ntap Race\nfail -1009\npress OK\ntap Race\n", {dt, ""}}, // sent with a failed load: not sent again
    };
    for (const auto& [steps, suffixes] : cases) {
        SCOPED_TRACE(steps);
        auto t = run(kHomeShown + steps, Intro::Off);
        EXPECT_EQ(t.count("ignored"), 0u) << t.dump();
        std::vector<std::string> tabUrls;
        for (const auto& url : fieldOf(t, "decide", "url"))
            if (url.get<std::string>().find("Bg=true") != std::string::npos && url != kHome)
                tabUrls.push_back(url);
        ASSERT_EQ(tabUrls.size(), suffixes.size()) << t.dump();
        for (size_t i = 0; i < suffixes.size(); ++i)
            EXPECT_EQ(tabUrls[i], tabUrls[i].substr(0, tabUrls[i].find("Bg=true") + 7) + suffixes[i]) << "tap " << i;
    }
}

TEST(LaunchScenario, TabsAreIgnoredWhileTheTabBarCannotBeTapped)
{
    const std::vector<std::tuple<std::string, size_t, size_t>> cases{ // script, ignored taps, accepted taps
        {"tap Cars\ntap #0\n", 2, 0}, // hidden after set-up
        {"finish\nwait 3\ntap Cars\n", 1, 0}, // the entry page keeps it hidden
        // A home page reached in the first-load phase shows the bar only when the first page fades
        // in: 2.4 s (intro sequence) + 0.3 s (fade-out of the start picture), then from alpha 0.
        {"navigate " + kHome + "\nfinish\nwait 2.69\ntap Cars\n", 1, 0},
        {"navigate " + kHome + "\nfinish\nwait 2.85\ntap Cars\n", 0, 1},
        {kHomeShown + timeline::command("hideTabBar=true") + "tap Race\n", 1, 0},
        {kHomeShown + timeline::command("invokeAlertOneBtnTitle=T&invokeAlertOneBtnBody=B&invokeAlertOneBtnName=Go") +
             "tap Race\npress Go\ntap Race\n", 1, 1}, // an alert in front
    };
    for (const auto& [script, ignored, accepted] : cases) {
        SCOPED_TRACE(script);
        auto t = run(script, Intro::Off);
        size_t ignoredTaps = 0, tabLoads = 0;
        for (const auto& line : fieldOf(t, "ignored", "command"))
            ignoredTaps += line.get<std::string>().starts_with("tap ");
        for (const auto& url : fieldOf(t, "decide", "url"))
            tabLoads += url.get<std::string>().find("Bg=true") != std::string::npos && url != kHome;
        EXPECT_EQ(ignoredTaps, ignored) << t.dump();
        EXPECT_EQ(tabLoads, accepted) << t.dump();
    }
}

} // namespace
