// Launch, the signed entry request and the tab bar, driven end to end through the headless
// runner on the virtual clock with the scripted engine.

#include "support/Reference.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using scenario::Transcript;

const std::string kBase = "http://127.0.0.1:8642/";
const std::string kHome = kBase + "home.php?showHomeBg=true";

// Fixed device identity, so nothing depends on the machine running the tests.
const std::vector<std::string> kDevice{"--udid", "TEST-UDID-1", "--model", "TestModel", "--system-version", "1.0"};

std::vector<std::string> withDevice(std::vector<std::string> extra = {})
{
    std::vector<std::string> args = kDevice;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

using scenario::referenceMd5Upper;

std::string base64(const std::vector<unsigned char>& bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

// A data directory whose stored settings are given up front; nullopt leaves a key unwritten.
class SettingsDir {
public:
    SettingsDir(std::optional<bool> intro, std::optional<bool> sound)
    {
        json defaults = json::object();
        if (intro)
            defaults["introAnimationEnabled"] = *intro;
        if (sound)
            defaults["soundEnabled"] = *sound;
        if (!defaults.empty())
            scenario::writeFile(dir_.path() + "/defaults.json", defaults.dump());
    }
    scenario::ScenarioOptions options() const
    {
        scenario::ScenarioOptions o;
        o.dataDir = dir_.path();
        return o;
    }

private:
    scenario::TempDir dir_{"street-h6-launch"};
};

Transcript run(const std::string& script, const std::vector<std::string>& args, const scenario::ScenarioOptions& options = {})
{
    Transcript t = scenario::runScenario(script, args, options);
    EXPECT_EQ(t.exitCode, 0) << t.dump();
    EXPECT_TRUE(t.malformedLines.empty()) << t.dump();
    return t;
}

std::vector<std::string> decidedUrls(const Transcript& t)
{
    std::vector<std::string> urls;
    for (const auto& line : t.events("decide"))
        urls.push_back(line.value("url", ""));
    return urls;
}

// With the intro off the first page is shown 2.4 s after launch and has faded in by 3.0 s;
// a home page that got through the bridge before that brings the tab bar with it.
const std::string kHomeShown = "navigate " + kHome + "\nfinish\nwait 3\n";

} // namespace

TEST(LaunchScenario, MovieChoiceAndEndOfIntroFollowTheSettingsAndAudioRoute)
{
    struct Case {
        const char* name;
        std::optional<bool> intro;
        std::optional<bool> sound;
        const char* route;                // --audio-route
        std::optional<std::string> movie; // nullopt: no movie at all
    };
    const std::vector<Case> cases{
        {"fresh install, speaker", std::nullopt, std::nullopt, "Speaker", "halvex_v1"},
        {"fresh install, silenced", std::nullopt, std::nullopt, "none", "halvex_no_sound_v1"},
        {"fresh install, empty route", std::nullopt, std::nullopt, "", "halvex_no_sound_v1"},
        {"intro on, sound on, speaker", true, true, "Speaker", "halvex_v1"},
        {"intro on, sound on, silenced", true, true, "none", "halvex_no_sound_v1"},
        {"intro on, sound off, speaker", true, false, "Speaker", "halvex_no_sound_v1"},
        {"intro on, sound off, silenced", true, false, "none", "halvex_no_sound_v1"},
        {"intro off, sound on, speaker", false, true, "Speaker", std::nullopt},
        {"intro off, sound on, silenced", false, true, "none", std::nullopt},
        {"intro off, sound off, speaker", false, false, "Speaker", std::nullopt},
        {"intro off, sound off, silenced", false, false, "none", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsDir dir(c.intro, c.sound);
        // Default movie length is 3 s: the intro ends at exactly t = 3 when a movie plays.
        Transcript t = run("state\nwait 2.99\nstate\nwait 0.01\nstate\n", withDevice({"--audio-route", c.route}), dir.options());
        auto movies = t.events("movie");
        auto states = t.states();
        ASSERT_EQ(states.size(), 3u) << t.dump();
        if (c.movie) {
            ASSERT_EQ(movies.size(), 2u) << t.dump();
            EXPECT_EQ(movies[0].value("name", ""), *c.movie);
            EXPECT_EQ(movies[0].value("event", ""), "prepare");
            EXPECT_EQ(movies[1].value("name", ""), *c.movie);
            EXPECT_EQ(movies[1].value("event", ""), "play");
            EXPECT_DOUBLE_EQ(movies[1]["t"].get<double>(), 0.0);
            for (int i : {0, 1}) {
                EXPECT_FALSE(states[i]["webView"]["inView"].get<bool>()) << "state " << i;
                EXPECT_FALSE(states[i]["page"]["introAnimationCompleted"].get<bool>()) << "state " << i;
            }
            EXPECT_TRUE(states[2]["webView"]["inView"].get<bool>());
            EXPECT_TRUE(states[2]["page"]["introAnimationCompleted"].get<bool>());
        } else {
            EXPECT_TRUE(movies.empty()) << t.dump();
            // The intro ends during launch itself.
            for (int i : {0, 1, 2}) {
                EXPECT_TRUE(states[i]["webView"]["inView"].get<bool>()) << "state " << i;
                EXPECT_TRUE(states[i]["page"]["introAnimationCompleted"].get<bool>()) << "state " << i;
            }
        }
    }
}

TEST(LaunchScenario, MovieNotificationsFromTheScriptEndTheIntroOnce)
{
    // `movie finished` ends the intro at once; the player's own end at 3 s posts nothing more.
    Transcript t = run("movie finished\nstate\nwait 3.5\nstate\n", withDevice());
    auto states = t.states();
    ASSERT_EQ(states.size(), 2u) << t.dump();
    EXPECT_TRUE(states[0]["webView"]["inView"].get<bool>()) << t.dump();
    EXPECT_TRUE(states[0]["page"]["introAnimationCompleted"].get<bool>());
    EXPECT_EQ(t.count("movie"), 2u) << t.dump();

    // The intro sequence of the one end of the intro completes 2.4 s after it.
    t = run("movie finished\nwait 2.39\nstate\nwait 0.01\nstate\n", withDevice());
    states = t.states();
    ASSERT_EQ(states.size(), 2u) << t.dump();
    EXPECT_FALSE(states[0]["page"]["introSequenceCompleted"].get<bool>());
    EXPECT_TRUE(states[1]["page"]["introSequenceCompleted"].get<bool>());
}

TEST(LaunchScenario, IconBadgeIsClearedAtLaunchWhereTheSystemOffersIt)
{
    struct Case {
        const char* flag;
        std::optional<bool> intro;
        bool offered;
    };
    const std::vector<Case> cases{
        {"yes", std::nullopt, true},
        {"yes", false, true},
        {"no", std::nullopt, false},
        {"no", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("--icon-badge ") + c.flag + (c.intro ? " intro off" : " intro on"));
        SettingsDir dir(c.intro, std::nullopt);
        Transcript t = run("state\n", withDevice({"--icon-badge", c.flag}), dir.options());
        auto badges = t.events("icon-badge");
        if (c.offered) {
            ASSERT_EQ(badges.size(), 1u) << t.dump();
            EXPECT_EQ(badges[0]["value"], 0);
            EXPECT_DOUBLE_EQ(badges[0]["t"].get<double>(), 0.0);
        } else {
            EXPECT_TRUE(badges.empty()) << t.dump();
        }
        ASSERT_EQ(t.states().size(), 1u);
        EXPECT_EQ(t.states()[0]["iconBadge"], 0);
    }
}

TEST(LaunchScenario, MainScreenAfterSetUp)
{
    // Intro on: nothing of the intro has ended yet at t = 0.
    Transcript t = run("state\n", withDevice());
    ASSERT_EQ(t.states().size(), 1u) << t.dump();
    json s = t.states()[0];
    EXPECT_TRUE(s["tabBar"]["hidden"].get<bool>());
    EXPECT_EQ(s["tabBar"]["selected"], 0);
    EXPECT_EQ(s["tabBar"]["badges"], json::array({nullptr, nullptr, nullptr, nullptr, nullptr}));
    EXPECT_TRUE(s["webView"]["hidden"].get<bool>());
    EXPECT_EQ(s["webView"]["alpha"], 0.0);
    EXPECT_FALSE(s["webView"]["inView"].get<bool>());
    EXPECT_EQ(s["webView"]["frame"], json::array({0, 0, 320, 480}));
    EXPECT_FALSE(s["indicator"]["animating"].get<bool>());
    EXPECT_TRUE(s["indicator"]["front"].get<bool>());
    EXPECT_EQ(s["backgrounds"]["secondImageViewBg"]["alpha"], 0.0);
    EXPECT_EQ(s["backgrounds"]["rearmost"], "secondImageViewBg");
    EXPECT_TRUE(s["alerts"].empty());
    EXPECT_TRUE(s["modal"].is_null());
    // The entry request went through the page table ("points.php") in the first-load phase.
    EXPECT_TRUE(s["page"]["firstLoad"].get<bool>());
    EXPECT_FALSE(s["page"]["started"].get<bool>());
    EXPECT_TRUE(s["page"]["loading"].get<bool>());
    EXPECT_FALSE(s["page"]["showTabBar"].get<bool>());
    EXPECT_FALSE(s["page"]["timerIndicator"].get<bool>());
    EXPECT_EQ(s["page"]["bgToLoad"], "bg_default.jpg");
    EXPECT_TRUE(s["page"]["bgInterstitialToLoad"].is_null());
    EXPECT_EQ(s["settings"]["soundEnabled"], true);
    EXPECT_EQ(s["settings"]["introAnimationEnabled"], true);
}

TEST(LaunchScenario, EntryRequestIsSignedAndCarriesTheDeviceInOrder)
{
    struct Case {
        std::string udid, model, version, server;
        std::string escapedModel;
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
        Transcript t = run("state\n", args);
        const json* decide = t.first("decide");
        ASSERT_NE(decide, nullptr) << t.dump();
        std::string host = c.server.empty() ? "127.0.0.1:8642" : c.server;
        std::string signature = referenceMd5Upper(c.udid + ":BrightPlume27k:45");
        std::string expected = "http://" + host + "/points.php?version=1.53&udid=" + c.udid + "&pf=" + signature
            + "&fpts=45&model=" + c.escapedModel + "&sv=" + c.version;
        EXPECT_EQ(decide->value("url", ""), expected);
        EXPECT_EQ(decide->value("allow", false), true);
        const json* start = t.first("load-start");
        ASSERT_NE(start, nullptr) << t.dump();
        EXPECT_EQ(start->value("url", ""), expected);
        EXPECT_EQ(t.count("decide"), 1u) << t.dump();
    }
}

TEST(LaunchScenario, EachTabLoadsItsPageAndTheBridgeSelectsIt)
{
    struct Case {
        const char* tap;
        const char* page;
        int selected;
    };
    const std::vector<Case> cases{
        {"tap Home", "home.php?showHomeBg=true", 0},
        {"tap #0", "home.php?showHomeBg=true", 0},
        {"tap Street", "missions.php?showMissionsBg=true", 1},
        {"tap #1", "missions.php?showMissionsBg=true", 1},
        {"tap Race", "fight.php?showAttackBg=true", 2},
        {"tap Cars", "cars.php?showCarsBg=true", 3},
        {"tap Recruit", "group.php?showGroupBg=true", 4},
        {"tap #4", "group.php?showGroupBg=true", 4},
    };
    SettingsDir introOff(false, std::nullopt);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tap);
        // Leave a page that selects nothing on screen first, so the selection is the new page's.
        std::string script = kHomeShown + "navigate " + kBase + "profile.php\nfinish\nwait 0.5\n" + c.tap + "\nstate\n";
        Transcript t = run(script, withDevice(), introOff.options());
        EXPECT_EQ(t.count("ignored"), 0u) << t.dump();
        auto urls = decidedUrls(t);
        ASSERT_FALSE(urls.empty());
        EXPECT_EQ(urls.back(), kBase + c.page) << t.dump();
        EXPECT_EQ(t.last("decide")->value("allow", false), true);
        EXPECT_EQ(t.last("load-start")->value("url", ""), kBase + c.page);
        EXPECT_TRUE(t.events("present").empty()) << "the Recruit tab never opens the Recruit screen";
        ASSERT_EQ(t.states().size(), 1u);
        EXPECT_EQ(t.states()[0]["tabBar"]["selected"], c.selected);
        EXPECT_FALSE(t.states()[0]["tabBar"]["hidden"].get<bool>());
    }
}

