// The page command bridge end to end: every load a page starts passes the client, which runs
// the commands in its URL, picks the page's background and tab, and lets it through or not.

#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using scenario::Transcript;

const std::string kBase = "http://127.0.0.1:8642/";
const std::string kHome = kBase + "home.php?showHomeBg=true";

const std::vector<std::string> kDevice{"--udid", "TEST-UDID-2", "--model", "TestModel", "--system-version", "1.0"};

std::vector<std::string> withDevice(std::vector<std::string> extra = {})
{
    std::vector<std::string> args = kDevice;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// A data directory with the intro switched off, so the first page is up 3 s after launch.
class IntroOffDir {
public:
    IntroOffDir() { scenario::writeFile(dir_.path() + "/defaults.json", R"({"introAnimationEnabled": false})"); }
    scenario::ScenarioOptions options() const
    {
        scenario::ScenarioOptions o;
        o.dataDir = dir_.path();
        return o;
    }

private:
    scenario::TempDir dir_{"street-h6-bridge"};
};

Transcript run(const std::string& script, const std::vector<std::string>& args = withDevice(),
               const scenario::ScenarioOptions& options = {})
{
    Transcript t = scenario::runScenario(script, args, options);
    EXPECT_EQ(t.exitCode, 0) << t.dump();
    EXPECT_TRUE(t.malformedLines.empty()) << t.dump();
    return t;
}

// The first page (home) has been shown and faded in, with the tab bar; the client has `started`.
const std::string kHomeShown = "navigate " + kHome + "\nfinish\nwait 3\n";

// A command-only request: refused after its commands have run.
std::string command(const std::string& query) { return "navigate " + kBase + "cmd.php?stopLoad=true&" + query + "\n"; }

std::vector<std::string> urlsOf(const std::vector<json>& lines, const char* field)
{
    std::vector<std::string> out;
    for (const auto& line : lines)
        out.push_back(line.value(field, ""));
    return out;
}

json badges(std::vector<std::optional<std::string>> values)
{
    json out = json::array();
    for (const auto& v : values)
        out.push_back(v ? json(*v) : json(nullptr));
    return out;
}

} // namespace

