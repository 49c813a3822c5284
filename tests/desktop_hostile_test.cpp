// Pages that misbehave in the window: a flood of window.open, a page that reloads itself without
// end, and a script that never ends. The window must stay usable (the tab bar still loads its
// pages), open no second window, and end the run cleanly.

#include "support/Desktop.h"
#include "support/Processes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
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

// Pages that aim the command bridge from elsewhere (tests/tools/hostile_server.py; the server
// reached as "localhost" is another host than the game server, 127.0.0.1): a foreign page with a
// hidden command iframe to the game server; a game page whose foreign iframes reach command URLs
// by their own src, by script and by a redirect; the main frame redirected to a command URL by
// the game server, and by the game server after a foreign host. Only the game page's own command
// iframe and the game server's own redirect give commands; an alert of the game's whose button
// script runs once a foreign page is shown gives none. Redirects to file: (of the page, and of a
// hidden iframe) and to a custom scheme, and the page's own navigations to other schemes, leave
// the page alive, and the tab loads.
TEST(DesktopHostilePages, CommandsRunOnlyWhenTheGameLedThereAndOtherSchemesLeaveThePageAlive)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    scenario::DemoServer server({"/usr/bin/python3", STREET_TESTS_DIR "/tools/hostile_server.py"}, {});
    ASSERT_TRUE(server.started());
    std::string game = server.baseURL();
    std::string foreign = "http://localhost:" + std::to_string(server.port());
    auto encoded = [](const std::string& text) {
        std::string out;
        for (unsigned char c : text) {
            static const char hex[] = "0123456789ABCDEF";
            if (std::isalnum(c) || c == '.' || c == '-' || c == '_')
                out += static_cast<char>(c);
            else
                out += std::string("%") + hex[c >> 4] + hex[c & 15];
        }
        return out;
    };
    std::string alert = game + "/commands.php?invokeAlertOneBtnTitle=Prize&invokeAlertOneBtnBody=Claim&invokeAlertOneBtnName=Go"
        + "&invokeAlertOneBtnJS=" + encoded("location.href='" + game + "/cmd.php?setTab2Badge=btn&invokeVibrate=true&stopLoad=true'")
        + "&stopLoad=true";
    auto t = scenario::runInWindow("wait 3\nnavigate " + foreign + "/foreign-frame.php\nwait 2\nnavigate " + game
                                       + "/game-frames.php\nwait 3\nstate\nnavigate " + game + "/own-frames.php\nwait 2\nstate\nnavigate " + game
                                       + "/tofile.php\nwait 2\nnavigate "
                                       + game + "/file-frame.php\nwait 2\nstate\nnavigate " + game + "/bounce.php\nwait 1.5\n"
                                       + "navigate " + foreign + "/via.php\nwait 1.5\nnavigate " + game
                                       + "/toscheme.php?to=foo:bar\nwait 1.5\nnavigate " + alert + "\nwait 1\nnavigate " + foreign
                                       + "/news.php\nwait 1.5\nkey Return\nwait 1.5\nnavigate foo:bar\nwait 1\nnavigate "
                                       + "view-source:" + game + "/news.php\nwait 1\ntap Street\nwait 2\nstate\n",
                                   server.hostPort(), "0.2");
    auto states = t.states();
    ASSERT_EQ(states.size(), 4u) << t.dump();

    // Each foreign way in: its two commands are ignored, named with the host that led there.
    std::multiset<std::string> ignored;
    for (const auto& line : t.events("ignored-command")) {
        EXPECT_EQ(line["host"], "127.0.0.1") << line.dump();
        EXPECT_EQ(line["from"], "localhost") << line.dump();
        ignored.insert(line["command"].get<std::string>());
    }
    std::multiset<std::string> expected{"setTab1Badge", "setTab2Badge", "setTab4Badge", "setTab0Badge", "setTab0Badge",
                                        "setTab2Badge"};
    for (int i = 0; i < 6; ++i)
        expected.insert("invokeVibrate=true");
    EXPECT_EQ(ignored, expected) << t.dump();
    EXPECT_EQ(states[0]["tabBar"]["badges"], json({nullptr, nullptr, nullptr, "own", nullptr})) << t.dump();
    // The game page's own blank, srcdoc and data: frames neither load as refused nor spoil the
    // game's own redirecting frame beside them.
    EXPECT_EQ(states[1]["tabBar"]["badges"], json({"redirect", nullptr, nullptr, "own", nullptr})) << t.dump();
    EXPECT_EQ(states[3]["tabBar"]["badges"], json({"redirect", nullptr, nullptr, "own", nullptr})) << t.dump();
    EXPECT_EQ(t.count("vibrate"), 3u);

    // Frames never stand for the page: every load reported is the main frame's.
    auto urls = [&](const char* ev) {
        std::vector<json> out;
        for (const auto& line : t.events(ev))
            out.push_back(line["url"]);
        return out;
    };
    auto started = urls("load-start");
    ASSERT_GE(started.size(), 1u);
    EXPECT_EQ(started, (std::vector<json>{started[0], foreign + "/foreign-frame.php", game + "/game-frames.php",
                                          game + "/own-frames.php", game + "/tofile.php", game + "/file-frame.php", game + "/bounce.php",
                                          foreign + "/via.php", game + "/toscheme.php?to=foo:bar", foreign + "/news.php",
                                          game + "/missions.php?showMissionsBg=true"}))
        << t.dump();
    EXPECT_EQ(urls("load-finish"), (std::vector<json>{started[0], foreign + "/foreign-frame.php", game + "/game-frames.php",
                                                      game + "/own-frames.php", game + "/file-frame.php", foreign + "/news.php",
                                                      game + "/missions.php?showMissionsBg=true"}));

    // Refused hops end their loads as cancelled, under the last hop let through; the page's own
    // hops and navigations to other schemes reach the bridge first. No alert but the game's own, no
    // ended page process.
    EXPECT_EQ(urls("scheme-refused"),
              (std::vector<json>{"file:///etc/passwd", "foo:bar", "foo:bar", "view-source:" + game + "/news.php"}))
        << t.dump();
    EXPECT_EQ(urls("load-fail"), (std::vector<json>{game + "/tofile.php", game + "/bounce.php", game + "/bounce.php",
                                                    game + "/toscheme.php?to=foo:bar"}))
        << t.dump();
    for (const auto& line : t.events("load-fail"))
        EXPECT_EQ(line["code"], -999) << line.dump();
    ASSERT_EQ(t.count("alert"), 1u) << t.dump();
    EXPECT_EQ((*t.first("alert"))["title"], "Prize");
    EXPECT_EQ(t.count("alert-press"), 1u) << t.dump();
    EXPECT_EQ(states[3]["tabBar"]["selected"], 1);
}

} // namespace

