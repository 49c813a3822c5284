// The window on either display server the desktop may run (./dev test runs the window's tests
// on X11 and again on Wayland).

#include "support/Desktop.h"
#include "support/Picture.h"
#include "support/Sway.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <unistd.h>
#include <string>

// Last: Xlib's macros (None, Status, True...) would clash with what the others declare.
#include "support/OwnDisplay.h"

namespace {

// Docks and task bars find the window's desktop entry (its name and icon) by the name the window
// gives: its app_id on Wayland, its WM_CLASS on X11, which the entry's StartupWMClass repeats.
TEST(DesktopDisplay, TheWindowIsNamedByItsDesktopEntry)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    const std::string id = "net.streetclient.StreetClient";
    std::string entry = scenario::readFile(std::string(STREET_SOURCE_DIR) + "/desktop/" + id + ".desktop");
    EXPECT_NE(entry.find("\nStartupWMClass=" + id + "\n"), std::string::npos) << entry;

    const bool wayland = scenario::onWayland();
    if (wayland && !scenario::swayWindows())
        GTEST_SKIP() << "on Wayland, needs sway to read the window's app_id (SWAYSOCK; tools/with-wayland sets it)";
    std::optional<scenario::OwnDisplay> display;
    if (!wayland) {
        display.emplace();
        ASSERT_TRUE(display->started()) << "Xvfb did not start";
    }
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());

    // What the display server has of the client's window, as soon as it has the window.
    std::optional<std::vector<std::string>> names;
    auto nextLook = std::chrono::steady_clock::now();
    scenario::ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 60;
    if (display)
        options.environment = {{"DISPLAY", display->name()}, {"XAUTHORITY", ""}};
    options.whileRunning = [&](pid_t client) {
        if (names || std::chrono::steady_clock::now() < nextLook)
            return;
        nextLook = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        if (display) {
            for (const auto& window : display->topLevels())
                if (window.pid == client) {
                    auto [instance, windowClass] = display->windowClass(window.id);
                    names = std::vector<std::string>{instance, windowClass};
                }
        } else {
            for (const auto& window : scenario::swayWindows().value_or(std::vector<scenario::SwayWindow>{}))
                if (window.pid == client)
                    names = std::vector<std::string>{window.appId, window.shell};
        }
    };
    auto t = scenario::runScenario("wait 3\nstate\n", {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record",
                                                        "--server", server.hostPort()}, options);
    ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();
    ASSERT_TRUE(names) << "the client's window was not seen";
    if (wayland) {
        EXPECT_EQ(*names, (std::vector<std::string>{id, "xdg_shell"})) << "app_id and shell";
    } else {
        EXPECT_EQ(*names, (std::vector<std::string>{id, id})) << "WM_CLASS";
    }
}

const std::string kTwoButtons = "/commands.php?invokeAlertTwoBtnTitle=Race%3F&invokeAlertTwoBtnBody=Now"
                                "&invokeAlertTwoBtn1Name=Not%20now&invokeAlertTwoBtn2Name=Race&stopLoad=true";

// A player at a real keyboard (keys pressed through the X server, as a keyboard's are): Tab moves
// to "Not now" and Return presses it, then Alt+4 taps the Cars tab.
TEST(DesktopDisplay, RealKeyPressesReachTheAlertAndTheTabBar)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    if (scenario::onWayland())
        GTEST_SKIP() << "presses keys through XTest, which only an X server has (the Wayland run uses the script's key)";
    scenario::OwnDisplay display;
    ASSERT_TRUE(display.started()) << "Xvfb did not start";
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());

    auto session = scenario::answerAnAlertByKeys(display, "wait 4\nnavigate " + server.baseURL() + kTwoButtons + "\nwait 8\nstate\n",
                                                 {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record",
                                                  "--server", server.hostPort()});
    const auto& t = session.transcript;
    const auto& unpressed = session.unpressed;
    const int step = session.steps;
    ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();
    EXPECT_TRUE(unpressed.empty()) << unpressed.front();
    EXPECT_EQ(step, 2) << t.dump();
    auto presses = t.events("alert-press");
    ASSERT_EQ(presses.size(), 1u) << t.dump();
    EXPECT_EQ(presses[0]["index"], 0) << "Return pressed the focused button";
    auto states = t.states();
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0]["tabBar"]["selected"], 3) << t.dump();
}

