// What a screen reader hears of the window: the accessible tree on the session's accessibility
// bus, read while the client runs, as an assistive program reads it.

#include "support/Desktop.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <utility>

namespace {

using nlohmann::json;

void walk(const json& node, const std::function<void(const json&)>& visit)
{
    visit(node);
    for (const auto& child : node["children"])
        walk(child, visit);
}

std::vector<json> find(const json& tree, const std::function<bool(const json&)>& match)
{
    std::vector<json> found;
    walk(tree, [&](const json& node) {
        if (match(node))
            found.push_back(node);
    });
    return found;
}

std::vector<json> withRole(const json& tree, const std::string& role)
{
    return find(tree, [&](const json& node) { return node["role"] == role; });
}

bool has(const json& node, const std::string& state)
{
    const auto& states = node["states"];
    return std::find(states.begin(), states.end(), state) != states.end();
}

json readJson(const std::string& path)
{
    std::ifstream in(path);
    json value = json::parse(in, nullptr, false);
    return value.is_discarded() ? json::object({{"children", json::array()}}) : value;
}

class DesktopAccessibility : public scenario::DesktopSuite {};

// A session bus of the test's own, with a runtime directory of its own: the accessibility bus
// that the first client on it starts lives there, out of reach of the other tests.
class PrivateBus {
public:
    PrivateBus()
    {
        ::chmod(runtime_.path().c_str(), 0700);
        // The Wayland display is found in the runtime directory (the web process's sandbox
        // takes it from there too).
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (wayland && *wayland != '/' && runtime)
            std::filesystem::create_symlink(std::string(runtime) + "/" + wayland, runtime_.path() + "/" + wayland);
        FILE* out = ::popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1", "r");
        if (!out)
            return;
        char line[512];
        if (std::fgets(line, sizeof line, out))
            address_ = std::string(line, std::strcspn(line, "\n"));
        if (std::fgets(line, sizeof line, out))
            pid_ = std::atoi(line);
        ::pclose(out);
    }
    ~PrivateBus()
    {
        if (pid_ > 0)
            ::kill(pid_, SIGTERM);
    }
    bool started() const { return pid_ > 0 && !address_.empty(); }
    std::vector<std::pair<std::string, std::string>> environment() const
    {
        return {{"DBUS_SESSION_BUS_ADDRESS", address_}, {"XDG_RUNTIME_DIR", runtime_.path()}};
    }
    std::string shellPrefix() const
    {
        return "DBUS_SESSION_BUS_ADDRESS='" + address_ + "' XDG_RUNTIME_DIR='" + runtime_.path() + "' ";
    }

private:
    scenario::TempDir runtime_;
    std::string address_;
    pid_t pid_ = -1;
};

// The main screen, an alert over it and the Recruit screen, each read while it shows.
TEST_F(DesktopAccessibility, AReaderHearsTheTabsTheAlertAndTheRecruitRows)
{
    if (std::system("/usr/bin/python3 -c 'import gi; gi.require_version(\"Atspi\", \"2.0\")' 2>/dev/null") != 0)
        GTEST_SKIP() << "needs python3-pyatspi";
    scenario::TempDir dir;
    std::string contacts = dir.path() + "/contacts.vcf";
    scenario::writeFile(contacts, "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\nTEL:555\r\nEND:VCARD\r\n"
                                  "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Moss;Ben;;;\r\nFN:Ben Moss\r\nTEL:556\r\nEND:VCARD\r\n");
    std::string base = server_->baseURL();
    std::string script = "wait 4\nnavigate " + base + "/commands.php?setTab1Badge=2&stopLoad=true\nwait 4\n"
        "navigate " + base + "/commands.php?invokeAlertTwoBtnTitle=Race%3F&invokeAlertTwoBtnBody=Right%20now"
        "&invokeAlertTwoBtn1Name=Not%20now&invokeAlertTwoBtn2Name=Race&stopLoad=true\nwait 4\npress Not now\nwait 0.5\n"
        "navigate " + base + "/commands.php?showABRecruit=true\nwait 1.5\npress Continue\ntype Zed\npress Done\n"
        "row 0 0\nwait 4\n";
    std::vector<std::string> files = {dir.path() + "/tabs.json", dir.path() + "/alert.json", dir.path() + "/recruit.json"};
    bool read = false;
    int readerStatus = -1;
    PrivateBus bus;
    ASSERT_TRUE(bus.started());
    scenario::ScenarioOptions options;
    options.desktop = true;
    options.environment = bus.environment();
    options.whileRunning = [&](pid_t) {
        if (std::exchange(read, true))
            return;
        std::string command = bus.shellPrefix() + "/usr/bin/python3 " STREET_TESTS_DIR "/tools/atspi_dump.py net.streetclient.StreetClient 12 badge " + files[0]
            + " alert " + files[1] + " recruit " + files[2];
        readerStatus = std::system(command.c_str());
    };
    auto t = scenario::runScenario(script, {"--server", server_->hostPort(), "--movie-seconds", "0.5", "--contacts", contacts},
                                   options);
    ASSERT_EQ(t.exitCode, 0) << t.stderrText;
    EXPECT_EQ(readerStatus, 0) << "a screen was not seen in time";

    // The tab bar is a list of page tabs, named by their titles, the selected one selected and
    // a badge heard as the tab's description.
    json tabs = readJson(files[0]);
    auto lists = withRole(tabs, "page tab list");
    ASSERT_EQ(lists.size(), 1u) << tabs.dump();
    std::vector<std::string> names;
    for (const auto& tab : lists[0]["children"]) {
        if (tab["role"] == "page tab")
            names.push_back(tab["name"]);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Home", "Street", "Race", "Cars", "Recruit"}));
    auto tab = [&](const std::string& name) {
        auto found = find(lists[0], [&](const json& n) { return n["role"] == "page tab" && n["name"] == name; });
        return found.empty() ? json::object({{"states", json::array()}, {"description", ""}}) : found[0];
    };
    EXPECT_TRUE(has(tab("Home"), "selected"));
    EXPECT_FALSE(has(tab("Street"), "selected"));
    EXPECT_EQ(tab("Street")["description"], "2");
    // No drawing without a name: backgrounds and plain views are decoration.
    for (const auto& area : withRole(tabs, "drawing area"))
        ADD_FAILURE() << "a drawing area: " << area.dump();
    for (const auto& decoration : withRole(tabs, "redundant object"))
        EXPECT_EQ(decoration["name"], "");

    // An alert: modal, named by its title, described by its message, its buttons named; what
    // lies behind it is insensitive.
    json alert = readJson(files[1]);
    auto alerts = withRole(alert, "alert");
    ASSERT_EQ(alerts.size(), 1u) << alert.dump();
    EXPECT_EQ(alerts[0]["name"], "Race?");
    EXPECT_EQ(alerts[0]["description"], "Right now");
    EXPECT_TRUE(has(alerts[0], "modal"));
    std::vector<std::string> buttons;
    for (const auto& button : withRole(alerts[0], "push button"))
        buttons.push_back(button["name"]);
    EXPECT_EQ(buttons, (std::vector<std::string>{"Not now", "Race"}));
    auto covered = withRole(alert, "page tab list");
    ASSERT_EQ(covered.size(), 1u);
    EXPECT_FALSE(has(covered[0], "sensitive"));

    // The Recruit screen: a toolbar, buttons with spoken names, the sender's name as a label,
    // and one list item per contact row on screen, ticked as the table has it, with its letter.
    json recruit = readJson(files[2]);
    auto rows = withRole(recruit, "list item");
    ASSERT_EQ(rows.size(), 2u) << recruit.dump();
    EXPECT_EQ(rows[0]["name"], "Ann Lee");
    EXPECT_EQ(rows[0]["description"], "A");
    EXPECT_TRUE(has(rows[0], "checked"));
    EXPECT_EQ(rows[1]["name"], "Ben Moss");
    EXPECT_EQ(rows[1]["description"], "B");
    EXPECT_FALSE(has(rows[1], "checked"));
    EXPECT_TRUE(has(rows[1], "checkable"));
    EXPECT_EQ(withRole(recruit, "tool bar").size(), 1u);
    std::vector<std::string> spoken;
    for (const auto& button : withRole(recruit, "push button"))
        spoken.push_back(button["name"]);
    for (const std::string name : {"Send Invites", "Back", "Change", "Invite info"})
        EXPECT_NE(std::find(spoken.begin(), spoken.end(), name), spoken.end()) << name << " in " << json(spoken).dump();
    EXPECT_EQ(std::find(spoken.begin(), spoken.end(), "i"), spoken.end());
    EXPECT_FALSE(find(recruit, [](const json& n) { return n["role"] == "label" && n["name"] == "Zed"; }).empty())
        << recruit.dump();
    EXPECT_TRUE(withRole(recruit, "drawing area").empty());
}

} // namespace