TEST(CommandBridgeScenario, PageTableRowsChooseBackgroundTabBarAndSelection)
{
    enum class Bar { Hide, Show, None };
    const int kNoChange = -2, kNone = -1;
    struct Case {
        std::string page;
        std::optional<std::string> bg; // nullopt: left as it was
        Bar bar;
        int selected; // item, kNone (nothing selected) or kNoChange
        bool allow = true;
        bool recruit = false;
        bool landing = false;
    };
    const std::vector<Case> cases{
        {"register.php", "bg_default.jpg", Bar::Hide, kNoChange, true, false, true},
        {"choose_name.php", "bg_default.jpg", Bar::Hide, kNoChange},
        {"choose_class.php", "bg_default.jpg", Bar::Hide, kNoChange},
        {"points.php", "bg_default.jpg", Bar::Hide, kNoChange},
        {"missions.php", "bg_default.jpg", Bar::Show, 1},
        {"fight.php", "bg_fight.jpg", Bar::Show, 2},
        {"cars.php", "bg_default.jpg", Bar::Show, 3},
        {"home.php", "bg_default.jpg", Bar::Show, 0},
        {"bank.php?showABRecruit=true", std::nullopt, Bar::None, kNoChange, false, true},
        {"investment.php", "bg_investment.jpg", Bar::Show, kNone},
        {"equipment.php", "bg_default.jpg", Bar::Show, kNone},
        {"bank.php", "bg_bank.jpg", Bar::Show, kNone},
        {"hospital.php", "bg_hospital.jpg", Bar::Show, kNone},
        {"favor.php", "bg_other.jpg", Bar::Show, kNone},
        {"profile.php", "bg_default.jpg", Bar::Show, kNone},
        {"help.php", "bg_other.jpg", Bar::Show, kNone},
        {"updates.php", "bg_other.jpg", Bar::Show, kNone},
        {"setting.php", "bg_other.jpg", Bar::Show, kNone},
        {"settings.php", "bg_other.jpg", Bar::Show, kNone},
        {"group.php", "bg_default.jpg", Bar::Show, 4},
        {"groupMembers.php", "bg_default.jpg", Bar::Show, 4},
        {"mob.php", "bg_default.jpg", Bar::Show, 4},
        {"myMobMembers.php", "bg_default.jpg", Bar::Show, 4},
        {"news.php", "bg_default.jpg", Bar::Show, kNone},
        // Rows are tried in table order, whatever order the names stand in within the URL.
        {"home.php?from=fight.php", "bg_fight.jpg", Bar::Show, 2},
        {"group.php?back=register.php", "bg_default.jpg", Bar::Hide, kNoChange, true, false, true},
        {"mob.php?from=bank.php", "bg_bank.jpg", Bar::Show, kNone},
        {"profile.php?showABRecruit=true", std::nullopt, Bar::None, kNoChange, false, true},
        {"home.php?showABRecruit=true", "bg_default.jpg", Bar::Show, 0},
    };
    IntroOffDir introOff;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        // Before the row: background "bg_marker.jpg", item 2 selected, and the tab bar in the
        // state opposite to the one the row leaves it in.
        bool barShownBefore = c.bar != Bar::Show;
        std::string script = kHomeShown + "navigate " + kBase + "fight.php?changeBgAfterLoad=bg_marker.jpg"
            + (barShownBefore ? "" : "&hideTabBar=true") + "\nfinish\nstate\nnavigate " + kBase + c.page + "\nstate\n";
        Transcript t = run(script, withDevice(), introOff.options());
        auto states = t.states();
        ASSERT_EQ(states.size(), 2u) << t.dump();
        ASSERT_EQ(states[0]["page"]["bgToLoad"], "bg_marker.jpg") << t.dump();
        ASSERT_EQ(states[0]["tabBar"]["selected"], 2);
        ASSERT_EQ(states[0]["tabBar"]["hidden"].get<bool>(), !barShownBefore);

        const json& after = states[1];
        EXPECT_EQ(t.last("decide")->value("url", ""), kBase + c.page);
        EXPECT_EQ(t.last("decide")->value("allow", !c.allow), c.allow);
        EXPECT_EQ(after["page"]["bgToLoad"], c.bg.value_or("bg_marker.jpg"));
        bool hidden = c.bar == Bar::None ? !barShownBefore : c.bar == Bar::Hide;
        EXPECT_EQ(after["tabBar"]["hidden"].get<bool>(), hidden);
        EXPECT_EQ(after["webView"]["frame"], json::array({0, 0, 320, hidden ? 460 : 410}));
        if (c.bar != Bar::None) {
            EXPECT_EQ(after["page"]["showTabBar"].get<bool>(), c.bar == Bar::Show);
        }
        json selected = c.selected == kNoChange ? json(2) : c.selected == kNone ? json(nullptr) : json(c.selected);
        EXPECT_EQ(after["tabBar"]["selected"], selected);
        EXPECT_EQ(after["page"]["lastPageLoadedWasLanding"].get<bool>(), c.landing);
        auto presents = t.events("present");
        if (c.recruit) {
            ASSERT_EQ(presents.size(), 1u) << t.dump();
            EXPECT_EQ(presents[0].value("screen", ""), "RecruitABContainer");
            EXPECT_EQ(after["modal"], "RecruitABContainer");
            // A refused load is not a load: the finished marker page is not loading again.
            EXPECT_FALSE(after["page"]["loading"].get<bool>());
        } else {
            EXPECT_TRUE(presents.empty()) << t.dump();
            EXPECT_TRUE(after["modal"].is_null());
            EXPECT_TRUE(after["page"]["loading"].get<bool>());
            EXPECT_TRUE(after["page"]["timerIndicator"].get<bool>());
        }
    }
}