// The same game on X11 and on Wayland: one script, the window's pictures at the same moments
// (the first page, an alert over it, the Recruit screen) alike but for a few pixels of text.
TEST(DesktopDisplay, X11AndWaylandShowTheSameGame)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    if (scenario::onWayland())
        GTEST_SKIP() << "runs in the X11 pass, which starts a compositor of its own for the Wayland half";
    scenario::OwnDisplay display;
    ASSERT_TRUE(display.started()) << "Xvfb did not start";
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    scenario::TempDir dir("street-displays");
    const std::vector<std::string> moments = {"page", "alert", "recruit"};

    auto run = [&](const std::string& name) {
        scenario::ScenarioOptions options;
        options.desktop = true;
        options.timeoutSeconds = 90;
        if (name == "x11")
            options.environment = {{"DISPLAY", display.name()}, {"XAUTHORITY", ""}, {"GDK_BACKEND", "x11"}};
        else
            options.launcher = {STREET_SOURCE_DIR "/tools/with-wayland"};
        auto shot = [&](const std::string& moment) { return "snapshot " + dir.path() + "/" + name + "-" + moment + ".png\n"; };
        std::string script = "wait 6.5\n" + shot("page") + "navigate " + server.baseURL() + kTwoButtons + "\nwait 1.5\n"
            + shot("alert") + "press Not now\nnavigate " + server.baseURL() + "/commands.php?showABRecruit=true\nwait 1.5\n"
            + shot("recruit") + "state\n";
        return scenario::runScenario(script, {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record", "--server",
                                              server.hostPort(), "--contacts", STREET_SOURCE_DIR "/tools/sample-contacts.vcf"},
                                     options);
    };
    auto x11 = run("x11");
    ASSERT_EQ(x11.exitCode, 0) << x11.stderrText << x11.dump();
    auto wayland = run("wayland");
    if (wayland.exitCode == 77)
        GTEST_SKIP() << wayland.stderrText;
    ASSERT_EQ(wayland.exitCode, 0) << wayland.stderrText << wayland.dump();
    EXPECT_EQ(x11.states().at(0)["window"]["size"], wayland.states().at(0)["window"]["size"]);

    for (const auto& moment : moments) {
        SCOPED_TRACE(moment);
        scenario::Picture a(dir.path() + "/x11-" + moment + ".png"), b(dir.path() + "/wayland-" + moment + ".png");
        ASSERT_TRUE(a.loaded() && b.loaded()) << x11.stderrText << wayland.stderrText;
        ASSERT_EQ(a.width(), b.width());
        ASSERT_EQ(a.height(), b.height());
        // Text edges differ with each display server's font hinting: 10-pixel squares, on average
        // alike, are what a player sees.
        constexpr int side = 10;
        double total = 0, worst = 0;
        int worstX = 0, worstY = 0, squares = 0;
        for (int y = 0; y + side <= a.height(); y += side)
            for (int x = 0; x + side <= a.width(); x += side) {
                long sums[2][3] = {};
                for (int j = y; j < y + side; ++j)
                    for (int i = x; i < x + side; ++i)
                        for (int c = 0; c < 3; ++c) {
                            sums[0][c] += a.at(i, j)[c];
                            sums[1][c] += b.at(i, j)[c];
                        }
                double d = 0;
                for (int c = 0; c < 3; ++c)
                    d += std::abs(sums[0][c] - sums[1][c]) / (3.0 * side * side);
                total += d;
                ++squares;
                if (d > worst) {
                    worst = d;
                    worstX = x;
                    worstY = y;
                }
            }
        EXPECT_LT(total / squares, 2.0) << "mean channel difference of the squares";
        EXPECT_LT(worst, 40.0) << "the square at (" << worstX << ", " << worstY << ")";
    }
    if (::testing::Test::HasFailure())
        ADD_FAILURE() << "the pictures are kept in " << dir.release();
}

} // namespace
