// Alerts, vibration and sounds that pages ask for through the command bridge, end to end.

#include "support/Timeline.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;
using timeline::command;
using timeline::fieldOf;
using timeline::Intro;
using timeline::run;
using timeline::runWith;

const std::string kOneButton = "invokeAlertOneBtnTitle=Hello&invokeAlertOneBtnBody=Body%20text&invokeAlertOneBtnName=Go";
const std::string kTwoButton = "invokeAlertTwoBtnTitle=Sure%3F&invokeAlertTwoBtnBody=Pick&invokeAlertTwoBtn1Name=No&invokeAlertTwoBtn2Name=Yes";

TEST(PageAlertsScenario, AlertsAreShownAtOnceWithTheirTextsAndButtonsInIndexOrder)
{
    struct Alert {
        const char *title, *message;
        std::vector<std::string> buttons;
    };
    const std::vector<std::pair<std::string, std::vector<Alert>>> cases{
        {kOneButton, {{"Hello", "Body text", {"Go"}}}},
        {"invokeAlertOneBtnTitle=a+b&invokeAlertOneBtnBody=c&invokeAlertOneBtnName=d", {{"a+b", "c", {"d"}}}},
        {"invokeAlertOneBtnTitle=T&invokeAlertOneBtnBody=B&invokeAlertOneBtnJS=x()", {}}, // no button name
        {"invokeAlertOneBtnTitle=T&invokeAlertOneBtnName=N", {}},                        // no body
        {"x=invokeAlertOneBtnTitle&invokeAlertOneBtnBody=B&invokeAlertOneBtnName=N", {{"", "B", {"N"}}}},
        {"invokeAlertOneBtnTitle=%zz&invokeAlertOneBtnBody=B&invokeAlertOneBtnName=N", {{nullptr, "B", {"N"}}}},
        // Undecodable labels only: an alert that can be closed.
        {"invokeAlertOneBtnTitle=T&invokeAlertOneBtnBody=B&invokeAlertOneBtnName=%E9", {{"T", "B", {"OK"}}}},
        {"invokeAlertTwoBtnTitle=T&invokeAlertTwoBtnBody=B&invokeAlertTwoBtn1Name=%zz&invokeAlertTwoBtn2Name=%E9", {{"T", "B", {"OK"}}}},
        {kTwoButton, {{"Sure?", "Pick", {"No", "Yes"}}}},
        {"invokeAlertTwoBtnTitle=T&invokeAlertTwoBtnBody=B&invokeAlertTwoBtn1Name=No", {}},
        {"invokeAlertTwoBtnTitle=T&invokeAlertTwoBtnBody=%zz&invokeAlertTwoBtn1Name=%zz&invokeAlertTwoBtn2Name=Yes", {{"T", nullptr, {"Yes"}}}},
        {kOneButton + "&" + kTwoButton, {{"Hello", "Body text", {"Go"}}, {"Sure?", "Pick", {"No", "Yes"}}}},
    };
    // nullptr: the text is missing, which the alert shows as null or empty.
    auto text = [](const json& value, const char* expected) { return expected ? value == expected : value.is_null() || value == ""; };
    for (const auto& [query, expected] : cases) {
        SCOPED_TRACE(query);
        auto t = run(command(query) + "state\n"); // during the intro: page alerts are never put off
        auto alerts = t.events("alert");
        ASSERT_EQ(alerts.size(), expected.size()) << t.dump();
        auto shown = t.states().at(0)["alerts"];
        ASSERT_EQ(shown.size(), expected.size()) << t.dump();
        for (size_t i = 0; i < expected.size(); ++i)
            for (const json& a : {alerts[i], shown[i]}) {
                EXPECT_TRUE(text(a["title"], expected[i].title)) << a.dump();
                EXPECT_TRUE(text(a["message"], expected[i].message)) << a.dump();
                EXPECT_EQ(a["buttons"], json(expected[i].buttons));
            }
        EXPECT_EQ(fieldOf(t, "alert", "t"), std::vector<json>(expected.size(), 0.0));
    }
}

