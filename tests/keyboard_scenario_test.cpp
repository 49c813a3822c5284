// The keyboard, end to end: key names, the tab bar in the focus chain and its Alt+N shortcuts,
// focus kept inside an alert, and the Recruit screen played with keys only. Headless, keys go
// to the kit's focus model exactly as the window's key presses do.

#include "kit/KeyPress.h"
#include "shell/Script.h"
#include "support/Timeline.h"

#include <gtest/gtest.h>

namespace {

using kit::KeyPress;
using nlohmann::json;
using scenario::Transcript;
using timeline::fieldOf;
using timeline::Intro;
using timeline::run;

const std::string kBase = timeline::kBase;
const std::string kHomeShown = "navigate " + kBase + "home.php?showHomeBg=true\nfinish\nwait 3\n";
const std::string kTwoButtons = timeline::command(
    "invokeAlertTwoBtnTitle=Race%3F&invokeAlertTwoBtnBody=Now&invokeAlertTwoBtn1Name=Not%20now&invokeAlertTwoBtn2Name=Race");
const std::string kOneButton = timeline::command("invokeAlertOneBtnTitle=Hi&invokeAlertOneBtnBody=B&invokeAlertOneBtnName=Go");

// The tab pages loaded after the home page, by tab index.
std::vector<int> tabsLoaded(const Transcript& t)
{
    const std::vector<std::string> pages = {"home.php", "missions.php", "fight.php", "cars.php", "group.php"};
    std::vector<int> loaded;
    bool first = true;
    for (const auto& url : fieldOf(t, "decide", "url")) {
        std::string text = url.get<std::string>();
        if (text.find("Bg=true") == std::string::npos)
            continue;
        if (first && text.find("home.php") != std::string::npos) {
            first = false;  // the page that showed the bar
            continue;
        }
        for (size_t i = 0; i < pages.size(); ++i)
            if (text.find(pages[i]) != std::string::npos)
                loaded.push_back(static_cast<int>(i));
    }
    return loaded;
}

TEST(KeyNames, ModifiersAndOneKeyAsGdkNamesThem)
{
    struct Case {
        const char* text;
        std::optional<KeyPress> key;
    };
    const Case cases[] = {
        {"Return", KeyPress{"Return", 0}}, {"space", KeyPress{"space", 0}}, {"Alt+4", KeyPress{"4", KeyPress::Alt}},
        {"Shift+Tab", KeyPress{"Tab", KeyPress::Shift}}, {"Ctrl+Shift+Left", KeyPress{"Left", KeyPress::Control | KeyPress::Shift}},
        {"Control+a", KeyPress{"a", KeyPress::Control}}, {"Super+A", KeyPress{"A", KeyPress::Super}},
        {"Prior", KeyPress{"Page_Up", 0}}, {"KP_Next", KeyPress{"KP_Page_Down", 0}}, {"plus", KeyPress{"plus", 0}},
        {"Alt+Alt+1", KeyPress{"1", KeyPress::Alt}}, {"ISO_Left_Tab", KeyPress{"ISO_Left_Tab", 0}},
        {"", std::nullopt}, {"return", std::nullopt}, {"Enter", std::nullopt}, {"Alt+", std::nullopt}, {"+", std::nullopt},
        {"Alt++", std::nullopt}, {"alt+4", std::nullopt}, {"Hyper+a", std::nullopt}, {"Return Escape", std::nullopt},
        {"Alt+4+", std::nullopt}, {"ä", std::nullopt}, {"Space", std::nullopt},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(KeyPress::parse(c.text, &error), c.key) << c.text;
        EXPECT_EQ(error.empty(), c.key.has_value()) << c.text << ": " << error;
    }
    // What a key means: Shift+Tab is also ISO_Left_Tab; Return is also the keypad's Enter.
    EXPECT_TRUE((KeyPress{"ISO_Left_Tab", KeyPress::Shift}).isShiftTab());
    EXPECT_TRUE((KeyPress{"ISO_Left_Tab", 0}).isShiftTab());
    EXPECT_FALSE((KeyPress{"ISO_Left_Tab", 0}).isTab());
    EXPECT_TRUE((KeyPress{"KP_Enter", 0}).isReturn());
    EXPECT_FALSE((KeyPress{"Return", KeyPress::Alt}).isReturn());
    EXPECT_EQ((KeyPress{"4", KeyPress::Alt | KeyPress::Shift}).text(), "Alt+Shift+4");

    // A script line with a name that is not a key does not run: the line is named.
    auto parsed = shell::Script::parse("state\nkey Alt+4\nkey Shift+Tab\nkey Retrun\nstate\n");
    EXPECT_EQ(parsed.errorLine, 4);
    EXPECT_NE(parsed.error.find("Retrun"), std::string::npos) << parsed.error;
    for (const char* line : {"key", "key alt+4", "scroll", "scroll down", "scroll inf", "scroll nan", "scroll 1 2"}) {
        auto bad = shell::Script::parse(std::string("state\n") + line + "\n");
        EXPECT_EQ(bad.errorLine, 2) << line;
    }
    auto good = shell::Script::parse("key Alt+4\nscroll -12.5\nscroll 0\n");
    ASSERT_FALSE(good.errorLine) << good.error;
    EXPECT_EQ(good.commands[0].key, (KeyPress{"4", KeyPress::Alt}));
    EXPECT_EQ(good.commands[1].points, -12.5);
    auto run = scenario::runScenario("state\nkey Alt+9\nkey Foo\n");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.stderrText.find("line 3"), std::string::npos) << run.stderrText;
    EXPECT_TRUE(run.lines.empty());
}

