// The Recruit screen through the client binary: a page opens it, the script plays the player,
// the invite goes to the demo game server over loopback.

#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using nlohmann::json;
using scenario::Transcript;

const std::string kUdid = "recruit-scenario-udid";
const std::string kOpen = "navigate http://127.0.0.1/bank.php?showABRecruit=true\n";
const std::string kContacts = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\nTEL;TYPE=HOME:111\r\n"
                              "TEL;TYPE=CELL:555\r\nEMAIL:ann@x.test\r\nEND:VCARD\r\n"
                              "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;bob;;;\r\nFN:bob\r\nEND:VCARD\r\n"
                              "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Zola;Émile;;;\r\nFN:Émile Zola\r\nEND:VCARD\r\n"
                              "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Carr\\, Jo;;;;\r\nFN:Jo Carr\r\nEMAIL:jo@x.test\r\nEND:VCARD\r\n"
                              "BEGIN:VCARD\r\nVERSION:3.0\r\nN:#7;Zed;;;\r\nFN:Zed\r\nTEL:9#1\r\nEND:VCARD\r\n";

std::string body(const std::string& data, const std::string& name)
{
    std::string b;
    for (const auto& [field, value] : std::vector<std::pair<std::string, std::string>>{
             {"fromUdid", kUdid}, {"data", data}, {"fromName", name}})
        b += "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"" + field + "\"\r\n\r\n" + value + "\r\n";
    return b + "--0xKhTmLbOuNdArY--\r\n";
}

class RecruitScenario : public ::testing::Test {
protected:
    Transcript run(const std::string& script, const std::string& server)
    {
        scenario::writeFile(dir_.path() + "/contacts.vcf", kContacts);
        Transcript t = scenario::runScenario("movie finished\nwait 3\n" + script,
            {"--server", server, "--udid", kUdid, "--contacts", dir_.path() + "/contacts.vcf", "--trusted-host", "127.0.0.1"});
        EXPECT_EQ(t.exitCode, 0) << t.dump();
        EXPECT_TRUE(t.malformedLines.empty()) << t.dump();
        return t;
    }

    // (title, message, tag) of every alert shown, in order.
    static std::vector<std::tuple<std::string, std::string, int>> alerts(const Transcript& t)
    {
        std::vector<std::tuple<std::string, std::string, int>> found;
        for (const auto& a : t.events("alert"))
            found.emplace_back(a["title"].get<std::string>(), a["message"].get<std::string>(), a["tag"].get<int>());
        return found;
    }

    scenario::TempDir dir_ {"street-recruit-scenario"};
};

