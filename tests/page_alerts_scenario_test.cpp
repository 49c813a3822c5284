// Alerts, vibration and sounds that pages ask for through the command bridge, end to end.

#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using scenario::Transcript;

const std::string kBase = "http://127.0.0.1:8642/";
const std::vector<std::string> kDevice{"--udid", "TEST-UDID-3", "--model", "TestModel", "--system-version", "1.0"};

const std::string kNoConnectionMessage = "You must have access to the Internet in order to use this application.";

class SettingsDir {
public:
    explicit SettingsDir(const std::string& defaultsJson) { scenario::writeFile(dir_.path() + "/defaults.json", defaultsJson); }
    scenario::ScenarioOptions options() const
    {
        scenario::ScenarioOptions o;
        o.dataDir = dir_.path();
        return o;
    }

private:
    scenario::TempDir dir_{"street-h6-alerts"};
};

Transcript run(const std::string& script, const scenario::ScenarioOptions& options = {}, std::vector<std::string> extra = {})
{
    std::vector<std::string> args = kDevice;
    args.insert(args.end(), extra.begin(), extra.end());
    Transcript t = scenario::runScenario(script, args, options);
    EXPECT_EQ(t.exitCode, 0) << t.dump();
    EXPECT_TRUE(t.malformedLines.empty()) << t.dump();
    return t;
}

// A command-only request: refused after its commands have run.
std::string command(const std::string& query) { return "navigate " + kBase + "cmd.php?stopLoad=true&" + query + "\n"; }

const std::string kOneButton = "invokeAlertOneBtnTitle=Hello&invokeAlertOneBtnBody=Body%20text&invokeAlertOneBtnName=Go";
const std::string kTwoButton = "invokeAlertTwoBtnTitle=Sure%3F&invokeAlertTwoBtnBody=Pick&invokeAlertTwoBtn1Name=No"
                               "&invokeAlertTwoBtn2Name=Yes";

struct Alert {
    std::optional<std::string> title, message; // nullopt: the text is missing (null or empty)
    std::vector<std::string> buttons;
};

void expectText(const json& value, const std::optional<std::string>& expected, const char* what)
{
    if (expected)
        EXPECT_EQ(value, *expected) << what;
    else
        EXPECT_TRUE(value.is_null() || value == "") << what << ": " << value.dump();
}

std::vector<std::string> scripts(const Transcript& t)
{
    std::vector<std::string> out;
    for (const auto& line : t.events("js"))
        out.push_back(line.value("script", ""));
    return out;
}

std::vector<double> timesOf(const std::vector<json>& lines)
{
    std::vector<double> out;
    for (const auto& line : lines)
        out.push_back(line["t"].get<double>());
    return out;
}

std::vector<json> soundsNamed(const Transcript& t, const std::string& name, const std::string& type)
{
    std::vector<json> out;
    for (const auto& line : t.events("sound"))
        if (line.value("name", "") == name && line.value("type", "") == type)
            out.push_back(line);
    return out;
}

// How many events of that kind come before the n-th `state` line.
size_t countBeforeState(const Transcript& t, const std::string& ev, size_t n)
{
    size_t count = 0, states = 0;
    for (const auto& name : t.names()) {
        if (name == "state" && states++ == n)
            return count;
        if (name == ev)
            ++count;
    }
    return count;
}

} // namespace

