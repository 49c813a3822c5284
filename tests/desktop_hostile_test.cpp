// Pages that misbehave in the window: a flood of window.open, a page that reloads itself without
// end, and a script that never ends. The window must stay usable (the tab bar still loads its
// pages), open no second window, and end the run cleanly.

#include "support/Desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

TEST(DesktopHostilePages, TheTabBarStillLoadsItsPagesAndNoSecondWindowOpens)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    scenario::DemoServer server({"/usr/bin/python3", STREET_TESTS_DIR "/tools/hostile_server.py"}, {});
    ASSERT_TRUE(server.started());
    std::string base = server.baseURL();
    // The spinning page's process is ended a few seconds after the tap finds it unanswering.
    std::string script = "wait 2\nnavigate " + base + "/popups.php\nwait 1.5\nnavigate " + base + "/reload.php\nwait 2\n"
        "tap Street\nwait 2\nstate\nnavigate " + base + "/spin.php\nwait 1.5\ntap #2\nwait 9\nstate\n";
    scenario::ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 60;
    auto t = scenario::runScenario(script, {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record",
                                            "--server", server.hostPort()}, options);
    ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();

    auto states = t.states();
    ASSERT_EQ(states.size(), 2u) << t.dump();
    EXPECT_NE(states[0]["webView"]["url"].get<std::string>().find("/missions.php"), std::string::npos) << states[0].dump();
    EXPECT_EQ(states[1]["tabBar"]["selected"], 2);
    EXPECT_EQ(states[1]["webView"]["url"].get<std::string>().find("/spin.php"), std::string::npos) << states[1].dump();
    EXPECT_EQ(t.events("load-finish").back()["url"], states[1]["webView"]["url"]);

    size_t reloads = 0;
    std::string popups;
    for (const auto& d : t.events("decide")) {
        std::string url = d["url"];
        reloads += url.find("/reload.php") != std::string::npos;
        if ((url.find("/popup") != std::string::npos && url.find("/popups.php") == std::string::npos)
            || url.find("/again.php") != std::string::npos)
            popups += d.dump() + "\n";
    }
    EXPECT_GT(reloads, 5u);  // it did reload itself, and the tab still won
    EXPECT_EQ(popups, "");   // window.open without a click opens nothing
    EXPECT_EQ(t.count("open-url"), 0u);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's shadow memory is no measure of ours
    EXPECT_LT(t.peakMemoryKB, 400 * 1024);
#endif
}

} // namespace

namespace {

// Backgrounds and tab icons missing from the resources: their views show nothing, the game goes on.
TEST(DesktopHostilePages, MissingPicturesShowNothingAndTheGameGoesOn)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    scenario::TempDir dir;
    std::filesystem::copy(STREET_RESOURCES_DIR, dir.path() + "/resources", std::filesystem::copy_options::recursive);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() + "/resources/images"))
        if (entry.path().filename().string().starts_with("bg_") || entry.path().filename().string().starts_with("tab"))
            std::filesystem::remove(entry.path());
    scenario::ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 60;
    auto t = scenario::runScenario("wait 4.5\ntap Street\nwait 1.5\nstate\n",
                                   {"--scale", "1", "--movie-seconds", "0.2", "--server", server.hostPort(),
                                    "--resources", dir.path() + "/resources"}, options);
    ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();
    ASSERT_EQ(t.states().size(), 1u) << t.dump();
    EXPECT_EQ(t.states()[0]["tabBar"]["selected"], 1);
    EXPECT_NE(t.states()[0]["webView"]["url"].get<std::string>().find("/missions.php"), std::string::npos);
}

} // namespace