TEST(CommandBridgeScenario, FirstLoadPhaseKeepsBackgroundAndOnlyMarksTheTabBarForHome)
{
    IntroOffDir introOff;
    Transcript t = run("navigate " + kHome + "\nstate\n"           // home: the flag only, no call
                       "navigate " + kBase + "news.php\nstate\n"   // outside the table: shows the bar, keeps the picture
                       "navigate " + kBase + "fight.php\nstate\n"
                       "navigate " + kBase + "news.php\nstate\n"   // still keeps bg_fight.jpg
                       "finish\nwait 3\n"
                       "navigate " + kBase + "news.php\nstate\n",  // started: back to bg_default.jpg
                       withDevice(), introOff.options());
    auto s = t.states();
    ASSERT_EQ(s.size(), 5u) << t.dump();
    struct Expect {
        const char* bg;
        bool hidden;
        bool flag;
        json selected;
        bool timer;
    };
    const std::vector<Expect> expected{
        {"bg_default.jpg", true, true, 0, false},
        {"bg_default.jpg", false, true, nullptr, false},
        {"bg_fight.jpg", false, true, 2, false},
        {"bg_fight.jpg", false, true, nullptr, false},
        {"bg_default.jpg", false, true, nullptr, true},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("state " + std::to_string(i));
        EXPECT_EQ(s[i]["page"]["bgToLoad"], expected[i].bg);
        EXPECT_EQ(s[i]["tabBar"]["hidden"].get<bool>(), expected[i].hidden);
        EXPECT_EQ(s[i]["page"]["showTabBar"].get<bool>(), expected[i].flag);
        EXPECT_EQ(s[i]["tabBar"]["selected"], expected[i].selected);
        EXPECT_EQ(s[i]["page"]["timerIndicator"].get<bool>(), expected[i].timer);
        EXPECT_TRUE(s[i]["page"]["loading"].get<bool>());
    }
}

TEST(CommandBridgeScenario, KeyWordsAreCaseSensitiveSubstrings)
{
    struct Case {
        std::string url;
        bool allow;
    };
    const std::vector<Case> cases{
        {kBase + "x.php?stopLoad=true", false},
        {kBase + "x.php?stopLoad=truely", false},
        {kBase + "x.php#stopLoad=true", false},
        {kBase + "stopLoad=true/x.php", false},
        {kBase + "x.php?stopLoad=false", true},
        {kBase + "x.php?stopload=true", true},
        {kBase + "x.php?StopLoad=true", true},
        // "index.php" anywhere lets the load through before any command is read.
        {kBase + "index.php?stopLoad=true", true},
        {kBase + "x.php?stopLoad=true&next=index.php", true},
    };
    std::string script = kHomeShown;
    for (const auto& c : cases)
        script += "navigate " + c.url + "\n";
    IntroOffDir introOff;
    Transcript t = run(script, withDevice(), introOff.options());
    auto decides = t.events("decide");
    ASSERT_EQ(decides.size(), cases.size() + 2) << t.dump(); // + the entry request and home
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(decides[i + 2].value("url", ""), cases[i].url);
        EXPECT_EQ(decides[i + 2].value("allow", !cases[i].allow), cases[i].allow) << cases[i].url;
    }
}

