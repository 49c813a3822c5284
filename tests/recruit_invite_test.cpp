// The invite post's pure pieces (the form body, the invite data) and how the screen reads the
// server's answer, against a loopback responder that answers whatever a test asks for.

#include "recruit_fixture.h"

#include "app/RecruitABContainerController.h"
#include "app/RecruitABTableViewController.h"
#include "support/Scenario.h"

using namespace recruit_test;
using street::RecruitABContainerController;
using street::RecruitABTableViewController;

namespace {

TEST(RecruitFormData, LaysOutEachFieldThenTheClosingLine)
{
    const std::string part = "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=", end = "--0xKhTmLbOuNdArY--\r\n";
    const std::pair<RecruitABContainerController::FormFields, std::string> cases[] = {
        {{}, end},
        {{{"fromName", ""}}, part + "\"fromName\"\r\n\r\n\r\n" + end},
        {{{"fromUdid", "u1"}, {"data", "Ann ,5,a@x,"}, {"fromName", "Me Myself"}}, // in the order given
         part + "\"fromUdid\"\r\n\r\nu1\r\n" + part + "\"data\"\r\n\r\nAnn ,5,a@x,\r\n" + part + "\"fromName\"\r\n\r\nMe Myself\r\n" + end},
        // Values go out unquoted and unescaped, UTF-8 kept; a line break becomes a blank, so no
        // value can forge a part of its own.
        {{{"data", "\"Zoë\"\r\n--0xKhTmLbOuNdArY,"}}, part + "\"data\"\r\n\r\n\"Zo\xC3\xAB\"  --0xKhTmLbOuNdArY,\r\n" + end},
    };
    for (const auto& [fields, body] : cases)
        EXPECT_EQ(RecruitABContainerController::generateFormData(fields), body);
}

// A contact list with the given rows in the given sections, nothing read from a book.
struct Row {
    int section;
    std::string name, number, email;
    bool ticked;
};

std::shared_ptr<RecruitABTableViewController> listOf(const std::vector<Row>& rows)
{
    RecruitABTableViewController::Texts names(26), numbers(26), emails(26);
    RecruitABTableViewController::Flags flags(26);
    for (const auto& r : rows) {
        names[r.section].push_back(r.name);
        numbers[r.section].push_back(r.number);
        emails[r.section].push_back(r.email);
        flags[r.section].push_back(r.ticked);
    }
    auto list = std::make_shared<RecruitABTableViewController>();
    list->setSectionArray(names);
    list->setSectionNumberArray(numbers);
    list->setSectionEmailArray(emails);
    list->setBoolArray(flags);
    return list;
}

TEST(RecruitInviteData, IsAFlatCommaListOfTheTickedContactsInTableOrder)
{
    const std::pair<std::vector<Row>, std::string> cases[] = { // rows, data ("" = nothing ticked)
        {{{0, "Ann ", "1", "a@x", false}}, ""},
        {{{25, "Zed", "9", "z@x", true}, {0, "Ann ", "1", "a@x", true}, {0, "Al ", "2", "", false}, {0, "Amy ", "3", "m@x", true}},
         "Ann ,1,a@x,Amy ,3,m@x,Zed,9,z@x,"},
        {{{1, "Bea ", "", "", true}}, "Bea ,,,"},
        {{{2, "Carr, Jo", "1,2", "c@x", true}, {2, "Cy ", "5", "a,b@x", true}}, ",,c@x,Cy ,5,,"}, // a comma empties its field
        {{{3, "Dee#1#2", "#555", "d@x#work", true}}, "Dee,,d@x,"}, // text from the first # on is dropped
        {{{3, "Dan#x,y", "7", "", true}}, "Dan,7,,"},
        {{{4, "Eve Ång", "+46", "\xC3\xA9@x", true}}, "Eve Ång,+46,\xC3\xA9@x,"},
    };
    for (const auto& [rows, data] : cases) {
        bool any = data.empty();
        EXPECT_EQ(RecruitABContainerController::inviteData(*listOf(rows), &any), data);
        EXPECT_EQ(any, !data.empty()) << data;
    }
}

class RecruitInvite : public RecruitFixture {
protected:
    void SetUp() override
    {
        RecruitFixture::SetUp();
        street::GameServer::setHost(responder_.host());
        screen_ = std::make_shared<RecruitABContainerController>("RecruitABContainer");
        screen_->setTableViewController(listOf({{0, "Ann ", "1", "a@x", true}, {1, "Bea ", "", "", false}, {1, "Bob#2", "2", "", true}}));
    }
    // Title and message of the one "OK" alert on screen after the post, which is then closed.
    std::pair<std::string, std::string> onlyAlert()
    {
        auto alerts = kit::AlertView::visibleAlerts();
        kit::AlertView::dismissAll();
        if (alerts.size() != 1 || alerts[0]->buttonTitles() != std::vector<std::string>{"OK"} || alerts[0]->tag() != 0)
            return {"(not one OK alert)", ""};
        return {alerts[0]->title().value_or("(null)"), alerts[0]->message().value_or("(null)")};
    }