TEST(LaunchScenario, PushTokenGoesOutOnceWithTheNextTab)
{
    SettingsDir introOff(false, std::nullopt);
    struct Case {
        const char* name;
        std::string steps;                        // between the first page and the checked taps
        std::vector<std::string> expectedSuffixes; // "&dt=..." per later tap, in order
    };
    const std::string second = base64({0xfb, 0xff, 0xbf, 0x01}); // "+/+/AQ==": left unescaped
    const std::vector<Case> cases{
        {"no token", "tap Race\n", {""}},
        {"two tokens: only the second, then none",
         "token 0102030405\ntoken fbffbf01\ntap Street\ntap Street\n",
         {"&dt=" + second, ""}},
        {"a page load of its own does not take the token",
         "token fbffbf01\nnavigate " + kBase + "profile.php\nfinish\ntap Cars\ntap Cars\n",
         {"&dt=" + second, ""}},
        {"a failed registration sends nothing", "push-fail\ntap Race\n", {""}},
        {"a failed registration keeps a token that arrived before it",
         "token fbffbf01\npush-fail\ntap Race\ntap Race\n", {"&dt=" + second, ""}},
        {"a token sent with a failed load is not sent again",
         "token fbffbf01\ntap Race\nfail -1009\npress OK\ntap Race\n",
         {"&dt=" + second, ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Transcript t = run(kHomeShown + c.steps, withDevice(), introOff.options());
        EXPECT_EQ(t.count("ignored"), 0u) << t.dump();
        std::vector<std::string> tabUrls;
        for (const auto& url : decidedUrls(t))
            if (url.find("showHomeBg") == std::string::npos && url.find("profile.php") == std::string::npos)
                tabUrls.push_back(url);
        ASSERT_EQ(tabUrls.size(), c.expectedSuffixes.size() + 1) << t.dump(); // + the entry request
        for (size_t i = 0; i < c.expectedSuffixes.size(); ++i) {
            const std::string& url = tabUrls[i + 1];
            auto page = url.substr(0, url.find("Bg=true") + 7);
            EXPECT_EQ(url, page + c.expectedSuffixes[i]) << "tap " << i;
        }
    }
}

TEST(LaunchScenario, TabsAreIgnoredWhileTheTabBarCannotBeTapped)
{
    SettingsDir introOff(false, std::nullopt);
    struct Case {
        const char* name;
        std::string script;
        size_t ignoredTaps;
        size_t acceptedTaps;
    };
    const std::vector<Case> cases{
        {"hidden after set-up", "tap Cars\ntap #0\n", 2, 0},
        {"entry page shown: still hidden", "finish\nwait 3\ntap Cars\n", 1, 0},
        // A home page reached in the first-load phase shows the bar only when the first page
        // fades in: 2.4 s (intro sequence) + 0.3 s (fade-out of the start picture), from
        // alpha 0 over another 0.3 s.
        {"first home page: not before its fade-in", "navigate " + kHome + "\nfinish\nwait 2.69\ntap Cars\n", 1, 0},
        {"first home page: while it fades in", "navigate " + kHome + "\nfinish\nwait 2.85\ntap Cars\n", 0, 1},
        {"hidden again by a page command", kHomeShown + "navigate " + kBase + "x.php?hideTabBar=true&stopLoad=true\ntap Race\n", 1, 0},
        {"an alert in front",
         kHomeShown + "navigate " + kBase
             + "x.php?stopLoad=true&invokeAlertOneBtnTitle=T&invokeAlertOneBtnBody=B&invokeAlertOneBtnName=Go\ntap Race\npress Go\ntap Race\n",
         1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Transcript t = run(c.script, withDevice(), introOff.options());
        size_t ignoredTaps = 0;
        for (const auto& line : t.events("ignored"))
            if (line.value("command", "").rfind("tap ", 0) == 0)
                ++ignoredTaps;
        EXPECT_EQ(ignoredTaps, c.ignoredTaps) << t.dump();
        size_t tabLoads = 0;
        for (const auto& url : decidedUrls(t))
            if (url.find("Bg=true") != std::string::npos && url != kHome)
                ++tabLoads;
        EXPECT_EQ(tabLoads, c.acceptedTaps) << t.dump();
    }
}
