// The Recruit screen through the client binary: a page opens it, the script plays the player,
// the address book is a vCard file and the invite goes to the demo game server over loopback.

#include "support/Timeline.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using nlohmann::json;
using scenario::Transcript;
using timeline::fieldOf;

const std::string kNoFriends = "You have not selected any friends to invite.";
const std::string kCouldNotSend = "Invites could not be sent at this time.  Please try again later.";
const std::string kInfo = "A Racer cannot dominate the streets without building up a large crew.  Expand your circle and own the roads "
                          "by recruiting other iPhone or iPod Touch users to join your crew.  Once they accept your invitation they'll "
                          "become a member of your crew and you'll become part of theirs.  Get your friends to join you and see how "
                          "fast you'll be owning the streets!";

std::string vcard(const std::vector<std::string>& cards)
{
    std::string text;
    for (const auto& lines : cards)
        text += "BEGIN:VCARD\r\nVERSION:3.0\r\n" + lines + "END:VCARD\r\n";
    return text;
}

const std::string kContacts = vcard({"N:Lee;Ann;;;\r\nFN:Ann Lee\r\nTEL;TYPE=HOME:111\r\nTEL;TYPE=CELL:555\r\nEMAIL:ann@x.test\r\n",
                                     "N:;bob;;;\r\nFN:bob\r\n", "N:Zola;Émile;;;\r\nFN:Émile Zola\r\n",
                                     "N:Carr\\, Jo;;;;\r\nFN:Jo Carr\r\nEMAIL:jo@x.test\r\n", "N:#7;Zed;;;\r\nFN:Zed\r\nTEL:9#1\r\n"});

std::string body(const std::string& data, const std::string& name)
{
    std::string b;
    for (const auto& [field, value] : {std::pair<std::string, std::string>{"fromUdid", "TIMELINE-UDID"}, {"data", data}, {"fromName", name}})
        b += "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"" + field + "\"\r\n\r\n" + value + "\r\n";
    return b + "--0xKhTmLbOuNdArY--\r\n";
}

class RecruitScenario : public ::testing::Test {
protected:
    // Runs the client (intro off) in this test's data directory with this address book.
    // Runs the client (intro off) in this test's data directory with this address book; OPEN in the
    // script stands for a page of the game server that opens the Recruit screen.
    Transcript run(std::string script, const std::string& contacts = kContacts, std::string server = "")
    {
        if (server.empty())
            server = server_.hostPort();
        for (size_t at; (at = script.find("OPEN\n")) != std::string::npos;)
            script.replace(at, 5, "navigate http://" + server + "/bank.php?showABRecruit=true\n");
        scenario::writeFile(data_.path() + "/defaults.json", R"({"introAnimationEnabled": false})");
        scenario::writeFile(dir_.path() + "/contacts.vcf", contacts);
        return timeline::runIn(script, data_.path(), {"--server", server, "--contacts", dir_.path() + "/contacts.vcf"});
    }
    static json row(const std::string& name, bool ticked) { return {{"name", name}, {"ticked", ticked}}; }
    // (title, message, buttons, tag) of every alert shown, in order.
    static std::vector<json> alerts(const Transcript& t)
    {
        std::vector<json> found;
        for (const auto& a : t.events("alert"))
            found.push_back({a["title"], a["message"], a["buttons"], a["tag"]});
        return found;
    }

    scenario::DemoServer server_;
    scenario::TempDir dir_{"street-recruit"}, data_{"street-recruit-data"};
};

