// A game server over https, headless: every request of the game travels over TLS with its
// certificate checked (against the system's authorities and those of --ca-file only), each kind
// of certificate problem fails the load with its own code and one alert, and the invite post
// follows redirects only within the game server's origin.

#include "support/Certificates.h"
#include "support/Scenario.h"

#include "app/Util.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;
using scenario::Transcript;

const std::string kUnknownError = "Unknown error occurred.  Please try again later.";

// The Recruit screen opened from the game server's page, one contact ticked and sent.
std::string inviteScript(const std::string& baseURL)
{
    return scenario::openRecruitScript(baseURL, "0.5") + "toolbar Send Invites\nstate\n";
}

class SecureServer : public ::testing::Test {
protected:
    void SetUp() override { scenario::writeFile(dir_.path() + "/contacts.vcf", scenario::kOneContact); }

    // The client headless, fetching its pages, against `server`.
    Transcript run(const std::string& script, const std::string& server, const std::vector<std::string>& more = {})
    {
        std::vector<std::string> args{"--clock", "real", "--engine", "http", "--server", server, "--movie-seconds", "0.2",
                                      "--udid", "tls-udid", "--contacts", dir_.path() + "/contacts.vcf"};
        args.insert(args.end(), more.begin(), more.end());
        scenario::ScenarioOptions options;
        options.timeoutSeconds = 40;
        return scenario::runScenario(script, args, options);
    }

    scenario::TempDir dir_{"street-secure"};
    scenario::TestAuthority authority_;
};

TEST_F(SecureServer, EveryRequestOfTheGameTravelsOverTlsAndTheSameOriginRedirectOfThePostIsRepeated)
{
    scenario::TlsDemoServer tls(authority_, {"--invite-redirect", "307", "/postback/invite_postback.php?repeated=1"});
    ASSERT_TRUE(tls.server.started());
    std::string base = tls.baseURL();
    auto t = run("wait 4\ntap Street\nwait 1\n" + inviteScript(base), tls.serverArgument(),
                 {"--ca-file", authority_.certificateFile()});
    ASSERT_EQ(t.exitCode, 0) << t.dump();

    // The entry request, its redirect, the tab and the post: all https, all to the game server.
    std::vector<std::string> urls;
    for (const char* ev : {"decide", "load-start", "load-finish", "post"})
        for (const auto& line : t.events(ev))
            urls.push_back(line["url"]);
    ASSERT_GE(urls.size(), 7u) << t.dump();
    for (const auto& url : urls)
        EXPECT_TRUE(url.starts_with(base + "/")) << url;
    EXPECT_EQ(t.count("load-fail"), 0u) << t.dump();
    EXPECT_EQ((*t.first("post"))["url"], base + "/postback/invite_postback.php");
    ASSERT_NE(t.last("alert"), nullptr) << t.dump();
    EXPECT_EQ((*t.last("alert"))["title"], "Invites Sent") << t.dump();

    // The session cookie went with the tab and the post; the post was repeated after the 307.
    std::string player = "Racer " + street::Util::md5("tls-udid:BrightPlume27k:45").substr(0, 4);
    EXPECT_EQ(tls.server.requestsStartingWith("page "), (std::vector<std::string>{"page home.php: " + player, "page missions.php: " + player}));
    EXPECT_EQ(tls.server.requestsStartingWith("invite"), (std::vector<std::string>{"invite redirected to /postback/invite_postback.php?repeated=1",
                                                                      "invite: 1 invitation(s) from udid tls-udid"}));
    EXPECT_EQ(tls.server.requestsStartingWith("POST "), (std::vector<std::string>{"POST /postback/invite_postback.php 307",
                                                                     "POST /postback/invite_postback.php?repeated=1 200"}));

    // Without the authority's file the very first load fails as untrusted, with one alert, and
    // nothing reaches the server.
    size_t served = tls.server.requestLog().size();
    auto refused = run("wait 1\nstate\n", tls.serverArgument());
    ASSERT_EQ(refused.exitCode, 0) << refused.dump();
    ASSERT_EQ(refused.count("load-fail"), 1u) << refused.dump();
    const json& failed = *refused.first("load-fail");
    EXPECT_EQ(failed["code"], -1202);
    EXPECT_TRUE(failed["url"].get<std::string>().starts_with(base + "/points.php?")) << failed;
    ASSERT_EQ(refused.count("alert"), 1u) << refused.dump();
    EXPECT_EQ((*refused.first("alert"))["title"], "Unknown Error");
    EXPECT_NE((*refused.first("alert"))["message"].get<std::string>().find(failed["description"].get<std::string>()),
              std::string::npos);
    EXPECT_EQ(tls.server.requestLog().size(), served);
}