TEST(CommandBridgeScenario, IndexPageRunsNoCommandAndLeavesLoadStateAlone)
{
    const std::vector<std::string> urls{
        kBase + "index.php?stopLoad=true&setTab1Badge=5&invokeVibrate=true&hideTabBar=true&requestPushNotification=3"
            "&changeApplicationBadge=9&goToURL=https://example.com/&invokeAlertOneBtnTitle=T&invokeAlertOneBtnBody=B"
            "&invokeAlertOneBtnName=N&setSoundEnabled=off",
        kBase + "fight.php?next=index.php&stopLoad=true&setTab1Badge=5&invokeVibrate=true&hideTabBar=true",
    };
    IntroOffDir introOff;
    for (const auto& url : urls) {
        SCOPED_TRACE(url);
        Transcript t = run(kHomeShown + "navigate " + url + "\nstate\n", withDevice(), introOff.options());
        ASSERT_EQ(t.states().size(), 1u) << t.dump();
        json s = t.states()[0];
        EXPECT_EQ(t.last("decide")->value("url", ""), url);
        EXPECT_EQ(t.last("decide")->value("allow", false), true);
        EXPECT_EQ(t.count("vibrate"), 0u);
        EXPECT_EQ(t.count("alert"), 0u);
        EXPECT_EQ(t.count("open-url"), 0u);
        EXPECT_EQ(t.count("push-register"), 0u);
        EXPECT_EQ(t.count("icon-badge"), 1u) << "only the launch's";
        EXPECT_EQ(s["tabBar"]["badges"], badges({std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}));
        EXPECT_FALSE(s["tabBar"]["hidden"].get<bool>());
        EXPECT_EQ(s["tabBar"]["selected"], 0);
        EXPECT_EQ(s["page"]["bgToLoad"], "bg_default.jpg");
        EXPECT_EQ(s["settings"]["soundEnabled"], true);
        // The home page had finished: `loading` stays NO and no indicator timer is armed.
        EXPECT_FALSE(s["page"]["loading"].get<bool>());
        EXPECT_FALSE(s["page"]["timerIndicator"].get<bool>());
    }
}

TEST(CommandBridgeScenario, StopLoadRunsCommandsButLeavesTheLoadInFlightAlone)
{
    IntroOffDir introOff;
    // register.php is let through at t = 3: its indicator timer fires at t = 5.
    Transcript t = run(kHomeShown + "navigate " + kBase + "register.php\nstate\nwait 1\n"
                           + "navigate " + kBase
                           + "fight.php?stopLoad=true&setTab1Badge=3&invokeVibrate=true&changeBgAfterLoad=bg_x.jpg\nstate\n"
                           + "wait 0.99\nstate\nwait 0.01\nstate\n"
                           + "navigate " + kBase + "missions.php\nstate\n"
                           + "navigate " + kBase + "cars.php\nstate\n",
                       withDevice(), introOff.options());
    auto s = t.states();
    ASSERT_EQ(s.size(), 6u) << t.dump();
    auto decides = t.events("decide");
    ASSERT_EQ(decides.size(), 6u) << t.dump();
    EXPECT_FALSE(decides[3].value("allow", true)) << "the stopLoad request is refused";
    EXPECT_EQ(t.count("vibrate"), 1u);

    // The refused request changed the badge only.
    EXPECT_EQ(s[1]["tabBar"]["badges"], badges({std::nullopt, "3", std::nullopt, std::nullopt, std::nullopt}));
    for (int i : {0, 1, 2}) {
        SCOPED_TRACE("state " + std::to_string(i));
        EXPECT_TRUE(s[i]["page"]["loading"].get<bool>());
        EXPECT_EQ(s[i]["page"]["bgToLoad"], "bg_default.jpg");
        EXPECT_TRUE(s[i]["page"]["bgInterstitialToLoad"].is_null());
        EXPECT_TRUE(s[i]["page"]["lastPageLoadedWasLanding"].get<bool>());
        EXPECT_TRUE(s[i]["page"]["timerIndicator"].get<bool>());
        EXPECT_TRUE(s[i]["tabBar"]["hidden"].get<bool>());
        EXPECT_EQ(s[i]["tabBar"]["selected"], 0);
        EXPECT_FALSE(s[i]["indicator"]["animating"].get<bool>());
    }
    // register.php's timer was not replaced: it fires exactly 2 s after register.php.
    EXPECT_TRUE(s[3]["indicator"]["animating"].get<bool>());
    EXPECT_FALSE(s[3]["page"]["timerIndicator"].get<bool>());
    // The landing mark survived the refused request and goes to the next load only.
    EXPECT_EQ(s[4]["page"]["bgInterstitialToLoad"], "bg_default.jpg");
    EXPECT_FALSE(s[4]["page"]["lastPageLoadedWasLanding"].get<bool>());
    EXPECT_TRUE(s[5]["page"]["bgInterstitialToLoad"].is_null());
}

