// Pages that misbehave in the window: a flood of window.open, a page that reloads itself without
// end, and a script that never ends. The window must stay usable (the tab bar still loads its
// pages), open no second window, and end the run cleanly.

#include "support/Desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

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

namespace {

using nlohmann::json;

// Pages that aim the command bridge from elsewhere (the hostile server reached as "localhost" is
// another host than the game server, 127.0.0.1): a foreign page with a hidden command iframe to
// the game server, and a game page whose foreign iframes reach command URLs by their own src, by
// script and by a redirect. Only the game page's own command iframe gives commands. Then
// redirects to file:, of the page and of a hidden iframe: the page stays alive and the tab loads.
TEST(DesktopHostilePages, CommandsRunOnlyWhenTheGameLedThereAndFileRedirectsLeaveThePageAlive)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    scenario::DemoServer server({"/usr/bin/python3", STREET_TESTS_DIR "/tools/hostile_server.py"}, {});
    ASSERT_TRUE(server.started());
    std::string game = server.baseURL();
    std::string foreign = "http://localhost:" + std::to_string(server.port());
    auto t = scenario::runInWindow("wait 3\nnavigate " + foreign + "/foreign-frame.php\nwait 2\nnavigate " + game
                                       + "/game-frames.php\nwait 3\nstate\nnavigate " + game + "/tofile.php\nwait 2\nnavigate "
                                       + game + "/file-frame.php\nwait 2\nstate\ntap Street\nwait 2\nstate\n",
                                   server.hostPort(), "0.2");
    auto states = t.states();
    ASSERT_EQ(states.size(), 3u) << t.dump();

    // Each foreign way in: its two commands are ignored, named with the host that led there.
    std::multiset<std::string> ignored;
    for (const auto& line : t.events("ignored-command")) {
        EXPECT_EQ(line["host"], "127.0.0.1") << line.dump();
        EXPECT_EQ(line["from"], "localhost") << line.dump();
        ignored.insert(line["command"].get<std::string>());
    }
    EXPECT_EQ(ignored, (std::multiset<std::string>{"setTab1Badge", "setTab2Badge", "setTab4Badge", "setTab0Badge",
                                                   "invokeVibrate=true", "invokeVibrate=true", "invokeVibrate=true",
                                                   "invokeVibrate=true"}))
        << t.dump();
    EXPECT_EQ(states[0]["tabBar"]["badges"], json({nullptr, nullptr, nullptr, "own", nullptr})) << t.dump();
    EXPECT_EQ(t.count("vibrate"), 1u);

    // Frames never stand for the page: every load reported is the main frame's.
    std::vector<json> started, finished;
    for (const auto& line : t.events("load-start"))
        started.push_back(line["url"]);
    for (const auto& line : t.events("load-finish"))
        finished.push_back(line["url"]);
    ASSERT_GE(started.size(), 1u);
    std::vector<json> pages{started[0], foreign + "/foreign-frame.php", game + "/game-frames.php", game + "/tofile.php",
                            game + "/file-frame.php", game + "/missions.php?showMissionsBg=true"};
    EXPECT_EQ(started, pages) << t.dump();
    pages.erase(pages.begin() + 3);
    EXPECT_EQ(finished, pages) << t.dump();

    // The page's own redirect to file: reaches the bridge, is refused and ends its load as
    // cancelled; the iframe's is cancelled quietly. No alert, no ended page process.
    EXPECT_EQ(t.count("scheme-refused"), 1u) << t.dump();
    ASSERT_EQ(t.count("load-fail"), 1u) << t.dump();
    EXPECT_EQ((*t.first("load-fail"))["code"], -999);
    EXPECT_EQ(t.count("alert"), 0u) << t.dump();
    EXPECT_EQ(states[2]["tabBar"]["selected"], 1);
}

} // namespace