TEST(PageAlertsScenario, ButtonScriptsAreKeptUntilReplacedAndRunOnPress)
{
    struct Case {
        std::string script;
        std::vector<json> runs; // js events, in order
        json btn0, btn1;
    };
    const std::vector<Case> cases{
        // One button: its script runs, and again for a later alert without one.
        {command(kOneButton + "&invokeAlertOneBtnJS=first()") + "press Go\n" + command(kOneButton) + "press #0\n",
         {"first()", "first()"}, "first()", "first()"},
        {command(kOneButton + "&invokeAlertOneBtnJS=go(%22a%2520b%22)") + "press Go\n", {"go(\"a%20b\")"}, "go(\"a%20b\")", "go(\"a%20b\")"},
        // A one-button request without its name changes no script.
        {command(kOneButton + "&invokeAlertOneBtnJS=keep()") + "press Go\n" +
             command("invokeAlertOneBtnTitle=T&invokeAlertOneBtnBody=B&invokeAlertOneBtnJS=x()"),
         {"keep()"}, "keep()", "keep()"},
        // Two buttons with both scripts: each button its own.
        {command(kTwoButton + "&invokeAlertTwoBtn1JS=no()&invokeAlertTwoBtn2JS=yes()") + "press No\n" + command(kTwoButton) + "press Yes\n",
         {"no()", "yes()"}, "no()", "yes()"},
        // Only one of the two scripts: both buttons run what was stored before (here nothing).
        {command(kTwoButton + "&invokeAlertTwoBtn1JS=no()") + "press #0\n" + command(kTwoButton + "&invokeAlertTwoBtn1JS=no()") + "press #1\n",
         {}, nullptr, nullptr},
        {command(kOneButton + "&invokeAlertOneBtnJS=old()") + "press Go\n" + command(kTwoButton + "&invokeAlertTwoBtn1JS=no()") + "press #1\n",
         {"old()", "old()"}, "old()", "old()"},
        {command(kTwoButton + "&invokeAlertTwoBtn1JS=a()&invokeAlertTwoBtn2JS=b()") + "press #0\n" +
             command(kTwoButton + "&invokeAlertTwoBtn2JS=c()") + "press #1\n",
         {"a()", "b()"}, "a()", "b()"},
        // Both alerts in one URL: the two-button scripts win for both.
        {command(kOneButton + "&invokeAlertOneBtnJS=one()&" + kTwoButton + "&invokeAlertTwoBtn1JS=no()&invokeAlertTwoBtn2JS=yes()") +
             "press #1\npress #0\n",
         {"yes()", "no()"}, "no()", "yes()"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        auto t = run(c.script + "state\n");
        EXPECT_EQ(t.count("ignored"), 0u) << t.dump();
        EXPECT_EQ(fieldOf(t, "js", "script"), c.runs) << t.dump();
        timeline::expectState(t.states().back(), {{"/page/btn0JS", c.btn0}, {"/page/btn1JS", c.btn1}, {"/alerts", json::array()}});
    }

    // Presses name the frontmost alert and the button's index; with no alert left, a press is ignored.
    auto t = run(command(kOneButton + "&" + kTwoButton) + "press Yes\npress Go\npress Go\n");
    EXPECT_EQ(fieldOf(t, "alert-press", "title"), (std::vector<json>{"Sure?", "Hello"})) << t.dump();
    EXPECT_EQ(fieldOf(t, "alert-press", "index"), (std::vector<json>{1, 0}));
    EXPECT_EQ(fieldOf(t, "ignored", "command"), std::vector<json>{"press Go"});
}

// However many alerts are asked for, at most 16 are on screen; every request still changes the
// page delegate's state, only the showing of the 17th and later is dropped (and recorded).
TEST(PageAlertsScenario, AtMostSixteenAlertsAreOnScreenAndEveryRequestStillCounts)
{
    auto numbered = [](int n) {
        return command("invokeAlertOneBtnTitle=A" + std::to_string(n) + "&invokeAlertOneBtnBody=B&invokeAlertOneBtnName=Go"
                       "&invokeAlertOneBtnJS=n(" + std::to_string(n) + ")");
    };
    std::string script;
    for (int n = 1; n <= 20; ++n)
        script += numbered(n);
    // A failure alert counts as any other: it is dropped too, and the flag it sets is set.
    script += "state\npress Go\n" + numbered(21) + numbered(22) + "wait 0.5\nfinish\nnavigate " + timeline::kBase +
              "missions.php\nfail -1009\nstate\n";
    auto t = run(script, Intro::Off);
    auto states = t.states();
    ASSERT_EQ(states.size(), 2u) << t.dump();

    std::vector<json> shown, dropped;
    for (int n = 1; n <= 16; ++n)
        shown.push_back("A" + std::to_string(n));
    shown.push_back("A21");
    for (int n = 17; n <= 20; ++n)
        dropped.push_back("A" + std::to_string(n));
    dropped.push_back("A22");
    dropped.push_back(timeline::kNoConnectionTitle);
    EXPECT_EQ(fieldOf(t, "alert", "title"), shown) << t.dump();
    EXPECT_EQ(fieldOf(t, "alert-dropped", "title"), dropped);
    for (const auto& line : t.events("alert-dropped"))
        EXPECT_EQ(line.size(), 3u) << line.dump(); // t, ev, title

    EXPECT_EQ(states[0]["alerts"].size(), 16u);
    EXPECT_EQ(states[0]["alerts"].back()["title"], "A16");
    EXPECT_EQ(states[0]["page"]["btn0JS"], "n(20)") << "a dropped alert's request still sets the scripts";
    // The frontmost shown alert runs the script of the last request, dropped or not.
    EXPECT_EQ(fieldOf(t, "alert-press", "title"), std::vector<json>{"A16"});
    EXPECT_EQ(fieldOf(t, "js", "script"), std::vector<json>{"n(20)"});
    EXPECT_EQ(states[1]["alerts"].size(), 16u);
    EXPECT_EQ(states[1]["alerts"].back()["title"], "A21");
    timeline::expectState(states[1], {{"/page/btn0JS", "n(22)"}, {"/page/isUnableToReachInternet", true},
                                      {"/page/unableToReachInternetDeferred", false}});
}

TEST(PageAlertsScenario, VibrationAndTheTapSoundAreNeverHeldBack)
{
    auto t = run(command("invokeVibrate=true") + command("invokeVibrate=true&again=invokeVibrate=true") +
                 command("invokeVibrate=false") + command("invokeVibrate=TRUE") + "wait 5\n");
    EXPECT_EQ(fieldOf(t, "vibrate", "t"), (std::vector<json>{0.0, 0.0})) << t.dump();
    EXPECT_EQ(t.count("alert") + t.count("sound"), 0u) << t.dump();

    const std::vector<std::pair<std::string, std::vector<json>>> cases{ // query, times the tap plays
        {"invokeTapSound=true", {0.0}}, {"invokeTapSound=true&invokeSoundDelay=", {0.0}},
        {"invokeTapSound=true&invokeSoundDelay=0", {0.0}}, {"invokeTapSound=true&invokeSoundDelay=-1", {0.0}},
        {"invokeTapSound=true&invokeSoundDelay=abc", {0.0}}, {"invokeTapSound=true&invokeSoundDelay=%zz", {0.0}},
        {"invokeTapSound=true&invokeSoundDelay=1e-400", {0.0}}, // too small for a double: zero
        {"invokeTapSound=true&invokeSoundDelay=1.5", {1.5}}, {"invokeTapSound=true&invokeSoundDelay=1.5sec", {1.5}},
        {"invokeTapSound=true&invokeSoundDelay=1e400", {}}, {"invokeTapSound=false&invokeSoundDelay=1.5", {}},
        {"invokeSoundDelay=1.5", {}},
    };
    for (const auto& [query, times] : cases) {
        SCOPED_TRACE(query);
        // The stored sound setting is off: it does not silence page sounds.
        auto tap = runWith({{"soundEnabled", false}}, command(query) + "wait 3\n");
        EXPECT_EQ(fieldOf(tap, "sound", "t"), times) << tap.dump();
        EXPECT_EQ(fieldOf(tap, "sound", "name"), std::vector<json>(times.size(), "tap"));
        EXPECT_EQ(fieldOf(tap, "sound", "type"), std::vector<json>(times.size(), "aif"));
    }
    // A delayed tap cannot be withdrawn: two in flight both play.
    const std::string delayed = command("invokeTapSound=true&invokeSoundDelay=1.5");
    EXPECT_EQ(fieldOf(run(delayed + "wait 0.5\n" + delayed + "wait 3\n"), "sound", "t"), (std::vector<json>{1.5, 2.0}));
}

TEST(PageAlertsScenario, NamedSoundsWaitForTheEndOfTheIntroOnlyTheLastOne)
{
    struct Case {
        std::vector<std::string> queries;
        json aifWaiting, cafWaiting; // during the intro
        std::vector<std::string> played; // name.type at the end of the intro
    };
    const std::vector<Case> cases{
        {{"invokeSoundAIF=horn"}, "horn", nullptr, {"horn.aif"}},
        {{"invokeSoundCAF=engine"}, nullptr, "engine", {"engine.caf"}},
        {{"invokeSoundAIF=horn", "invokeSoundCAF=engine"}, nullptr, "engine", {"engine.caf"}},
        {{"invokeSoundCAF=engine", "invokeSoundAIF=horn"}, "horn", nullptr, {"horn.aif"}},
        {{"invokeSoundAIF=horn", "invokeSoundAIF=nosuchsound"}, "nosuchsound", nullptr, {}}, // a sound the application lacks
        {{"invokeSoundAIF=horn&invokeSoundCAF=engine"}, nullptr, "engine", {"engine.caf"}},  // the caf is checked last
    };
    for (const auto& c : cases) {
        std::string script;
        for (const auto& q : c.queries)
            script += command(q);
        SCOPED_TRACE(script);
        // The movie ends the intro at t = 3.
        auto t = run(script + "state\nwait 2.99\nstate\nwait 0.01\nstate\nwait 1\n");
        timeline::expectAt(t, 0.0, {{"/page/soundFileAIFDeferred", c.aifWaiting}, {"/page/soundFileCAFDeferred", c.cafWaiting}});
        timeline::expectAt(t, 3.0, {{"/page/soundFileAIFDeferred", nullptr}, {"/page/soundFileCAFDeferred", nullptr}});
        std::vector<std::string> played;
        for (const auto& line : t.events("sound")) {
            played.push_back(line.value("name", "") + "." + line.value("type", ""));
            EXPECT_EQ(line["t"], 3.0);
        }
        EXPECT_EQ(played, c.played) << t.dump();
    }

    // After the intro they play at once, each request its own.
    auto t = run("wait 0.5\n" + command("invokeSoundAIF=horn") + command("invokeSoundAIF=nosuchsound") + command("invokeSoundCAF=engine") +
                     command("invokeSoundCAF=horn") + "state\n",
                 Intro::Off);
    EXPECT_EQ(fieldOf(t, "sound", "name"), (std::vector<json>{"horn", "engine"})) << t.dump();
    EXPECT_EQ(fieldOf(t, "sound", "t"), (std::vector<json>{0.5, 0.5}));
    timeline::expectAt(t, 0.5, {{"/page/soundFileAIFDeferred", nullptr}, {"/page/soundFileCAFDeferred", nullptr}});
}

} // namespace