TEST(CommandBridgeScenario, TabBadgesAreSetRemovedOrLeftAlone)
{
    using B = std::vector<std::optional<std::string>>;
    const std::optional<std::string> none;
    struct Step {
        std::string query;
        B expected;
    };
    const std::vector<Step> steps{
        {"setTab0Badge=5&setTab3Badge=New%20Car", {"5", none, none, "New Car", none}},
        {"setTab1Badge=2", {"5", "2", none, "New Car", none}},
        {"setTab0Badge=", {none, "2", none, "New Car", none}},
        {"setTab1Badge=%zz", {none, none, none, "New Car", none}},
        {"setTab4Badge=7&setTab2Badge=a+b", {none, none, "a+b", "New Car", "7"}},
        {"x=setTab4Badge", {none, none, "a+b", "New Car", none}},
        {"setTab3Badge=x=y", {none, none, "a+b", none, none}},
        {"setTab5Badge=1&settab2Badge=", {none, none, "a+b", none, none}},
    };
    std::string script;
    for (const auto& step : steps)
        script += command(step.query) + "state\n";
    Transcript t = run(script);
    auto s = t.states();
    ASSERT_EQ(s.size(), steps.size()) << t.dump();
    for (size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(s[i]["tabBar"]["badges"], badges(steps[i].expected)) << steps[i].query;
}

TEST(CommandBridgeScenario, PushRegistrationMasks)
{
    struct Case {
        const char* name;
        bool afterFirstPage;
        std::vector<std::string> queries;
        std::optional<int> deferred; // pushNotificationDeferred after the commands (before the first page)
        std::vector<int> masks;      // push-register events, in order
        std::vector<std::string> extraArgs = {};
    };
    const std::vector<Case> cases{
        {"a value before the first page waits for it", false, {"requestPushNotification=3"}, 3, {3}},
        {"an undecodable value is all types", false, {"requestPushNotification=%zz"}, 7, {7}},
        {"the key word without a pair is no types", false, {"x=requestPushNotification"}, 0, {}},
        {"a non-number is no types", false, {"requestPushNotification=abc"}, 0, {}},
        {"a later request replaces an earlier one", false, {"requestPushNotification=3", "requestPushNotification=5"}, 5, {5}},
        {"a later mask 0 cancels", false, {"requestPushNotification=3", "x=requestPushNotification"}, 0, {}},
        {"no push on this system", false, {"requestPushNotification=3"}, 0, {}, {"--push", "no"}},
        {"after the first page: at once", true, {"requestPushNotification=6"}, std::nullopt, {6}},
        {"after the first page: undecodable", true, {"requestPushNotification=%zz"}, std::nullopt, {7}},
        {"after the first page: no pair registers mask 0", true, {"x=requestPushNotification"}, std::nullopt, {0}},
        {"a longer word counts as the key word", true, {"myrequestPushNotifications=4"}, std::nullopt, {0}},
        {"after the first page, no push on this system", true, {"requestPushNotification=6"}, std::nullopt, {}, {"--push", "no"}},
    };
    IntroOffDir introOff;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string commands;
        for (const auto& q : c.queries)
            commands += command(q);
        // Intro off: the entry page, finished at once, is shown at t = 2.4.
        std::string script = c.afterFirstPage ? "finish\nwait 3\n" + commands + "state\n"
                                              : commands + "state\nfinish\nwait 3\nstate\n";
        Transcript t = run(script, withDevice(c.extraArgs), introOff.options());
        auto s = t.states();
        ASSERT_FALSE(s.empty()) << t.dump();
        if (c.deferred) {
            EXPECT_EQ(s[0]["page"]["pushNotificationDeferred"], *c.deferred);
        }
        EXPECT_EQ(s.back()["page"]["pushNotificationDeferred"], 0);
        auto registrations = t.events("push-register");
        ASSERT_EQ(registrations.size(), c.masks.size()) << t.dump();
        for (size_t i = 0; i < c.masks.size(); ++i) {
            EXPECT_EQ(registrations[i]["mask"], c.masks[i]);
            EXPECT_DOUBLE_EQ(registrations[i]["t"].get<double>(), c.afterFirstPage ? 3.0 : 2.4);
        }
    }
}

