// The demo game server as the client and the demo script use it: the built binary on a free
// loopback port, spoken to over HTTP.

#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <csignal>
#include <memory>
#include <fcntl.h>
#include <unistd.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body, location;
};

size_t appendBody(char* data, size_t size, size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

Reply request(const std::string& url, const std::optional<std::string>& postBody = std::nullopt,
              const std::string& contentType = "multipart/form-data; boundary=0xKhTmLbOuNdArY", CURLSH* cookies = nullptr)
{
    Reply reply;
    CURL* curl = curl_easy_init();
    if (cookies) {
        curl_easy_setopt(curl, CURLOPT_SHARE, cookies);
        curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_slist* headers = nullptr;
    if (postBody) {
        headers = curl_slist_append(headers, ("Content-Type: " + contentType).c_str());
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody->data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody->size()));
    }
    reply.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    char* location = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
        reply.location = location;
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
}

class DemoServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.started());
        curl_share_setopt(cookies_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    }
    Reply request(const std::string& path, const std::optional<std::string>& postBody = std::nullopt,
                  const std::string& contentType = "multipart/form-data; boundary=0xKhTmLbOuNdArY")
    {
        return ::request(server_.baseURL() + path, postBody, contentType, cookies_.get());
    }

    scenario::DemoServer server_;
    // The fixture's requests keep cookies as a client does: the invite post needs the session
    // that the entry request starts.
    std::unique_ptr<CURLSH, decltype(&curl_share_cleanup)> cookies_ {curl_share_init(), curl_share_cleanup};
};

TEST_F(DemoServerTest, EntryRequestSignature)
{
    // Digests worked out independently: MD5 of "<udid>:BrightPlume27k:45", upper-case.
    const std::pair<std::string, bool> cases[] = { // query, accepted
        {"udid=demo-udid&pf=5D6DC809687D7C1333613E732698390F", true},
        {"udid=my%20device&pf=850AC2EC85E27367F69CDC3BC1A8C8DF", true},  // the udid is decoded before hashing
        {"udid=my%20device&pf=9D0C3B3B7D0C7E29615DCE4736AFC949", false}, // hashed over the still-encoded udid
        {"udid=a+b&pf=7D68049B0F29BC20C170CE9A7C937733", true},          // plus is not a space
        {"udid=demo-udid&pf=5d6dc809687d7c1333613e732698390f", false},   // lower-case digest
        {"udid=other&pf=5D6DC809687D7C1333613E732698390F", false}, {"udid=demo-udid", false}, {"udid=demo-udid&pf=", false},
        {"pf=5D6DC809687D7C1333613E732698390F", false}, {"udid=demo%zzudid&pf=5D6DC809687D7C1333613E732698390F", false},
    };
    for (const auto& [query, accepted] : cases) {
        Reply reply = request("/points.php?version=1.53&" + query + "&fpts=45&model=Linux%20PC&sv=12");
        ASSERT_EQ(reply.code, CURLE_OK) << query;
        EXPECT_EQ(reply.status, accepted ? 302 : 403) << query;
        EXPECT_EQ(reply.location, accepted ? server_.baseURL() + "/home.php?showHomeBg=true" : "") << query;
        EXPECT_EQ(reply.body.find("Signature check failed") != std::string::npos, !accepted) << query;
    }
}

std::string part(const std::string& boundary, const std::string& name, const std::string& value)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