TEST(PageAlertsScenario, AlertsAreShownWithTheirTextsAndButtonsInIndexOrder)
{
    struct Case {
        const char* name;
        std::string query;
        std::vector<Alert> alerts;
    };
    const std::vector<Case> cases{
        {"one button", kOneButton, {{"Hello", "Body text", {"Go"}}}},
        {"one button, plus signs stay", "invokeAlertOneBtnTitle=a+b&invokeAlertOneBtnBody=c&invokeAlertOneBtnName=d",
         {{"a+b", "c", {"d"}}}},
        {"one button without its name", "invokeAlertOneBtnTitle=T&invokeAlertOneBtnBody=B&invokeAlertOneBtnJS=x()", {}},
        {"one button without its body", "invokeAlertOneBtnTitle=T&invokeAlertOneBtnName=N", {}},
        {"title key word without a pair", "x=invokeAlertOneBtnTitle&invokeAlertOneBtnBody=B&invokeAlertOneBtnName=N",
         {{"", "B", {"N"}}}},
        {"undecodable title", "invokeAlertOneBtnTitle=%zz&invokeAlertOneBtnBody=B&invokeAlertOneBtnName=N",
         {{std::nullopt, "B", {"N"}}}},
        {"undecodable button label", "invokeAlertOneBtnTitle=T&invokeAlertOneBtnBody=B&invokeAlertOneBtnName=%E9",
         {{"T", "B", {}}}},
        {"two buttons", kTwoButton, {{"Sure?", "Pick", {"No", "Yes"}}}},
        {"two buttons without the second name", "invokeAlertTwoBtnTitle=T&invokeAlertTwoBtnBody=B&invokeAlertTwoBtn1Name=No", {}},
        {"two buttons, undecodable first label",
         "invokeAlertTwoBtnTitle=T&invokeAlertTwoBtnBody=%zz&invokeAlertTwoBtn1Name=%zz&invokeAlertTwoBtn2Name=Yes",
         {{"T", std::nullopt, {"Yes"}}}},
        {"both alerts in one URL", kOneButton + "&" + kTwoButton,
         {{"Hello", "Body text", {"Go"}}, {"Sure?", "Pick", {"No", "Yes"}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // During the intro: page alerts are never put off.
        Transcript t = run(command(c.query) + "state\n");
        auto alerts = t.events("alert");
        ASSERT_EQ(alerts.size(), c.alerts.size()) << t.dump();
        ASSERT_EQ(t.states().size(), 1u);
        auto shown = t.states()[0]["alerts"];
        ASSERT_EQ(shown.size(), c.alerts.size()) << t.dump();
        for (size_t i = 0; i < c.alerts.size(); ++i) {
            for (const json* a : {&alerts[i], &shown[i]}) {
                expectText((*a)["title"], c.alerts[i].title, "title");
                expectText((*a)["message"], c.alerts[i].message, "message");
                EXPECT_EQ((*a)["buttons"], json(c.alerts[i].buttons));
            }
            EXPECT_DOUBLE_EQ(alerts[i]["t"].get<double>(), 0.0);
        }
    }
}

TEST(PageAlertsScenario, ButtonScriptsAreKeptUntilReplacedAndRunOnPress)
{
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> runs; // js events, in order
        std::optional<std::string> btn0, btn1;
    };
    const std::vector<Case> cases{
        {"one button: its script runs, and again for a later alert without one",
         command(kOneButton + "&invokeAlertOneBtnJS=first()") + "press Go\n" + command(kOneButton) + "press #0\n",
         {"first()", "first()"}, "first()", "first()"},
        {"one button: the script is decoded once", command(kOneButton + "&invokeAlertOneBtnJS=go(%22a%2520b%22)") + "press Go\n",
         {"go(\"a%20b\")"}, "go(\"a%20b\")", "go(\"a%20b\")"},
        {"one button without a name changes no script",
         command(kOneButton + "&invokeAlertOneBtnJS=keep()") + "press Go\n"
             + command("invokeAlertOneBtnTitle=T&invokeAlertOneBtnBody=B&invokeAlertOneBtnJS=x()"),
         {"keep()"}, "keep()", "keep()"},
        {"two buttons with both scripts: each button its own",
         command(kTwoButton + "&invokeAlertTwoBtn1JS=no()&invokeAlertTwoBtn2JS=yes()") + "press No\n"
             + command(kTwoButton) + "press Yes\n",
         {"no()", "yes()"}, "no()", "yes()"},
        {"two buttons with only the first script and nothing before: nothing runs",
         command(kTwoButton + "&invokeAlertTwoBtn1JS=no()") + "press #0\n" + command(kTwoButton + "&invokeAlertTwoBtn1JS=no()")
             + "press #1\n",
         {}, std::nullopt, std::nullopt},
        {"two buttons with only the first script run the earlier scripts",
         command(kOneButton + "&invokeAlertOneBtnJS=old()") + "press Go\n" + command(kTwoButton + "&invokeAlertTwoBtn1JS=no()")
             + "press #1\n",
         {"old()", "old()"}, "old()", "old()"},
        {"two buttons with only the second script run the earlier scripts",
         command(kTwoButton + "&invokeAlertTwoBtn1JS=a()&invokeAlertTwoBtn2JS=b()") + "press #0\n"
             + command(kTwoButton + "&invokeAlertTwoBtn2JS=c()") + "press #1\n",
         {"a()", "b()"}, "a()", "b()"},
        {"both alerts in one URL: the two-button scripts win for both",
         command(kOneButton + "&invokeAlertOneBtnJS=one()&" + kTwoButton
                 + "&invokeAlertTwoBtn1JS=no()&invokeAlertTwoBtn2JS=yes()")
             + "press #1\npress #0\n",
         {"yes()", "no()"}, "no()", "yes()"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Transcript t = run(c.script + "state\n");
        EXPECT_EQ(t.count("ignored"), 0u) << t.dump();
        EXPECT_EQ(scripts(t), c.runs) << t.dump();
        json page = t.states().back()["page"];
        EXPECT_EQ(page["btn0JS"], c.btn0 ? json(*c.btn0) : json(nullptr));
        EXPECT_EQ(page["btn1JS"], c.btn1 ? json(*c.btn1) : json(nullptr));
        EXPECT_TRUE(t.states().back()["alerts"].empty()) << "every alert was pressed away";
    }
}

TEST(PageAlertsScenario, PressesReportTheFrontmostAlertAndIndex)
{
    Transcript t = run(command(kOneButton + "&" + kTwoButton) + "press Yes\npress Go\npress Go\n");
    auto presses = t.events("alert-press");
    ASSERT_EQ(presses.size(), 2u) << t.dump();
    EXPECT_EQ(presses[0].value("title", ""), "Sure?");
    EXPECT_EQ(presses[0]["index"], 1);
    EXPECT_EQ(presses[1].value("title", ""), "Hello");
    EXPECT_EQ(presses[1]["index"], 0);
    ASSERT_EQ(t.count("ignored"), 1u) << "no alert left for the third press";
    EXPECT_EQ(t.first("ignored")->value("command", ""), "press Go");
}

TEST(PageAlertsScenario, FailureAlertOkRunsTheStoredFirstScript)
{
    SettingsDir introOff(R"({"introAnimationEnabled": false})");
    struct Case {
        const char* name;
        std::string before;
        std::vector<std::string> runs;
    };
    const std::vector<Case> cases{
        {"with a stored script", command(kOneButton + "&invokeAlertOneBtnJS=retry()") + "press Go\n",
         {"retry()", "retry()", "retry()"}},
        {"without one", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // After the first page: failures are reported at once.
        Transcript t = run("finish\nwait 3\n" + c.before + "navigate " + kBase + "cars.php\nfail -1009\nstate\npress OK\n"
                               + "navigate " + kBase + "bank.php\nfail -1002 \"unsupported URL\"\nstate\npress OK\n",
                           introOff.options());
        auto alerts = t.events("alert");
        ASSERT_EQ(alerts.size(), c.before.empty() ? 2u : 3u) << t.dump();
        const json& noConnection = alerts[alerts.size() - 2];
        EXPECT_EQ(noConnection.value("title", ""), "Unable to Reach Internet");
        EXPECT_EQ(noConnection.value("message", ""), kNoConnectionMessage);
        EXPECT_EQ(noConnection["buttons"], json::array({"OK"}));
        const json& unknown = alerts.back();
        EXPECT_EQ(unknown.value("title", ""), "Unknown Error");
        EXPECT_EQ(unknown.value("message", ""),
                  "Unknown error occurred (unsupported URL).  Please close the application and try again.");
        EXPECT_EQ(unknown["buttons"], json::array({"OK"}));
        EXPECT_EQ(scripts(t), c.runs) << t.dump();
        EXPECT_EQ(t.count("ignored"), 0u) << t.dump();
    }
}

TEST(PageAlertsScenario, VibrationAlone)
{
    struct Case {
        std::string query;
        size_t vibrations;
    };
    const std::vector<Case> cases{
        {"invokeVibrate=true", 1},
        {"invokeVibrate=true&again=invokeVibrate=true", 1},
        {"invokeVibrate=false", 0},
        {"invokeVibrate=TRUE", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        Transcript t = run(command(c.query) + "wait 5\n");
        auto vibrations = t.events("vibrate");
        ASSERT_EQ(vibrations.size(), c.vibrations) << t.dump();
        if (!vibrations.empty()) {
            EXPECT_DOUBLE_EQ(vibrations[0]["t"].get<double>(), 0.0) << "not put off by the intro";
        }
        EXPECT_EQ(t.count("alert"), 0u);
        EXPECT_EQ(t.count("sound"), 0u);
    }
}

TEST(PageAlertsScenario, TapSoundNowOrAfterThePageGivenDelay)
{
    struct Case {
        std::string query;
        std::vector<double> times;
    };
    const std::vector<Case> cases{
        {"invokeTapSound=true", {0.0}},
        {"invokeTapSound=true&invokeSoundDelay=", {0.0}},
        {"invokeTapSound=true&invokeSoundDelay=0", {0.0}},
        {"invokeTapSound=true&invokeSoundDelay=-1", {0.0}},
        {"invokeTapSound=true&invokeSoundDelay=abc", {0.0}},
        {"invokeTapSound=true&invokeSoundDelay=%zz", {0.0}},
        {"invokeTapSound=true&invokeSoundDelay=1.5", {1.5}},
        {"invokeTapSound=true&invokeSoundDelay=1.5sec", {1.5}},
        {"invokeTapSound=false&invokeSoundDelay=1.5", {}},
        {"invokeSoundDelay=1.5", {}},
    };
    // The stored sound setting is off: it does not silence page sounds.
    SettingsDir soundOff(R"({"soundEnabled": false})");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        Transcript t = run(command(c.query) + "state\nwait 1.49\nstate\nwait 0.01\nstate\nwait 1\n", soundOff.options());
        auto taps = soundsNamed(t, "tap", "aif");
        EXPECT_EQ(taps.size(), t.count("sound")) << t.dump();
        EXPECT_EQ(timesOf(taps), c.times) << t.dump();
        bool delayed = !c.times.empty() && c.times[0] > 0;
        bool now = !c.times.empty() && !delayed;
        EXPECT_EQ(countBeforeState(t, "sound", 0), now ? 1u : 0u);
        EXPECT_EQ(countBeforeState(t, "sound", 1), now ? 1u : 0u) << "not yet at 1.49 s";
        EXPECT_EQ(countBeforeState(t, "sound", 2), c.times.size()) << "due at 1.5 s";
    }
}

TEST(PageAlertsScenario, TwoDelayedTapsBothPlay)
{
    const std::string delayed = command("invokeTapSound=true&invokeSoundDelay=1.5");
    Transcript t = run(delayed + "wait 0.5\n" + delayed + "wait 3\n");
    EXPECT_EQ(timesOf(soundsNamed(t, "tap", "aif")), (std::vector<double>{1.5, 2.0})) << t.dump();
}

TEST(PageAlertsScenario, NamedSoundsWaitForTheEndOfTheIntroOnlyTheLastOne)
{
    struct Played {
        std::string name, type;
    };
    struct Case {
        const char* name;
        std::vector<std::string> queries;
        std::optional<std::string> aifWaiting, cafWaiting; // after the requests, during the intro
        std::optional<Played> played;                      // at the end of the intro
    };
    const std::vector<Case> cases{
        {"one aif", {"invokeSoundAIF=horn"}, "horn", std::nullopt, Played{"horn", "aif"}},
        {"one caf", {"invokeSoundCAF=engine"}, std::nullopt, "engine", Played{"engine", "caf"}},
        {"aif then caf: only the caf", {"invokeSoundAIF=horn", "invokeSoundCAF=engine"}, std::nullopt, "engine",
         Played{"engine", "caf"}},
        {"caf then aif: only the aif", {"invokeSoundCAF=engine", "invokeSoundAIF=horn"}, "horn", std::nullopt,
         Played{"horn", "aif"}},
        {"two aif: the later one, which the application lacks",
         {"invokeSoundAIF=horn", "invokeSoundAIF=nosuchsound"}, "nosuchsound", std::nullopt, std::nullopt},
        {"both in one URL: the caf, checked last", {"invokeSoundAIF=horn&invokeSoundCAF=engine"}, std::nullopt, "engine",
         Played{"engine", "caf"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string script;
        for (const auto& q : c.queries)
            script += command(q);
        // The movie ends the intro at t = 3.
        Transcript t = run(script + "state\nwait 2.99\nstate\nwait 0.01\nstate\nwait 1\n");
        auto s = t.states();
        ASSERT_EQ(s.size(), 3u) << t.dump();
        EXPECT_EQ(s[0]["page"]["soundFileAIFDeferred"], c.aifWaiting ? json(*c.aifWaiting) : json(nullptr));
        EXPECT_EQ(s[0]["page"]["soundFileCAFDeferred"], c.cafWaiting ? json(*c.cafWaiting) : json(nullptr));
        EXPECT_EQ(countBeforeState(t, "sound", 1), 0u) << t.dump();
        auto sounds = t.events("sound");
        if (c.played) {
            ASSERT_EQ(sounds.size(), 1u) << t.dump();
            EXPECT_EQ(sounds[0].value("name", ""), c.played->name);
            EXPECT_EQ(sounds[0].value("type", ""), c.played->type);
            EXPECT_DOUBLE_EQ(sounds[0]["t"].get<double>(), 3.0);
        } else {
            EXPECT_TRUE(sounds.empty()) << t.dump();
        }
        EXPECT_TRUE(s[2]["page"]["soundFileAIFDeferred"].is_null());
        EXPECT_TRUE(s[2]["page"]["soundFileCAFDeferred"].is_null());
    }
}

TEST(PageAlertsScenario, NamedSoundsPlayAtOnceAfterTheIntro)
{
    SettingsDir introOff(R"({"introAnimationEnabled": false})");
    Transcript t = run("wait 0.5\n" + command("invokeSoundAIF=horn") + command("invokeSoundAIF=nosuchsound")
                           + command("invokeSoundCAF=engine") + command("invokeSoundCAF=horn") + "state\n",
                       introOff.options());
    std::vector<std::string> played;
    for (const auto& line : t.events("sound")) {
        played.push_back(line.value("name", "") + "." + line.value("type", ""));
        EXPECT_DOUBLE_EQ(line["t"].get<double>(), 0.5);
    }
    // Sounds the application does not have play nothing.
    EXPECT_EQ(played, (std::vector<std::string>{"horn.aif", "engine.caf"})) << t.dump();
    ASSERT_EQ(t.states().size(), 1u);
    EXPECT_TRUE(t.states()[0]["page"]["soundFileAIFDeferred"].is_null());
    EXPECT_TRUE(t.states()[0]["page"]["soundFileCAFDeferred"].is_null());
}
