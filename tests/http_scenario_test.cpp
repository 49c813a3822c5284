// The client fetching real pages from the demo game server over loopback, on the real clock.
// The movie is cut to 0.2 s so that the first page is up about 3.2 s after launch.

#include "support/Reference.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using scenario::Transcript;

const std::string kUdid = "http-test-udid-0001";

using scenario::referenceMd5Upper;

std::vector<std::string> httpArgs(const std::string& server)
{
    return {"--clock", "real", "--engine", "http", "--server", server, "--movie-seconds", "0.2",
            "--udid", kUdid, "--model", "Linux PC", "--system-version", "12"};
}

Transcript run(const std::string& script, const std::string& server)
{
    scenario::ScenarioOptions options;
    options.timeoutSeconds = 30;
    Transcript t = scenario::runScenario(script, httpArgs(server), options);
    EXPECT_EQ(t.exitCode, 0) << t.dump();
    EXPECT_TRUE(t.malformedLines.empty()) << t.dump();
    return t;
}

std::string entryURL(const std::string& server)
{
    return "http://" + server + "/points.php?version=1.53&udid=" + kUdid + "&pf=" + referenceMd5Upper(kUdid + ":BrightPlume27k:45")
        + "&fpts=45&model=Linux%20PC&sv=12";
}

} // namespace

TEST(HttpScenario, EntryRequestIsAcceptedAndRedirectedToTheHomePage)
{
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    Transcript t = run("wait 4\nstate\n", server.hostPort());
    std::string home = server.baseURL() + "/home.php?showHomeBg=true";

    auto decides = t.events("decide");
    ASSERT_GE(decides.size(), 2u) << t.dump();
    EXPECT_EQ(decides[0].value("url", ""), entryURL(server.hostPort()));
    EXPECT_TRUE(decides[0].value("allow", false));
    // The redirect hop passes the bridge like any load.
    EXPECT_EQ(decides[1].value("url", ""), home);
    EXPECT_TRUE(decides[1].value("allow", false));
    EXPECT_EQ(decides.size(), 2u) << t.dump();

    auto finishes = t.events("load-finish");
    ASSERT_EQ(finishes.size(), 1u) << t.dump();
    EXPECT_EQ(finishes[0].value("url", ""), home);
    EXPECT_EQ(t.count("load-fail"), 0u) << t.dump();
    EXPECT_EQ(t.count("alert"), 0u) << t.dump();

    // The server saw the signed entry request and answered it with the redirect.
    auto log = server.requestLog();
    std::string entryTarget = entryURL(server.hostPort()).substr(server.baseURL().size());
    EXPECT_NE(std::find(log.begin(), log.end(), "GET " + entryTarget + " 302"), log.end()) << t.dump();

    // The home page has been shown with its tab bar (intro over at ~0.2 s, page up at ~3.2 s).
    ASSERT_EQ(t.states().size(), 1u);
    json s = t.states()[0];
    EXPECT_EQ(s["webView"]["url"], home) << "the web view is on the page the redirect led to";
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_EQ(s["webView"]["alpha"], 1.0);
    EXPECT_FALSE(s["tabBar"]["hidden"].get<bool>());
    EXPECT_EQ(s["tabBar"]["selected"], 0);
    EXPECT_TRUE(s["page"]["started"].get<bool>());
    EXPECT_FALSE(s["page"]["loading"].get<bool>());
}

TEST(HttpScenario, RefusedSignatureStillFinishesAsALoad)
{
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    std::string bad = server.baseURL() + "/points.php?version=1.53&udid=" + kUdid
        + "&pf=00000000000000000000000000000000&fpts=45&model=Linux%20PC&sv=12";
    Transcript t = run("wait 3.5\nnavigate " + bad + "\nwait 1\nstate\n", server.hostPort());

    const json* last = t.last("load-finish");
    ASSERT_NE(last, nullptr) << t.dump();
    EXPECT_EQ(last->value("url", ""), bad) << t.dump();
    EXPECT_EQ(t.count("load-fail"), 0u) << t.dump();
    EXPECT_EQ(t.count("alert"), 0u) << t.dump();
    EXPECT_EQ(t.last("decide")->value("url", ""), bad) << "no redirect after a refused signature";

    auto log = server.requestLog();
    std::string target = bad.substr(server.baseURL().size());
    EXPECT_NE(std::find(log.begin(), log.end(), "GET " + target + " 403"), log.end());

    ASSERT_EQ(t.states().size(), 1u);
    EXPECT_EQ(t.states()[0]["webView"]["url"], bad);
    EXPECT_TRUE(t.states()[0]["tabBar"]["hidden"].get<bool>()) << "points.php hides the tab bar";
}