// Each problem has its code, the same in the window; nothing is trusted but the system's
// authorities and the file's.
TEST_F(SecureServer, EachCertificateProblemFailsTheFirstLoadWithItsCode)
{
    scenario::TestAuthority stranger("Somebody Else's Authority");
    scenario::DemoServer plain;
    ASSERT_TRUE(plain.started());
    struct Case {
        const char* what;
        std::unique_ptr<scenario::TlsDemoServer> server;  // null: the plain server, asked for https
        int code;
        const char* says;
    };
    const long day = 86400;
    Case cases[] = {
        {"an unknown authority", std::make_unique<scenario::TlsDemoServer>(stranger), -1202, "is invalid"},
        {"another host", std::make_unique<scenario::TlsDemoServer>(authority_, std::vector<std::string>{},
                                                                   std::vector<std::string>{"elsewhere.example"}),
         -1202, "is invalid"},
        {"expired", std::make_unique<scenario::TlsDemoServer>(authority_, std::vector<std::string>{},
                                                              std::vector<std::string>{"127.0.0.1"}, -2 * day, -day),
         -1201, "has expired"},
        {"not yet valid", std::make_unique<scenario::TlsDemoServer>(authority_, std::vector<std::string>{},
                                                                    std::vector<std::string>{"127.0.0.1"}, day, 2 * day),
         -1204, "is not yet valid"},
        {"no TLS at all", nullptr, -1200, "An SSL error has occurred"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string server = c.server ? c.server->serverArgument() : "https://" + plain.hostPort();
        auto t = run("wait 1\nstate\n", server, {"--ca-file", authority_.certificateFile()});
        ASSERT_EQ(t.exitCode, 0) << t.dump();
        ASSERT_EQ(t.count("load-fail"), 1u) << t.dump();
        const json& failed = *t.first("load-fail");
        EXPECT_EQ(failed["code"], c.code) << failed;
        std::string description = failed["description"];
        EXPECT_NE(description.find(c.says), std::string::npos) << description;
        if (c.code != -1200) {
            EXPECT_NE(description.find("pretending to be \u201c127.0.0.1\u201d"), std::string::npos) << description;
        }
        ASSERT_EQ(t.count("alert"), 1u) << t.dump();
        EXPECT_EQ((*t.first("alert"))["message"], "Unknown error occurred (" + description + ").  Please close the application and try again.");
    }
}

// A redirect of the post is followed only to the game server's own origin: anywhere else gets
// nothing, and the reply counts as unreadable.
TEST_F(SecureServer, TheInvitePostNeverFollowsARedirectToAnotherOrigin)
{
    scenario::TlsDemoServer elsewhere(authority_);
    ASSERT_TRUE(elsewhere.server.started());
    const std::string invite = "/postback/invite_postback.php";
    struct Case {
        std::string target;  // "SELF" stands for the game server's own host and port
        std::string message; // of the alert that follows
    } cases[] = {
        {"https://localhost:" + std::to_string(elsewhere.server.port()) + invite, kUnknownError},
        {elsewhere.baseURL() + invite, kUnknownError},
        {"http://SELF" + invite + "?repeated=1", kUnknownError},  // down to http on the same host and port
        {"https://SELF" + invite + "?repeated=1", "Your session has expired. Please restart the game and try again."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        // A server that redirects to itself must know its port before it listens.
        std::string port = std::to_string(scenario::closedLoopbackPort());
        std::string target = c.target;
        if (auto self = target.find("SELF"); self != std::string::npos)
            target.replace(self, 4, "127.0.0.1:" + port);
        scenario::TlsDemoServer game(authority_, {"--port", port, "--invite-redirect", "307", target});
        ASSERT_TRUE(game.server.started());
        // Pages are played by the script: the post is the only request.
        scenario::ScenarioOptions options;
        auto t = scenario::runScenario(inviteScript(game.baseURL()),
                                       {"--server", game.serverArgument(), "--ca-file", authority_.certificateFile(),
                                        "--contacts", dir_.path() + "/contacts.vcf"},
                                       options);
        ASSERT_EQ(t.exitCode, 0) << t.dump();
        ASSERT_NE(t.last("alert"), nullptr) << t.dump();
        EXPECT_EQ((*t.last("alert"))["title"], "Fail");
        EXPECT_EQ((*t.last("alert"))["message"], c.message);
        std::vector<std::string> posts{"POST " + invite + " 307"};
        if (c.message != kUnknownError)
            posts.push_back("POST " + invite + "?repeated=1 200");
        EXPECT_EQ(game.server.requestsStartingWith("POST " + invite), posts);
    }
    EXPECT_TRUE(elsewhere.server.requestLog().empty()) << elsewhere.server.requestLog().front();
}

} // namespace