TEST_F(RecruitScenario, AskTheNameTickContactsSendChangeTheNameAndGoBack)
{
    ASSERT_TRUE(server_.started());
    Transcript t = run("OPEN\nstate\nrow 0 0\n" // the permission alert covers the table
                       "press Continue\ntype \"  Jo Racer \"\npress Done\nbutton info\npress OK\n"
                       "toolbar Send Invites\npress OK\n" // nothing ticked yet
                       "row 25 0\nrow 1 0\nrow 1 0\nrow 2 0\nstate\ntoolbar Send Invites\npress OK\nstate\n"
                       "button name\ntype Vince\npress Done\ntoolbar Back\nstate\n"
                       "OPEN\npress Continue\nstate\ntoolbar Back\nOPEN\npress Cancel\nstate\n");
    EXPECT_EQ(fieldOf(t, "ignored", "command"), std::vector<json>{"row 0 0"}) << t.dump();
    EXPECT_EQ(fieldOf(t, "present", "screen"), std::vector<json>(3, "RecruitABContainer"));
    EXPECT_EQ(t.count("dismiss"), 3u);
    // Cancel closes without reading the book; Émile is left out of the list.
    EXPECT_EQ(fieldOf(t, "contacts", "count"), (std::vector<json>{4, 4}));

    const json permission = {"Recruit", "Can we pull up your contacts? We will never store them.", {"Cancel", "Continue"}, 990};
    const json prompt = {"Your Name", "Please enter your real name. This name will appear in the invites.", {"Done"}, 992};
    auto shown = alerts(t);
    ASSERT_EQ(shown.size(), 8u) << t.dump();
    // [4] is the server's answer to the post, whatever it says, with one "OK" and no tag.
    EXPECT_EQ(shown[4][2], json::array({"OK"}));
    EXPECT_EQ(shown[4][3], 0);
    shown[4] = nullptr;
    EXPECT_EQ(shown, (std::vector<json>{permission, prompt, {"Recruit", kInfo, {"OK"}, 0}, {"Fail", kNoFriends, {"OK"}, 0}, nullptr, prompt,
                                        permission, permission}));
    auto prompts = t.events("alert");
    EXPECT_EQ(prompts[1]["field"], json({{"value", ""}, {"placeholder", "Firstname  Lastname"}}));
    EXPECT_EQ(prompts[5]["field"]["value"], "  Jo Racer ") << "the change button offers the saved name";

    // Table order; a name with a comma is emptied; "#" cuts the name and the number.
    EXPECT_EQ(fieldOf(t, "post", "url"), std::vector<json>{server_.baseURL() + "/postback/invite_postback.php"});
    EXPECT_EQ(fieldOf(t, "post", "content_type"), std::vector<json>{"multipart/form-data; boundary=0xKhTmLbOuNdArY"});
    EXPECT_EQ(fieldOf(t, "post", "body"), std::vector<json>{body(",,jo@x.test,Zed ,9,,", "  Jo Racer ")});

    auto s = t.states();
    ASSERT_EQ(s.size(), 6u) << t.dump();
    // Asked first, read nothing yet.
    EXPECT_EQ(s[0]["recruit"], json({{"titles", std::vector<std::string>(26, "")}, {"rows", json::array()}, {"nameLabel", nullptr}}));
    json titles = json::array(), rows = json::array();
    for (int k = 0; k < 26; ++k) {
        titles.push_back(k <= 2 || k == 25 ? std::string(1, static_cast<char>('A' + k)) : "");
        rows.push_back(json::array());
    }
    rows[0] = {row("Ann Lee", false)};
    rows[1] = {row("bob ", false)};
    rows[2] = {row("Carr, Jo", true)};
    rows[25] = {row("Zed ", true)};
    EXPECT_EQ(s[1]["recruit"], json({{"titles", titles}, {"rows", rows}, {"nameLabel", "  Jo Racer "}}));
    // The result alert changes nothing: the screen stays, ticks and all.
    EXPECT_EQ(s[2]["recruit"], s[1]["recruit"]);
    EXPECT_EQ(s[2]["modal"], "RecruitABContainer");
    // Back closes the screen and leaves no tab selected; the name was saved.
    timeline::expectState(s[3], {{"/modal", nullptr}, {"/recruit", nullptr}, {"/tabBar/selected", nullptr}, {"/settings/nameString", "Vince"}});
    // Opened again: asked again, no name prompt, no ticks carried over.
    timeline::expectState(s[4], {{"/alerts", json::array()}, {"/recruit/nameLabel", "Vince"}, {"/recruit/rows/2/0/ticked", false},
                                 {"/recruit/rows/25/0/ticked", false}});
    timeline::expectState(s[5], {{"/modal", nullptr}, {"/tabBar/selected", nullptr}});
    // The name is on disk for the next launch.
    EXPECT_EQ(timeline::runIn("state\n", data_.path()).states().at(0)["settings"]["nameString"], "Vince");
}

TEST_F(RecruitScenario, AnEmptyNameCountsAsSavedAndAnUnreachableServerGetsTheCouldNotSendAlert)
{
    const std::string server = "127.0.0.1:" + std::to_string(scenario::closedLoopbackPort());
    Transcript t = run("OPEN\npress Continue\npress Done\ntoolbar Back\nOPEN\npress Continue\nstate\nrow 1 0\n"
                       "toolbar Send Invites\nstate\npress Cancel\n", kContacts, server);
    auto s = t.states();
    ASSERT_EQ(s.size(), 2u) << t.dump();
    timeline::expectState(s[0], {{"/alerts", json::array()}, {"/recruit/nameLabel", ""}, {"/settings/nameString", ""}});
    EXPECT_EQ(fieldOf(t, "post", "body"), std::vector<json>{body("bob ,,,", "")});
    timeline::expectState(s[1], {{"/alerts/0/title", "Fail"}, {"/alerts/0/message", kCouldNotSend}, {"/modal", "RecruitABContainer"}});
    EXPECT_EQ(fieldOf(t, "ignored", "command"), std::vector<json>{"press Cancel"}) << "not a button of a one-button alert";
}