TEST(HttpScenario, ServerNotRunningRaisesTheNoConnectionAlertAfterTheIntro)
{
    std::string server = "127.0.0.1:" + std::to_string(scenario::closedLoopbackPort());
    Transcript t = run("wait 1\nstate\n", server);

    auto failures = t.events("load-fail");
    ASSERT_EQ(failures.size(), 1u) << t.dump();
    EXPECT_EQ(failures[0].value("url", ""), entryURL(server));
    EXPECT_EQ(failures[0]["code"], -1004);

    auto alerts = t.events("alert");
    ASSERT_EQ(alerts.size(), 1u) << t.dump();
    EXPECT_EQ(alerts[0].value("title", ""), "Unable to Reach Internet");
    EXPECT_EQ(alerts[0].value("message", ""), "You must have access to the Internet in order to use this application.");
    EXPECT_EQ(alerts[0]["buttons"], json::array({"OK"}));
    EXPECT_GE(alerts[0]["t"].get<double>(), failures[0]["t"].get<double>());
    // Not before the intro is over (the 0.2 s movie, or later if the failure came later).
    EXPECT_GE(alerts[0]["t"].get<double>(), 0.19);

    ASSERT_EQ(t.states().size(), 1u);
    json s = t.states()[0];
    EXPECT_TRUE(s["page"]["isUnableToReachInternet"].get<bool>());
    EXPECT_FALSE(s["page"]["unableToReachInternetDeferred"].get<bool>());
    EXPECT_TRUE(s["webView"]["hidden"].get<bool>()) << "only a finished load shows the web view";
    EXPECT_FALSE(s["indicator"]["animating"].get<bool>());
}

// After the first page, network faults of real transfers reach the player as the two failure
// alerts: a dropped connection and a server that has gone away as "Unable to Reach Internet",
// a URL the engine cannot use as "Unknown Error" with the engine's own description.
TEST(HttpScenario, TransferFaultsAfterTheFirstPageRaiseTheFailureAlerts)
{
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    std::string gone = "http://127.0.0.1:" + std::to_string(scenario::closedLoopbackPort()) + "/missions.php";
    Transcript t = run("wait 4\n"
                       "navigate " + server.baseURL() + "/drop.php\nwait 1.5\npress OK\n"
                       "navigate " + gone + "\nwait 1.5\npress OK\n"
                       "navigate http://127.0.0.1:99999/cars.php\nwait 1.5\nstate\n",
                       server.hostPort());

    auto fails = t.events("load-fail");
    ASSERT_EQ(fails.size(), 3u) << t.dump();
    EXPECT_EQ(fails[0]["code"], -1005) << t.dump();
    EXPECT_EQ(fails[1]["code"], -1004) << t.dump();
    int unknownCode = fails[2]["code"].get<int>();
    std::string description = fails[2]["description"].get<std::string>();
    for (int known : {-999, -1001, -1003, -1004, -1005, -1009})
        EXPECT_NE(unknownCode, known);
    EXPECT_FALSE(description.empty());

    auto alerts = t.events("alert");
    ASSERT_EQ(alerts.size(), 3u) << t.dump();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(alerts[i]["title"], "Unable to Reach Internet");
        EXPECT_EQ(alerts[i]["message"], "You must have access to the Internet in order to use this application.");
        EXPECT_EQ(alerts[i]["buttons"], json::array({"OK"}));
    }
    EXPECT_EQ(alerts[2]["title"], "Unknown Error");
    EXPECT_EQ(alerts[2]["message"],
              "Unknown error occurred (" + description + ").  Please close the application and try again.");
    // A failed load leaves the page that was shown on screen.
    ASSERT_EQ(t.states().size(), 1u);
    EXPECT_FALSE(t.states()[0]["webView"]["hidden"].get<bool>());
    EXPECT_EQ(t.states()[0]["webView"]["alpha"], 1.0);
}