TEST_F(RecruitScenario, AskTheNameTickContactsSendAndGoBack)
{
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    Transcript t = run(kOpen
            + "row 0 0\n"        // the permission alert covers the table
              "press Continue\n"
              "type Jo Racer\n"
              "press Done\n"
              "row 25 0\n"
              "row 1 0\n"
              "row 1 0\n"        // bob unticked again
              "row 2 0\n"
              "state\n"
              "toolbar Send Invites\n"
              "press OK\n"
              "toolbar Back\n"
              "state\n",
        server.hostPort());

    ASSERT_EQ(t.count("ignored"), 1u) << t.dump();
    EXPECT_EQ((*t.first("ignored"))["command"], "row 0 0");
    ASSERT_TRUE(t.first("contacts"));
    EXPECT_EQ((*t.first("contacts"))["count"], 4); // Émile is left out

    auto states = t.states();
    ASSERT_EQ(states.size(), 2u);
    const json& open = states[0]["recruit"];
    json titles = json::array();
    for (int k = 0; k < 26; ++k)
        titles.push_back(std::string(k <= 2 || k == 25 ? 1 : 0, static_cast<char>('A' + k)));
    EXPECT_EQ(open["titles"], titles);
    EXPECT_EQ(open["rows"][0], json::parse(R"([{"name":"Ann Lee","ticked":false}])"));
    EXPECT_EQ(open["rows"][1], json::parse(R"([{"name":"bob ","ticked":false}])"));
    EXPECT_EQ(open["rows"][2], json::parse(R"([{"name":"Carr, Jo","ticked":true}])"));
    EXPECT_EQ(open["rows"][25], json::parse(R"([{"name":"Zed ","ticked":true}])"));
    EXPECT_EQ(open["nameLabel"], "Jo Racer");

    ASSERT_EQ(t.count("post"), 1u);
    const json& post = *t.first("post");
    EXPECT_EQ(post["url"], server.baseURL() + "/postback/invite_postback.php");
    EXPECT_EQ(post["content_type"], "multipart/form-data; boundary=0xKhTmLbOuNdArY");
    // Table order; the comma name is emptied; "#" cuts the name and the number.
    EXPECT_EQ(post["body"], body(",,jo@x.test,Zed ,9,,", "Jo Racer"));

    auto shown = alerts(t);
    ASSERT_EQ(shown.size(), 3u) << t.dump();
    EXPECT_EQ(std::get<2>(shown[0]), 990);
    EXPECT_EQ(std::get<2>(shown[1]), 992);
    // The scripted engine fetches no pages, so no entry request started a session.
    EXPECT_EQ(std::get<0>(shown[2]), "Fail");
    EXPECT_EQ(std::get<1>(shown[2]), "Your session has expired. Please restart the game and try again.");
    EXPECT_EQ(std::get<2>(shown[2]), 0);

    EXPECT_EQ(t.count("dismiss"), 1u);
    EXPECT_EQ(states[1]["modal"], nullptr);
    EXPECT_EQ(states[1]["recruit"], nullptr);
    EXPECT_EQ(states[1]["tabBar"]["selected"], nullptr);
    EXPECT_EQ(states[1]["settings"]["nameString"], "Jo Racer");
}

TEST_F(RecruitScenario, EachOpeningAsksAgainAndStartsWithoutTicks)
{
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    Transcript t = run(kOpen + "press Continue\npress Done\nrow 0 0\ntoolbar Back\n" + kOpen
                           + "state\npress Continue\nstate\ntoolbar Send Invites\nstate\npress Cancel\n"
                             "press OK\ntoolbar Back\n"
                           + kOpen + "press Cancel\nstate\n",
        server.hostPort());
    auto states = t.states();
    ASSERT_EQ(states.size(), 4u);
    // Asked again, list not yet read.
    EXPECT_EQ(states[0]["recruit"]["rows"], json::array());
    EXPECT_EQ(states[0]["alerts"].back()["tag"], 990);
    // The empty name counts as saved: no prompt; no ticks carried over.
    EXPECT_EQ(states[1]["alerts"], json::array());
    EXPECT_EQ(states[1]["recruit"]["nameLabel"], "");
    EXPECT_EQ(states[1]["recruit"]["rows"][0][0]["ticked"], false);
    EXPECT_EQ(states[2]["alerts"].back()["message"], "You have not selected any friends to invite.");
    EXPECT_EQ(t.count("post"), 0u);
    // "press Cancel" on a one-button alert is not a button it has.
    EXPECT_EQ(t.count("ignored"), 1u) << t.dump();
    // Cancel closes without reading the book.
    EXPECT_EQ(t.count("contacts"), 2u);
    EXPECT_EQ(states[3]["modal"], nullptr);
    EXPECT_EQ(states[3]["tabBar"]["selected"], nullptr);
}

TEST_F(RecruitScenario, AServerThatCannotBeReachedGetsTheCouldNotSendAlert)
{
    int port = scenario::closedLoopbackPort();
    Transcript t = run(kOpen + "press Continue\ntype Me\npress Done\nrow 1 0\ntoolbar Send Invites\nstate\n",
        "127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(t.count("post"), 1u);
    auto states = t.states();
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0]["alerts"].back()["title"], "Fail");
    EXPECT_EQ(states[0]["alerts"].back()["message"], "Invites could not be sent at this time.  Please try again later.");
    EXPECT_EQ(states[0]["modal"], "RecruitABContainer");
}

} // namespace