TEST(CommandBridgeScenario, SettingsWrittenByPagesPersistAcrossRestarts)
{
    struct Step {
        std::string query;
        bool sound, intro;
    };
    const std::vector<Step> steps{
        {"setSoundEnabled=enabled&setIntroAnimationEnabled=enabled", true, true},
        {"setSoundEnabled=%zz&setIntroAnimationEnabled=%zz", true, true}, // undecodable: untouched
        {"setSoundEnabled=&setIntroAnimationEnabled=disabled", false, false},
        {"setSoundEnabled=enabled", true, false},
        {"x=setSoundEnabled", false, false},
        {"setSoundEnabled=Enabled&setIntroAnimationEnabled=enabled", false, true},
        {"setSoundEnabled=enabled%20", false, true},
    };
    std::string script;
    for (const auto& step : steps)
        script += command(step.query) + "state\n";
    scenario::ScenarioOptions keep;
    keep.keepDataDir = true;
    Transcript first = run(script, withDevice(), keep);
    std::string dataDir = first.dataDir;
    auto s = first.states();
    ASSERT_EQ(s.size(), steps.size()) << first.dump();
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(steps[i].query);
        EXPECT_EQ(s[i]["settings"]["soundEnabled"].get<bool>(), steps[i].sound);
        EXPECT_EQ(s[i]["settings"]["introAnimationEnabled"].get<bool>(), steps[i].intro);
    }

    // Restart: sound off, intro on. The silent movie is chosen although the route is a speaker.
    scenario::ScenarioOptions same;
    same.dataDir = dataDir;
    Transcript second = run(command("setIntroAnimationEnabled=off") + "state\n", withDevice(), same);
    ASSERT_EQ(second.states().size(), 1u) << second.dump();
    ASSERT_NE(second.first("movie"), nullptr) << second.dump();
    EXPECT_EQ(second.first("movie")->value("name", ""), "halvex_no_sound_v1");
    EXPECT_FALSE(second.states()[0]["settings"]["soundEnabled"].get<bool>());

    // Restart again: the intro switched off by the page in the previous run.
    Transcript third = run("state\n", withDevice(), same);
    ASSERT_EQ(third.states().size(), 1u) << third.dump();
    EXPECT_EQ(third.count("movie"), 0u) << third.dump();
    EXPECT_FALSE(third.states()[0]["settings"]["introAnimationEnabled"].get<bool>());
    EXPECT_FALSE(third.states()[0]["settings"]["soundEnabled"].get<bool>());
    EXPECT_TRUE(third.states()[0]["webView"]["inView"].get<bool>());
    scenario::removeTree(dataDir);
}

TEST(CommandBridgeScenario, IconBadgeFromPages)
{
    struct Step {
        std::string query;
        int badge;
        bool event;
    };
    const std::vector<Step> steps{
        {"changeApplicationBadge=4", 4, true},
        {"changeApplicationBadge=%zz", 4, false},
        {"changeApplicationBadge=", 0, true},
        {"changeApplicationBadge=12abc", 12, true},
        {"x=changeApplicationBadge", 0, true},
        {"changeApplicationBadge=%2B7", 7, true},
    };
    std::string script;
    for (const auto& step : steps)
        script += command(step.query) + "state\n";
    for (bool offered : {true, false}) {
        SCOPED_TRACE(offered ? "--icon-badge yes" : "--icon-badge no");
        Transcript t = run(script, withDevice({"--icon-badge", offered ? "yes" : "no"}));
        auto s = t.states();
        ASSERT_EQ(s.size(), steps.size()) << t.dump();
        std::vector<int> expectedEvents;
        if (offered)
            expectedEvents.push_back(0); // launch
        for (size_t i = 0; i < steps.size(); ++i) {
            EXPECT_EQ(s[i]["iconBadge"], offered ? steps[i].badge : 0) << steps[i].query;
            if (offered && steps[i].event)
                expectedEvents.push_back(steps[i].badge);
        }
        std::vector<int> events;
        for (const auto& line : t.events("icon-badge"))
            events.push_back(line["value"].get<int>());
        EXPECT_EQ(events, expectedEvents) << t.dump();
    }
}