TEST_F(DemoServerTest, InvitePostAcceptedOnlyInTheExactFormat)
{
    request("/points.php?udid=demo-udid&pf=5D6DC809687D7C1333613E732698390F");
    const std::string b = "0xKhTmLbOuNdArY", multipart = "multipart/form-data; boundary=" + b, end = "--" + b + "--\r\n";
    const std::string udid = part(b, "fromUdid", "U1"), data = part(b, "data", "Ann,555 1234,ann@example.org,Bob,,,"),
                      name = part(b, "fromName", "Zed");
    auto sent = [](const std::string& from, int n) { return "Invites Sent%" + std::to_string(n) + " invitation(s) received from " + from + ". Thank you!"; };
    const std::tuple<std::string, std::string, std::string> cases[] = { // body, content type, reply ("" = refused)
        {udid + data + name + end, multipart, sent("Zed", 2)}, {name + data + udid + end, multipart, sent("Zed", 2)},
        {udid + data + part(b, "fromName", "") + end, multipart, sent("someone", 2)},
        {udid + data + part(b, "fromName", "100%") + end, multipart, sent("100", 2)}, // a '%' would split the reply
        {part("xyz", "fromUdid", "U1") + part("xyz", "data", "A,,,") + part("xyz", "fromName", "Zed") + "--xyz--\r\n",
         "multipart/form-data; boundary=xyz", sent("Zed", 1)},
        {udid + data + name + end, "multipart/form-data; boundary=0xOther", ""}, {udid + data + name + end, "application/x-www-form-urlencoded", ""},
        {udid + data + end, multipart, ""}, {udid + data + name + name + end, multipart, ""},
        {udid + data + name + part(b, "extra", "x") + end, multipart, ""},
        {udid + part(b, "data", "Ann,555,ann@example.org,Bob,") + name + end, multipart, ""},
        {udid + part(b, "data", "Ann,555,ann@example.org,Bob") + name + end, multipart, ""}, {udid + data + name + end + "junk", multipart, ""},
        {udid + data + name, multipart, ""}, {udid + data + name + "--" + b + "--", multipart, ""}, {"hello\r\n" + udid + data + name + end, multipart, ""},
        {"--" + b + "\nContent-Disposition: form-data; name=\"fromUdid\"\n\nU1\n" + data + name + end, multipart, ""},
        {"--" + b + "\r\nContent-Disposition: form-data; name=\"fromUdid\"\r\nContent-Type: text/plain\r\n\r\nU1\r\n" + data + name + end, multipart, ""},
        {"", multipart, ""},
    };
    for (const auto& [body, contentType, expected] : cases) {
        Reply reply = request("/postback/invite_postback.php", body, contentType);
        ASSERT_EQ(reply.code, CURLE_OK) << body;
        EXPECT_EQ(reply.status, 200) << body;
        if (!expected.empty())
            EXPECT_EQ(reply.body, expected) << body;
        else
            EXPECT_EQ(reply.body.find('%'), std::string::npos) << body << " -> " << reply.body;
    }
}

TEST_F(DemoServerTest, PagesAndFaults)
{
    for (const char* page : {"/register.php", "/home.php?showHomeBg=true", "/missions.php?showMissionsBg=true", "/fight.php?showAttackBg=true",
                             "/cars.php?showCarsBg=true", "/group.php?showGroupBg=true", "/bank.php", "/hospital.php", "/favor.php",
                             "/investment.php", "/commands.php", "/slow.php?ms=10", "/live.php"}) {
        Reply reply = request(page);
        EXPECT_EQ(reply.code, CURLE_OK) << page;
        EXPECT_EQ(reply.status, 200) << page;
        EXPECT_NE(reply.body.find("background: transparent"), std::string::npos) << page;
    }
    EXPECT_EQ(request("/index.php").status, 404);
    EXPECT_EQ(request("/home.php/extra").status, 404);
    EXPECT_EQ(request("/drop.php").code, CURLE_PARTIAL_FILE); // closed before the promised length
}

// The exit status of the server run with these arguments. When asked, it is sent SIGTERM once it
// has announced its port, after one request if `requestFirst`; `log` gets its output.
int exitStatus(std::vector<std::string> args, bool terminate, std::string* log = nullptr, bool requestFirst = true)
{
    args.insert(args.begin(), STREET_DEMO_SERVER_BIN);
    scenario::TempDir dir("street-demo-status");
    const std::string out = dir.path() + "/out.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    if (terminate) {
        std::string first;
        for (int i = 0; i < 2000 && (first = scenario::readFile(out)).find('\n') == std::string::npos; ++i)
            ::usleep(5000);
        if (requestFirst)
            request("http://" + first.substr(first.rfind(' ') + 1, first.find('\n') - first.rfind(' ') - 1) + "/nope.php?x=1");
        ::kill(pid, SIGTERM);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (log)
        *log = scenario::readFile(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DemoServerCommandLine, BadArgumentsExitWithStatusTwoAndATerminatedServerExitsCleanly)
{
    for (const auto& args : std::vector<std::vector<std::string>>{{"--port", "http"}, {"--port", "70000"}, {"--port"}, {"--verbose"},
                                                                  {"--host-name", ""}, {"--tls", "cert.pem"}, {"--tls", "", "key.pem"},
                                                                  {"--invite-delay", "-1"}, {"--invite-delay", "61"},
                                                                  {"--invite-delay", "soon"}, {"--invite-redirect", "307"},
                                                                  {"--invite-redirect", "200", "/x"}, {"--invite-redirect", "307", ""}})
        EXPECT_EQ(exitStatus(args, false), 2) << testing::PrintToString(args);
    // Files that are no certificate and key: it cannot serve, and says so.
    EXPECT_EQ(exitStatus({"--port", "0", "--tls", "/nonexistent/cert.pem", "/nonexistent/key.pem"}, false), 1);
    std::string log;
    EXPECT_EQ(exitStatus({"--port", "0"}, true, &log), 0);
    EXPECT_NE(log.find("GET /nope.php?x=1 404\n"), std::string::npos) << log; // each request is logged
    // Stopped as soon as it announces itself, possibly before it is listening: it still ends.
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(exitStatus({"--port", "0"}, true, nullptr, false), 0);
}

} // namespace
