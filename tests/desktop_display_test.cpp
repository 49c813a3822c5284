// The window on either display server the desktop may run (./dev test runs the window's tests
// on X11 and again on Wayland).

#include "support/Desktop.h"
#include "support/Sway.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
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

} // namespace