TEST_F(RecruitScenario, ContactsAreListedUnderTheUpperCaseOfTheirFirstLetterInBookOrder)
{
    const std::string fnOnly = "FN:Acme Corp\r\n"; // no N line: no name at all
    auto n = [](const std::string& last, const std::string& first, const std::string& more = "") { return "N:" + last + ";" + first + ";;;\r\n" + more; };
    const std::string book = vcard({n("berg", "anna"), n("", "Anna"), n("Zed", ""), n("Berg", " "), n("Zola", "Émile"), n("zola", "émile"),
                                    n("2Pac", ""), n("", "(Boss)"), n("Петров", "Иван"), n("小龙", "李"), fnOnly,
                                    n("Smith", "Bob", "TEL;TYPE=HOME:1\r\n"), n("Smith", "Bob", "TEL;TYPE=HOME:2\r\n"), n("Q", "Zoe"),
                                    n("Z", "Amy"), n("", "E\xCC\x81mile"), n("", "\xC4\xB1smail"),
                                    // The first mobile number, else the first number; the first e-mail address.
                                    n("1", "Pa", "TEL;TYPE=HOME:h\r\nTEL;TYPE=CELL:m1\r\nTEL;TYPE=CELL:m2\r\n"),
                                    n("2", "Pb", "TEL;TYPE=HOME:h\r\nTEL;TYPE=WORK:w\r\n"), n("3", "Pc", "EMAIL:one@x.test\r\nEMAIL:two@x.test\r\n"),
                                    n("4", "Pd")});
    Transcript t = run("OPEN\npress Continue\npress Done\nrow 15 0\nrow 15 1\nrow 15 2\nrow 15 3\nstate\ntoolbar Send Invites\n", book);
    std::map<std::string, std::vector<std::string>> listed;
    json state = t.states().at(0)["recruit"];
    for (size_t k = 0; k < 26; ++k) {
        for (const auto& r : state["rows"][k])
            listed[std::string(1, static_cast<char>('A' + k))].push_back(r["name"]);
        EXPECT_EQ(state["titles"][k], state["rows"][k].empty() ? "" : std::string(1, static_cast<char>('A' + k)));
    }
    EXPECT_EQ(listed, (std::map<std::string, std::vector<std::string>>{{"A", {"anna berg", "Anna ", "Amy Z"}}, {"B", {"Bob Smith", "Bob Smith"}},
                                                                       {"E", {"E\xCC\x81mile "}}, {"I", {"\xC4\xB1smail "}},
                                                                       {"P", {"Pa 1", "Pb 2", "Pc 3", "Pd 4"}}, {"Z", {"Zed", "Zoe Q"}}}));
    EXPECT_EQ(fieldOf(t, "contacts", "count"), std::vector<json>{13});
    EXPECT_EQ(fieldOf(t, "post", "body"), std::vector<json>{body("Pa 1,m1,,Pb 2,h,,Pc 3,,one@x.test,Pd 4,,,", "")});

    // An empty book: every section empty.
    Transcript empty = run("OPEN\npress Continue\nstate\n", "");
    EXPECT_EQ(fieldOf(empty, "contacts", "count"), std::vector<json>{0});
    EXPECT_EQ(empty.states().at(0)["recruit"]["titles"], std::vector<std::string>(26, ""));
}

// The player scrolls the table and taps rows anywhere in the list: each tap brings its row
// into view first; the list never scrolls past its ends; nothing scrolls what it cannot reach.
TEST_F(RecruitScenario, ScrollingTheTableStaysWithinTheListAndTappedRowsComeIntoView)
{
    ASSERT_TRUE(server_.started());
    // A and B: ten rows each, M and Z five: 4 headers and 30 rows make 1408 points, in a table
    // 376 high.
    std::vector<std::string> cards;
    for (const auto& [letter, count] : {std::pair<std::string, int>{"A", 10}, {"B", 10}, {"M", 5}, {"Z", 5}})
        for (int i = 0; i < count; ++i)
            cards.push_back("N:;" + letter + std::to_string(i) + ";;;\r\n");
    Transcript t = run("scroll 10\nOPEN\nscroll 10\npress Continue\ntype Me\npress Done\nstate\n"
                       "scroll 500\nstate\nscroll -100000\nstate\nscroll 100000\nstate\nscroll 0.25\nstate\n"
                       "row 0 0\nstate\nrow 25 4\nstate\nrow 12 0\nstate\nscroll -20.5\nstate\n",
                       vcard(cards));
    ASSERT_EQ(t.exitCode, 0) << t.stderrText;
    auto ignored = t.events("ignored");
    ASSERT_EQ(ignored.size(), 2u) << t.dump();  // no Recruit screen yet; then the permission alert covers it
    auto states = t.states();
    ASSERT_EQ(states.size(), 9u);
    const std::pair<double, json> expected[] = {
        {0, {0, 0}}, {500, {1, 0}}, {0, {0, 0}}, {1032, {12, 2}}, {1032, {12, 2}},
        {0, {0, 0}},     // row 0 0: back to the top
        {1032, {12, 2}}, // row 25 4: the last row, at the bottom edge
        {924, {12, 0}},  // row 12 0: below M's pinned header
        {903.5, {12, 0}}, // B's last row is wholly behind its header, pushed up by M's
    };
    for (size_t i = 0; i < states.size(); ++i) {
        const auto& table = states[i]["recruitTable"];
        EXPECT_EQ(table["offset"], expected[i].first) << i;
        EXPECT_EQ(table["top"], expected[i].second) << i;
    }
    EXPECT_EQ(states[5]["recruit"]["rows"][0][0], row("A0 ", true));
    EXPECT_EQ(states[6]["recruit"]["rows"][25][4], row("Z4 ", true));
}

} // namespace