TEST(KeyboardScenario, TheTabBarIsInTheFocusChainAndAltNumberTapsATab)
{
    struct Case {
        std::string keys;
        std::vector<int> loaded;   // tab pages, in order
        size_t ignored;
        json focus;                // at the end
    };
    const json page = {{"control", "page"}};
    auto bar = [](int item) { return json{{"control", "tabBar"}, {"item", item}}; };
    const Case cases[] = {
        {"key Alt+4\n", {3}, 0, page},
        {"key Alt+2\nkey Alt+5\nkey Alt+1\n", {1, 4, 0}, 0, page},
        // Focus enters the bar on the selected item (home); Left and Right move it, Return or
        // Space taps it.
        {"key Tab\n", {}, 0, bar(0)},
        {"key Tab\nkey Right\nkey Right\nkey Return\n", {2}, 0, bar(2)},
        {"key Tab\nkey Left\nkey space\n", {0}, 0, bar(0)},
        {"key Tab\nkey Right\nkey Right\nkey Right\nkey Right\nkey Right\nkey KP_Enter\n", {4}, 0, bar(4)},
        {"key Alt+4\nkey Shift+Tab\n", {3}, 0, bar(3)},
        {"key Tab\nkey Right\nkey Tab\n", {}, 0, page},        // round again: the page
        {"key Tab\nkey Alt+3\nkey Return\n", {2, 2}, 0, bar(2)},  // the focused item follows the shortcut
        // No such item, no such shortcut, nothing that the page or the bar takes here.
        {"key Alt+6\nkey Alt+0\nkey Ctrl+1\nkey Alt+Shift+1\nkey Down\nkey Return\nkey a\n", {}, 7, page},
        {"key Tab\nkey Up\nkey Escape\n", {}, 2, bar(0)},
        // Hidden, the bar is no control: neither Tab nor Alt+N reaches it.
        {timeline::command("hideTabBar=true") + "key Alt+2\nkey Tab\n", {}, 1, page},
        // An alert in front covers it.
        {kOneButton + "key Alt+2\nkey Right\n", {}, 2, json{{"control", "alertButton"}, {"index", 0}}},
        {kOneButton + "key Return\nkey Alt+2\n", {1}, 0, page},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        auto t = run(kHomeShown + c.keys + "state\n", Intro::Off);
        EXPECT_EQ(tabsLoaded(t), c.loaded) << t.dump();
        EXPECT_EQ(t.count("ignored"), c.ignored) << t.dump();
        auto states = t.states();
        ASSERT_EQ(states.size(), 1u);
        EXPECT_EQ(states[0]["focus"], c.focus);
        if (!c.loaded.empty()) {
            EXPECT_EQ(states[0]["tabBar"]["selected"], c.loaded.back());
        }
    }

    // A shortcut is the user's tap: the same transcript as `tap`.
    auto tapped = run(kHomeShown + "tap Cars\nwait 1\nstate\n", Intro::Off);
    auto keyed = run(kHomeShown + "key Alt+4\nwait 1\nstate\n", Intro::Off);
    ASSERT_EQ(tapped.lines.size(), keyed.lines.size()) << keyed.dump();
    for (size_t i = 0; i < tapped.lines.size(); ++i)
        EXPECT_EQ(tapped.lines[i], keyed.lines[i]) << i;
}