namespace {

using nlohmann::json;

// The web processes the client has started (WebKit's, inside the sandbox's bwrap).
std::vector<pid_t> webProcesses(pid_t client)
{
    std::vector<pid_t> found;
    for (pid_t pid : scenario::processTree(client))
        if (scenario::programOf(pid).ends_with("/WebKitWebProcess"))
            found.push_back(pid);
    return found;
}

// The page's process dies (a crash: SIGABRT, or SIGKILL as the kernel's memory killer sends; an
// outside SIGSEGV is no crash, for JavaScriptCore takes it) while a
// load is in flight, while a page is shown, and while a game alert waits whose button script
// navigates: the load in flight fails with -3900 and its alert; a shown page's end is told the
// same way, never left blank without a word; and the next load (a tab, the alert's script) gets
// a fresh process and shows.
TEST(DesktopHostilePages, AnEndedPageProcessFailsItsLoadAndTheNextLoadGetsAFreshOne)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    scenario::DemoServer server({"/usr/bin/python3", STREET_TESTS_DIR "/tools/hostile_server.py"}, {"--log"});
    ASSERT_TRUE(server.started());
    std::string base = server.baseURL();
    std::string alert = base + "/commands.php?invokeAlertOneBtnTitle=Prize&invokeAlertOneBtnBody=Claim&invokeAlertOneBtnName=Go"
        "&invokeAlertOneBtnJS=location.href%3D'" + base + "/cmd.php%3FsetTab2Badge%3Dbtn'";
    struct Case {
        const char* name;
        std::string page;
        int signal;
        std::string next;      // the script's step after the end
        std::string nextURL;   // what it loads
        bool failed;           // the end is told as a failed load
    } cases[] = {
        {"loading, SIGABRT", base + "/never.php", SIGABRT, "press OK\ntap Street", "/missions.php", true},
        {"loading, SIGKILL", base + "/never.php", SIGKILL, "press OK\ntap Street", "/missions.php", true},
        {"shown, SIGABRT", base + "/size.php", SIGABRT, "press OK\ntap Street", "/missions.php", true},
        {"alert, SIGKILL", alert, SIGKILL, "press OK\npress Go", "/cmd.php?setTab2Badge=btn", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<pid_t> killed, after;
        // A second after the page was asked for; the next step comes 3 s after that.
        std::string asked = "GET " + c.page.substr(base.size(), c.page.find('?') - base.size());
        std::optional<std::chrono::steady_clock::time_point> seen;
        size_t logged = server.requestLog().size();
        scenario::ScenarioOptions options;
        options.desktop = true;
        options.timeoutSeconds = 60;
        options.whileRunning = [&](pid_t client) {
            auto log = server.requestLog();
            for (size_t i = logged; i < log.size() && !seen; ++i)
                if (log[i].starts_with(asked))
                    seen = std::chrono::steady_clock::now();
            double seconds = seen ? std::chrono::duration<double>(std::chrono::steady_clock::now() - *seen).count() : -1;
            if (killed.empty() && seconds > 1) {
                killed = webProcesses(client);
                for (pid_t pid : killed)
                    ::kill(pid, c.signal);
            } else if (seconds > 5 && after.empty()) {
                after = webProcesses(client);
            }
        };
        auto t = scenario::runScenario("wait 3.5\nnavigate " + c.page + "\nwait 4\nstate\n" + c.next + "\nwait 2.5\nstate\n",
                                       {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record", "--server",
                                        server.hostPort()},
                                       options);
        ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();
        auto states = t.states();
        ASSERT_EQ(states.size(), 2u) << t.dump();
        ASSERT_FALSE(killed.empty()) << "no web process was seen";

        std::vector<json> failures;
        for (const auto& line : t.events("load-fail"))
            if (line["code"] != -999)
                failures.push_back(line["code"]);
        if (c.failed) {
            EXPECT_EQ(failures, std::vector<json>{-3900}) << t.dump();
            // Over the game's own alert, if one waits.
            const json& alerts = states[0]["alerts"];
            ASSERT_FALSE(alerts.empty()) << t.dump();
            EXPECT_EQ(alerts.back()["title"], "Unknown Error");
            EXPECT_NE(alerts.back()["message"].get<std::string>().find("The page stopped responding."), std::string::npos)
                << alerts.back().dump();
        } else {
            EXPECT_EQ(failures, std::vector<json>{}) << t.dump();
        }
        const json* shown = t.last("load-finish");
        ASSERT_TRUE(shown) << t.dump();
        EXPECT_EQ((*shown)["url"], base + c.nextURL + (c.nextURL == "/missions.php" ? "?showMissionsBg=true" : ""))
            << t.dump();
        EXPECT_EQ(states[1]["webView"]["url"], (*shown)["url"]);
        EXPECT_TRUE(states[1]["alerts"].empty()) << t.dump();
        if (c.nextURL.find("setTab2Badge") != std::string::npos) {
            EXPECT_EQ(states[1]["tabBar"]["badges"][2], "btn") << "the script ran as the game page's";
        }
        ASSERT_FALSE(after.empty()) << "a fresh web process";
        for (pid_t pid : after)
            EXPECT_EQ(std::count(killed.begin(), killed.end(), pid), 0) << pid;
    }
}

} // namespace
