#include "recruit_fixture.h"

#include "app/RecruitABContainerController.h"
#include "app/RecruitABTableViewController.h"

using namespace recruit_test;
using street::RecruitABContainerController;
using street::RecruitABTableViewController;

namespace {

using Fields = RecruitABContainerController::FormFields;

TEST(RecruitFormData, LaysOutEachFieldThenTheClosingLine)
{
    struct Case {
        const char* what;
        Fields fields;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"no fields: only the closing line", {}, "--0xKhTmLbOuNdArY--\r\n"},
        {"one empty value", {{"fromName", ""}},
         "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"fromName\"\r\n\r\n\r\n"
         "--0xKhTmLbOuNdArY--\r\n"},
        {"the three fields in the order given",
         {{"fromUdid", "u1"}, {"data", "Ann ,5,a@x,"}, {"fromName", "Me Myself"}},
         "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"fromUdid\"\r\n\r\nu1\r\n"
         "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"data\"\r\n\r\nAnn ,5,a@x,\r\n"
         "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"fromName\"\r\n\r\nMe Myself\r\n"
         "--0xKhTmLbOuNdArY--\r\n"},
        {"values go out unquoted and unescaped, UTF-8 kept, line breaks as blanks",
         {{"data", "\"Zoë\"\r\n--0xKhTmLbOuNdArY,"}},
         "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"data\"\r\n\r\n"
         "\"Zo\xC3\xAB\"  --0xKhTmLbOuNdArY,\r\n--0xKhTmLbOuNdArY--\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RecruitABContainerController::generateFormData(c.fields), c.body) << c.what;
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
    struct Case {
        const char* what;
        std::vector<Row> rows;
        std::string data;
        bool any;
    };
    const std::vector<Case> cases = {
        {"nothing ticked", {{0, "Ann ", "1", "a@x", false}}, "", false},
        {"table order, not tick order, unticked left out",
         {{25, "Zed", "9", "z@x", true}, {0, "Ann ", "1", "a@x", true}, {0, "Al ", "2", "", false},
          {0, "Amy ", "3", "m@x", true}},
         "Ann ,1,a@x,Amy ,3,m@x,Zed,9,z@x,", true},
        {"no number and no e-mail: three commas", {{1, "Bea ", "", "", true}}, "Bea ,,,", true},
        {"a comma empties only its own field",
         {{2, "Carr, Jo", "1,2", "c@x", true}, {2, "Cy ", "5", "a,b@x", true}}, ",,c@x,Cy ,5,,", true},
        {"text after the first # is dropped; a leading # empties the field",
         {{3, "Dee#1#2", "#555", "d@x#work", true}}, "Dee,,d@x,", true},
        {"a comma after the # does not count", {{3, "Dan#x,y", "7", "", true}}, "Dan,7,,", true},
        {"text outside ASCII is kept", {{4, "Eve Ång", "+46", "\xC3\xA9@x", true}}, "Eve Ång,+46,\xC3\xA9@x,", true},
    };
    for (const auto& c : cases) {
        bool any = !c.any;
        EXPECT_EQ(RecruitABContainerController::inviteData(*listOf(c.rows), &any), c.data) << c.what;
        EXPECT_EQ(any, c.any) << c.what;
    }
}

class RecruitInvite : public RecruitFixture {
protected:
    void SetUp() override
    {
        RecruitFixture::SetUp();
        street::GameServer::setHost(responder_.host());
        screen_ = std::make_shared<RecruitABContainerController>("RecruitABContainer");
        screen_->setTableViewController(
            listOf({{0, "Ann ", "1", "a@x", true}, {1, "Bea ", "", "", false}, {1, "Bob#2", "2", "", true}}));
    }

    // The one alert on screen after the post: title and message.
    std::pair<std::string, std::string> onlyAlert()
    {
        auto alerts = kit::AlertView::visibleAlerts();
        EXPECT_EQ(alerts.size(), 1u);
        if (alerts.size() != 1)
            return {};
        auto alert = alerts.front();
        EXPECT_EQ(alert->buttonTitles(), std::vector<std::string>{"OK"});
        EXPECT_EQ(alert->tag(), 0);
        return {alert->title().value_or("(null)"), alert->message().value_or("(null)")};
    }

    LoopbackResponder responder_;
    std::shared_ptr<RecruitABContainerController> screen_;
};

const std::string kCouldNotSend = "Invites could not be sent at this time.  Please try again later.";
const std::string kUnknown = "Unknown error occurred.  Please try again later.";

TEST_F(RecruitInvite, PostsTheMultipartBodyExactlyAsBuilt)
{
    kit::UserDefaults::standardUserDefaults().setObject("Racer X", "nameString");
    screen_->doInvite();
    auto requests = responder_.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string& raw = requests[0];
    auto headEnd = raw.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    std::string head = raw.substr(0, headEnd + 2);
    std::string body = raw.substr(headEnd + 4);
    EXPECT_EQ(head.rfind("POST /postback/invite_postback.php HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("\r\nContent-Type: multipart/form-data; boundary=0xKhTmLbOuNdArY\r\n"), std::string::npos);
    EXPECT_EQ(head.find("Expect:"), std::string::npos) << head;
    const std::string expected = RecruitABContainerController::generateFormData(
        {{"fromUdid", "udid-0123"}, {"data", "Ann ,1,a@x,Bob,2,,"}, {"fromName", "Racer X"}});
    EXPECT_EQ(body, expected);

    auto posts = sink_.named("post");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].fields["url"], "http://" + responder_.host() + "/postback/invite_postback.php");
    EXPECT_EQ(posts[0].fields["content_type"], "multipart/form-data; boundary=0xKhTmLbOuNdArY");
    EXPECT_EQ(posts[0].fields["body"], expected);
    EXPECT_EQ(onlyAlert(), std::make_pair(std::string("OK"), std::string("OK")));
}

TEST_F(RecruitInvite, SendsAnEmptyNameWhenNoneIsSaved)
{
    screen_->doInvite();
    auto requests = responder_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("name=\"fromName\"\r\n\r\n\r\n--0xKhTmLbOuNdArY--\r\n"), std::string::npos);
}

TEST_F(RecruitInvite, WithNothingTickedSendsNothing)
{
    screen_->setTableViewController(listOf({{0, "Ann ", "1", "a@x", false}}));
    screen_->doInvite();
    EXPECT_EQ(onlyAlert(), std::make_pair(std::string("Fail"), std::string("You have not selected any friends to invite.")));
    EXPECT_TRUE(responder_.requests().empty());
    EXPECT_TRUE(sink_.named("post").empty());
}

TEST_F(RecruitInvite, ShowsTheReplyOrTheMatchingFailure)
{
    struct Case {
        const char* what;
        std::string reply;
        int status;
        std::string title, message;
    };
    const std::vector<Case> cases = {
        {"one %", "Invites Sent%3 invitation(s) received.", 200, "Invites Sent", "3 invitation(s) received."},
        {"one % whatever the status", "Oops%Server says no", 500, "Oops", "Server says no"},
        {"empty message half", "Done%", 200, "Done", ""},
        {"empty title half", "%only a message", 200, "", "only a message"},
        {"UTF-8 reply", "Gr\xC3\xBC\xC3\x9F" "e%\xE2\x9C\x93", 200, "Gr\xC3\xBC\xC3\x9F" "e", "\xE2\x9C\x93"},
        {"no %", "Invites Sent", 200, "Fail", kUnknown},
        {"two %", "A%B%C", 200, "Fail", kUnknown},
        {"empty reply", "", 200, "Fail", kUnknown},
        {"invalid UTF-8", "Title\xFF%Message", 200, "Fail", kCouldNotSend},
        {"truncated UTF-8", "Title%Caf\xC3", 200, "Fail", kCouldNotSend},
    };
    for (const auto& c : cases) {
        kit::AlertView::dismissAll();
        responder_.replyWith(c.reply, c.status);
        screen_->doInvite();
        EXPECT_EQ(onlyAlert(), std::make_pair(c.title, c.message)) << c.what;
    }
    // Ticks survive every outcome: each post carried the same records.
    auto requests = responder_.requests();
    ASSERT_EQ(requests.size(), cases.size());
    for (const auto& r : requests)
        EXPECT_EQ(r.substr(r.find("\r\n\r\n")), requests[0].substr(requests[0].find("\r\n\r\n")));
}

TEST_F(RecruitInvite, ANoReplyExchangeCannotBeSent)
{
    responder_.hangUpWithoutReply();
    screen_->doInvite();
    EXPECT_EQ(onlyAlert(), std::make_pair(std::string("Fail"), kCouldNotSend));
    EXPECT_EQ(responder_.requests().size(), 1u);

    // Nobody listening at all.
    kit::AlertView::dismissAll();
    int port;
    {
        LoopbackResponder gone;
        port = std::stoi(gone.host().substr(gone.host().find(':') + 1));
    }
    street::GameServer::setHost("127.0.0.1:" + std::to_string(port));
    screen_->doInvite();
    EXPECT_EQ(onlyAlert(), std::make_pair(std::string("Fail"), kCouldNotSend));
}

TEST_F(RecruitInvite, AHostThatMakesNoURLCannotBeSent)
{
    street::GameServer::setHost("bad host");
    screen_->doInvite();
    EXPECT_EQ(onlyAlert(), std::make_pair(std::string("Fail"), kCouldNotSend));
    EXPECT_TRUE(sink_.named("post").empty());
}

} // namespace
