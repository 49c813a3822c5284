// The client fetching real pages from the demo game server over loopback, on the real clock.
// The movie is cut to 0.2 s so that the first page is up about 3.2 s after launch.

#include "support/Reference.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using nlohmann::json;
using scenario::Transcript;

const std::string kUdid = "http-test-udid-0001";
const std::string kNoConnection = "Unable to Reach Internet";
const std::string kNoConnectionMessage = "You must have access to the Internet in order to use this application.";

Transcript run(const std::string& script, const std::string& server)
{
    scenario::ScenarioOptions options;
    options.timeoutSeconds = 30;
    Transcript t = scenario::runScenario(script, {"--clock", "real", "--engine", "http", "--server", server, "--movie-seconds", "0.2",
                                                  "--udid", kUdid, "--model", "Linux PC", "--system-version", "12"}, options);
    EXPECT_EQ(t.exitCode, 0) << t.dump();
    EXPECT_TRUE(t.malformedLines.empty()) << t.dump();
    return t;
}

std::string entryURL(const std::string& server, const std::string& pf = scenario::referenceMd5Upper(kUdid + ":BrightPlume27k:45"))
{
    return "http://" + server + "/points.php?version=1.53&udid=" + kUdid + "&pf=" + pf + "&fpts=45&model=Linux%20PC&sv=12";
}

bool logged(const scenario::DemoServer& server, const std::string& url, int status)
{
    auto log = server.requestLog();
    return std::find(log.begin(), log.end(), "GET " + url.substr(server.baseURL().size()) + " " + std::to_string(status)) != log.end();
}

// Signed entry, redirect to home and its tab bar; then a refused signature, which still finishes
// as a load; then transfer faults, which raise the failure alerts and leave the page on screen.
TEST(HttpScenario, PagesFromTheServerAndTheFaultsOfRealTransfers)
{
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    const std::string home = server.baseURL() + "/home.php?showHomeBg=true", bad = entryURL(server.hostPort(), std::string(32, '0'));
    const std::string gone = "http://127.0.0.1:" + std::to_string(scenario::closedLoopbackPort()) + "/missions.php";
    Transcript t = run("wait 4\nstate\nnavigate " + bad + "\nwait 1\nstate\nnavigate " + server.baseURL() + "/drop.php\nwait 1.5\npress OK\n"
                       "navigate " + gone + "\nwait 1.5\npress OK\nnavigate http://127.0.0.1:99999/cars.php\nwait 1.5\nstate\n",
                       server.hostPort());

    // The redirect hop passes the bridge like any load; the server saw the signed request.
    std::vector<json> decided;
    for (const auto& line : t.events("decide"))
        decided.push_back({line["url"], line["allow"]});
    ASSERT_GE(decided.size(), 3u) << t.dump();
    EXPECT_EQ(std::vector<json>(decided.begin(), decided.begin() + 3),
              (std::vector<json>{{entryURL(server.hostPort()), true}, {home, true}, {bad, true}})) << "no redirect after a refused signature";
    EXPECT_TRUE(logged(server, entryURL(server.hostPort()), 302));
    EXPECT_TRUE(logged(server, bad, 403));
    auto finishes = t.events("load-finish");
    ASSERT_EQ(finishes.size(), 2u) << t.dump();
    EXPECT_EQ(finishes[0]["url"], home);
    EXPECT_EQ(finishes[1]["url"], bad);

    auto states = t.states();
    ASSERT_EQ(states.size(), 3u) << t.dump();
    // The web view is on the page the redirect led to, shown with its tab bar.
    EXPECT_EQ(states[0]["webView"]["url"], home);
    EXPECT_EQ(states[0]["webView"]["alpha"], 1.0);
    EXPECT_EQ(states[0]["tabBar"]["selected"], 0);
    EXPECT_FALSE(states[0]["tabBar"]["hidden"].get<bool>() || states[0]["webView"]["hidden"].get<bool>() || states[0]["page"]["loading"].get<bool>());
    EXPECT_TRUE(states[0]["page"]["started"].get<bool>());
    EXPECT_EQ(states[1]["webView"]["url"], bad);
    EXPECT_TRUE(states[1]["tabBar"]["hidden"].get<bool>()) << "points.php hides the tab bar";

    // A dropped connection and a vanished server: no connection; a URL the engine cannot use:
    // the engine's own words.
    auto fails = t.events("load-fail");
    ASSERT_EQ(fails.size(), 3u) << t.dump();
    EXPECT_EQ(fails[0]["code"], -1005);
    EXPECT_EQ(fails[1]["code"], -1004);
    for (int known : {-999, -1001, -1003, -1004, -1005, -1009})
        EXPECT_NE(fails[2]["code"], known);
    std::string description = fails[2]["description"];
    EXPECT_FALSE(description.empty());
    std::vector<json> alerts;
    for (const auto& a : t.events("alert"))
        alerts.push_back({a["title"], a["message"], a["buttons"]});
    EXPECT_EQ(alerts, (std::vector<json>{{kNoConnection, kNoConnectionMessage, {"OK"}}, {kNoConnection, kNoConnectionMessage, {"OK"}},
                                         {"Unknown Error", "Unknown error occurred (" + description + ").  Please close the application and try again.",
                                          {"OK"}}}));
    EXPECT_FALSE(states[2]["webView"]["hidden"].get<bool>());
    EXPECT_EQ(states[2]["webView"]["alpha"], 1.0);
}

TEST(HttpScenario, ServerNotRunningRaisesTheNoConnectionAlertAfterTheIntro)
{
    std::string server = "127.0.0.1:" + std::to_string(scenario::closedLoopbackPort());
    Transcript t = run("wait 1\nstate\n", server);
    auto failures = t.events("load-fail");
    ASSERT_EQ(failures.size(), 1u) << t.dump();
    EXPECT_EQ(failures[0]["url"], entryURL(server));
    EXPECT_EQ(failures[0]["code"], -1004);
    auto alerts = t.events("alert");
    ASSERT_EQ(alerts.size(), 1u) << t.dump();
    EXPECT_EQ(alerts[0]["title"], kNoConnection);
    // Not before the failure nor before the end of the 0.2 s movie.
    EXPECT_GE(alerts[0]["t"].get<double>(), std::max(failures[0]["t"].get<double>(), 0.19));
    json s = t.states().at(0);
    EXPECT_TRUE(s["page"]["isUnableToReachInternet"].get<bool>());
    EXPECT_FALSE(s["page"]["unableToReachInternetDeferred"].get<bool>());
    EXPECT_TRUE(s["webView"]["hidden"].get<bool>()) << "only a finished load shows the web view";
    EXPECT_FALSE(s["indicator"]["animating"].get<bool>());
}

} // namespace