TEST(CommandBridgeScenario, BackgroundOverrideAndTabBarCommands)
{
    struct Step {
        std::string url;
        const char* bg;
        bool hidden;
        json selected;
    };
    const std::vector<Step> steps{
        {kBase + "fight.php?changeBgAfterLoad=bg_other.jpg", "bg_other.jpg", false, 2},
        {kBase + "fight.php?changeBgAfterLoad=", "bg_fight.jpg", false, 2},
        {kBase + "bank.php?changeBgAfterLoad=%zz", "bg_bank.jpg", false, nullptr},
        {kBase + "cmd.php?stopLoad=true&changeBgAfterLoad=bg_other.jpg", "bg_bank.jpg", false, nullptr},
        // Both tab-bar words: both passes choose hideTabBar.
        {kBase + "fight.php?hideTabBar=true&showTabBar=true", "bg_fight.jpg", true, 2},
        {kBase + "cmd.php?stopLoad=true&showTabBar=true", "bg_fight.jpg", false, 2},
        {kBase + "cmd.php?stopLoad=true&showTabBar=true&hideTabBar=true", "bg_fight.jpg", true, 2},
        // An explicit word wins over the page table's choice.
        {kBase + "cars.php?hideTabBar=true", "bg_default.jpg", true, 3},
        {kBase + "register.php?showTabBar=true", "bg_default.jpg", false, 3},
    };
    std::string script = kHomeShown;
    for (const auto& step : steps)
        script += "navigate " + step.url + "\nstate\n";
    IntroOffDir introOff;
    Transcript t = run(script, withDevice(), introOff.options());
    auto s = t.states();
    ASSERT_EQ(s.size(), steps.size()) << t.dump();
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(steps[i].url);
        EXPECT_EQ(s[i]["page"]["bgToLoad"], steps[i].bg);
        EXPECT_EQ(s[i]["tabBar"]["hidden"].get<bool>(), steps[i].hidden);
        EXPECT_EQ(s[i]["page"]["showTabBar"].get<bool>(), !steps[i].hidden);
        EXPECT_EQ(s[i]["webView"]["frame"], json::array({0, 0, 320, steps[i].hidden ? 460 : 410}));
        EXPECT_EQ(s[i]["tabBar"]["selected"], steps[i].selected);
    }
}

TEST(CommandBridgeScenario, OutsideLinksAndStorePages)
{
    struct Case {
        std::string query;
        std::optional<std::string> opens;
    };
    const std::vector<Case> cases{
        {"goToURL=https://example.com/news", "https://example.com/news"},
        {"goToURL=https%3A%2F%2Fexample.com%2Fa%3Fb%3D1%26c%3D2", "https://example.com/a?b=1&c=2"},
        {"goToURL=http://example.org/", "http://example.org/"},
        // Decoded once only.
        {"goToEncodedURL=https%3A%2F%2Fexample.com%2Fa%2520b", "https://example.com/a%20b"},
        {"goToAppId=284882215", "https://store.example.com/WebObjects/MZStore.woa/wa/viewSoftware?id=284882215&mt=8"},
        {"goToURL=javascript:alert(1)", std::nullopt},
        {"goToURL=file:///etc/passwd", std::nullopt},
        {"goToURL=data:text/html,hi", std::nullopt},
        {"goToEncodedURL=javascript%3Aalert(1)", std::nullopt},
        {"goToURL=", std::nullopt},
        {"goToURL=%zz", std::nullopt},
        {"x=goToURL", std::nullopt},
        {"goToAppId=", std::nullopt},
        {"goToEncodedURL=", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        Transcript t = run(command(c.query) + "state\n");
        auto opened = urlsOf(t.events("open-url"), "url");
        if (c.opens)
            EXPECT_EQ(opened, std::vector<std::string>{*c.opens}) << t.dump();
        else
            EXPECT_TRUE(opened.empty()) << t.dump();
    }
}