TEST(KeyboardScenario, AnAlertKeepsFocusAndReturnPressesTheFocusedButton)
{
    struct Case {
        std::string setup, keys;
        std::vector<int> pressed;  // button indices, in order
        size_t ignored;
    };
    const Case cases[] = {
        {kTwoButtons, "key Return\n", {1}, 0},                // focus has not moved: the last button
        {kTwoButtons, "key Tab\nkey Return\n", {0}, 0},       // "Not now" has focus: Return refuses
        {kTwoButtons, "key Shift+Tab\nkey Return\n", {0}, 0},
        {kTwoButtons, "key Tab\nkey Tab\nkey Return\n", {1}, 0},  // round within the alert
        {kTwoButtons, "key Tab\nkey space\n", {0}, 0},
        {kTwoButtons, "key space\n", {1}, 0},
        {kTwoButtons, "key Escape\n", {0}, 0},
        {kTwoButtons, "key Tab\nkey Escape\n", {0}, 0},
        {kTwoButtons, "key Left\nkey Down\nkey Alt+1\nkey x\nkey Return\n", {1}, 4},
        {kOneButton, "key Escape\nkey Tab\nkey Return\n", {0}, 1},
        // Each alert keeps its own focus: the one behind still has its last button.
        {kTwoButtons + kOneButton, "key Return\nkey Return\n", {0, 1}, 0},
        {kTwoButtons + kOneButton, "key Return\nkey Tab\nkey Return\n", {0, 0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setup + c.keys);
        auto t = run(kHomeShown + c.setup + c.keys, Intro::Off);
        std::vector<int> pressed;
        for (const auto& index : fieldOf(t, "alert-press", "index"))
            pressed.push_back(index.get<int>());
        EXPECT_EQ(pressed, c.pressed) << t.dump();
        EXPECT_EQ(t.count("ignored"), c.ignored) << t.dump();
    }
}

// A keyboard-only player opens the Recruit screen, agrees, names themself, moves through the
// rows, ticks, sends, reads the info, and goes back.
TEST(KeyboardScenario, TheRecruitScreenIsPlayedWithKeysOnly)
{
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    scenario::TempDir dir("street-keys");
    std::string contacts;
    for (const auto& [letter, count] : {std::pair<std::string, int>{"A", 10}, {"B", 10}})
        for (int i = 0; i < count; ++i)
            contacts += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;" + letter + std::to_string(i) + ";;;\r\nTEL:55" + std::to_string(i)
                + "\r\nEND:VCARD\r\n";
    scenario::writeFile(dir.path() + "/contacts.vcf", contacts);
    // The game server's own page leads to the Recruit screen: a page elsewhere gives no commands.
    std::string script = "navigate http://" + server.hostPort() + "/home.php?showHomeBg=true\nfinish\nwait 3\n"
        "navigate http://" + server.hostPort() + "/bank.php?showABRecruit=true\n"
        "key Alt+1\nkey Tab\nkey Tab\nkey Return\n"      // the permission alert: round to Continue
        "type Racer\nkey Return\nstate\n"                // the name prompt: Return is Done
        "key Down\nstate\n"
        "key Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nstate\n"
        "key Down\nkey space\nkey Up\nkey space\nstate\n"
        "key Tab\nstate\nkey Return\nwait 1\npress OK\n" // Send Invites
        "key Tab\nkey Tab\nstate\nkey Return\nkey Escape\nkey Return\n"  // Change: the name prompt again
        "key Tab\nkey space\nkey Return\n"               // the info alert
        "key Alt+1\nkey Tab\nkey Escape\nstate\nkey Alt+1\n";
    auto t = run(script, Intro::Off, {"--server", server.hostPort(), "--contacts", dir.path() + "/contacts.vcf"});
    auto states = t.states();
    ASSERT_EQ(states.size(), 7u) << t.dump();
    auto ignored = fieldOf(t, "ignored", "command");
    EXPECT_EQ(ignored, (std::vector<json>{"key Alt+1", "key Escape", "key Alt+1"})) << t.dump();

    // Agreed and named; focus starts on the table, on no row.
    EXPECT_EQ(states[0]["settings"]["nameString"], "Racer");
    EXPECT_EQ(states[0]["focus"], json({{"control", "table"}, {"row", nullptr}}));
    // The first Down takes the top row; the table scrolls to keep the focused row in view.
    EXPECT_EQ(states[1]["focus"]["row"], json({0, 0}));
    EXPECT_EQ(states[1]["recruitTable"]["offset"], 0);
    EXPECT_EQ(states[2]["focus"]["row"], json({0, 9}));
    EXPECT_EQ(states[2]["recruitTable"]["offset"], 86);  // A9's bottom, 462, at the bottom edge (376)
    EXPECT_EQ(states[3]["focus"]["row"], json({0, 9}));
    EXPECT_EQ(states[3]["recruitTable"]["offset"], 152);  // B0 went past it; back up to A9 moves nothing
    EXPECT_EQ(states[3]["recruit"]["rows"][1][0]["ticked"], true);
    EXPECT_EQ(states[3]["recruit"]["rows"][0][9]["ticked"], true);
    // Tab goes round: the toolbar, the buttons, the table.
    EXPECT_EQ(states[4]["focus"], json({{"control", "toolbar"}, {"item", 0}, {"title", "Send Invites"}}));
    const auto* post = t.first("post");
    ASSERT_TRUE(post) << t.dump();
    EXPECT_NE((*post)["body"].get<std::string>().find("A9 ,559,,B0 ,550,,"), std::string::npos) << (*post)["body"];
    EXPECT_EQ(states[5]["focus"], json({{"control", "button"}, {"id", "changeNameButton"}}));
    auto titles = fieldOf(t, "alert", "title");  // the third is the server's answer
    ASSERT_EQ(titles.size(), 5u) << t.dump();
    EXPECT_EQ(std::vector<json>({titles[0], titles[1], titles[3], titles[4]}), (std::vector<json>{"Recruit", "Your Name", "Your Name", "Recruit"}));
    // Escape is "Back": the screen goes, no tab is selected, focus is the main screen's again.
    EXPECT_EQ(t.count("dismiss"), 1u);
    EXPECT_EQ(states[6]["modal"], nullptr);
    EXPECT_EQ(states[6]["tabBar"]["selected"], nullptr);
    EXPECT_EQ(states[6]["focus"], json({{"control", "page"}}));
    EXPECT_EQ(tabsLoaded(t), std::vector<int>{0});  // the last Alt+1, with the tab bar back
}

} // namespace