    LoopbackResponder responder_;
    std::shared_ptr<RecruitABContainerController> screen_;
};

const std::string kCouldNotSend = "Invites could not be sent at this time.  Please try again later.";
const std::string kUnknown = "Unknown error occurred.  Please try again later.";

TEST_F(RecruitInvite, PostsTheMultipartBodyExactlyAsBuiltWithOrWithoutASavedName)
{
    const auto ok = std::make_pair(std::string("OK"), std::string("OK")); // the responder's usual answer
    screen_->doInvite();
    EXPECT_EQ(onlyAlert(), ok);
    kit::UserDefaults::standardUserDefaults().setObject("Racer X", "nameString");
    screen_->doInvite();
    EXPECT_EQ(onlyAlert(), ok);
    auto requests = responder_.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const std::string& raw = requests[i];
        auto headEnd = raw.find("\r\n\r\n");
        ASSERT_NE(headEnd, std::string::npos);
        std::string head = raw.substr(0, headEnd + 2);
        EXPECT_TRUE(head.starts_with("POST /postback/invite_postback.php HTTP/1.1\r\n")) << head;
        EXPECT_NE(head.find("\r\nContent-Type: multipart/form-data; boundary=0xKhTmLbOuNdArY\r\n"), std::string::npos) << head;
        EXPECT_EQ(head.find("Expect:"), std::string::npos) << head;
        EXPECT_EQ(raw.substr(headEnd + 4), RecruitABContainerController::generateFormData(
                                               {{"fromUdid", "udid-0123"}, {"data", "Ann ,1,a@x,Bob,2,,"}, {"fromName", i ? "Racer X" : ""}}));
    }
    auto posts = sink_.named("post");
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[1].fields, nlohmann::json({{"url", "http://" + responder_.host() + "/postback/invite_postback.php"},
                                               {"content_type", "multipart/form-data; boundary=0xKhTmLbOuNdArY"},
                                               {"body", requests[1].substr(requests[1].find("\r\n\r\n") + 4)}}));
}

TEST_F(RecruitInvite, ShowsTheReplyOrTheMatchingFailure)
{
    const std::tuple<std::string, int, std::string, std::string> cases[] = { // reply, status, title, message
        {"Invites Sent%3 invitation(s) received.", 200, "Invites Sent", "3 invitation(s) received."},
        {"Oops%Server says no", 500, "Oops", "Server says no"}, // whatever the status
        {"Done%", 200, "Done", ""}, {"%only a message", 200, "", "only a message"},
        {"Gr\xC3\xBC\xC3\x9F" "e%\xE2\x9C\x93", 200, "Gr\xC3\xBC\xC3\x9F" "e", "\xE2\x9C\x93"}, {"Invites Sent", 200, "Fail", kUnknown},
        {"A%B%C", 200, "Fail", kUnknown}, {"", 200, "Fail", kUnknown}, {"Title\xFF%Message", 200, "Fail", kCouldNotSend},
        {"Title%Caf\xC3", 200, "Fail", kCouldNotSend},
    };
    for (const auto& [reply, status, title, message] : cases) {
        responder_.replyWith(reply, status);
        screen_->doInvite();
        EXPECT_EQ(onlyAlert(), std::make_pair(title, message)) << reply;
    }
    // Ticks survive every outcome: each post carried the same records.
    auto requests = responder_.requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (const auto& r : requests)
        EXPECT_EQ(r.substr(r.find("\r\n\r\n")), requests[0].substr(requests[0].find("\r\n\r\n")));

    // No reply at all, nobody listening, or a host that makes no URL: could not send.
    responder_.hangUpWithoutReply();
    screen_->doInvite();
    EXPECT_EQ(onlyAlert(), std::make_pair(std::string("Fail"), kCouldNotSend));
    EXPECT_EQ(responder_.requests().size(), std::size(cases) + 1);
    street::GameServer::setHost("127.0.0.1:" + std::to_string(scenario::closedLoopbackPort()));
    screen_->doInvite();
    EXPECT_EQ(onlyAlert(), std::make_pair(std::string("Fail"), kCouldNotSend));
    street::GameServer::setHost("bad host");
    screen_->doInvite();
    EXPECT_EQ(onlyAlert(), std::make_pair(std::string("Fail"), kCouldNotSend));
    EXPECT_EQ(sink_.named("post").size(), std::size(cases) + 2) << "no post without a URL";
}

} // namespace
