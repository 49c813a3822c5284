// Black-box tests of the demo game server: the built binary is started on a free
// loopback port and spoken to over HTTP, the way the client and the demo script use it.

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kStartTimeoutMs = 10000;

// Reads from `fd` until a newline or the timeout; nothing on timeout or end of file.
std::optional<std::string> readLine(int fd, int timeoutMs)
{
    std::string line;
    for (;;) {
        pollfd pfd { fd, POLLIN, 0 };
        if (poll(&pfd, 1, timeoutMs) <= 0)
            return std::nullopt;
        char c = 0;
        ssize_t n = read(fd, &c, 1);
        if (n <= 0)
            return std::nullopt;
        if (c == '\n')
            return line;
        line += c;
    }
}

std::string readRest(int fd)
{
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}

// The server as a child process whose stdout we hold.
class ServerProcess {
public:
    explicit ServerProcess(std::vector<std::string> args)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        // Usage messages of the refused command lines would only clutter the test output.
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        args.insert(args.begin(), STREET_DEMO_SERVER_BIN);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }

    ~ServerProcess()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }

    int out() const { return out_; }

    // SIGTERM, then the exit status (-1 when it did not exit normally).
    int terminate()
    {
        kill(pid_, SIGTERM);
        return waitForExit();
    }

    int waitForExit()
    {
        int status = 0;
        pid_t waited = waitpid(pid_, &status, 0);
        pid_ = -1;
        if (waited < 0 || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::string location;
};

size_t appendBody(char* data, size_t size, size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

class DemoServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_.emplace(std::vector<std::string> { "--port", "0" });
        auto line = readLine(server_->out(), kStartTimeoutMs);
        ASSERT_TRUE(line) << "no first line from the server";
        const std::string prefix = "listening on 127.0.0.1:";
        ASSERT_EQ(line->rfind(prefix, 0), 0u) << *line;
        int port = std::stoi(line->substr(prefix.size()));
        ASSERT_GT(port, 0);
        base_ = "http://127.0.0.1:" + std::to_string(port);
        curl_share_setopt(cookies_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    }

    Reply request(const std::string& path, const std::optional<std::string>& postBody = std::nullopt,
        const std::string& contentType = "multipart/form-data; boundary=0xKhTmLbOuNdArY")
    {
        Reply reply;
        CURL* curl = curl_easy_init();
        curl_easy_setopt(curl, CURLOPT_URL, (base_ + path).c_str());
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
        curl_easy_setopt(curl, CURLOPT_SHARE, cookies_.get());
        curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
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

    std::optional<ServerProcess> server_;
    std::string base_;
    // The fixture's requests keep cookies as a client does: the invite post needs the session
    // that the entry request starts.
    std::unique_ptr<CURLSH, decltype(&curl_share_cleanup)> cookies_ {curl_share_init(), curl_share_cleanup};
};

TEST_F(DemoServerTest, EntryRequestSignature)
{
    struct Case {
        const char* what;
        std::string query;
        bool accepted;
    };
    // Digests worked out independently: MD5 of "<udid>:BrightPlume27k:45", upper-case.
    const Case cases[] = {
        { "valid", "udid=demo-udid&pf=5D6DC809687D7C1333613E732698390F", true },
        { "valid, udid decoded before hashing", "udid=my%20device&pf=850AC2EC85E27367F69CDC3BC1A8C8DF", true },
        { "hashed over the still-encoded udid", "udid=my%20device&pf=9D0C3B3B7D0C7E29615DCE4736AFC949", false },
        { "plus is not a space", "udid=a+b&pf=7D68049B0F29BC20C170CE9A7C937733", true },
        { "lower-case digest", "udid=demo-udid&pf=5d6dc809687d7c1333613e732698390f", false },
        { "digest of another device", "udid=other&pf=5D6DC809687D7C1333613E732698390F", false },
        { "no pf", "udid=demo-udid", false },
        { "empty pf", "udid=demo-udid&pf=", false },
        { "no udid", "pf=5D6DC809687D7C1333613E732698390F", false },
        { "undecodable udid", "udid=demo%zzudid&pf=5D6DC809687D7C1333613E732698390F", false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reply reply = request("/points.php?version=1.53&" + c.query + "&fpts=45&model=Linux%20PC&sv=12");
        ASSERT_EQ(reply.code, CURLE_OK);
        if (c.accepted) {
            EXPECT_EQ(reply.status, 302);
            EXPECT_EQ(reply.location, base_ + "/home.php?showHomeBg=true");
        } else {
            EXPECT_EQ(reply.status, 403);
            EXPECT_NE(reply.body.find("Signature check failed"), std::string::npos) << reply.body;
        }
    }
}

std::string part(const std::string& boundary, const std::string& name, const std::string& value)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::string closing(const std::string& boundary)
{
    return "--" + boundary + "--\r\n";
}

TEST_F(DemoServerTest, InvitePostAcceptedOnlyInTheExactFormat)
{
    request("/points.php?udid=demo-udid&pf=5D6DC809687D7C1333613E732698390F");
    const std::string b = "0xKhTmLbOuNdArY";
    const std::string udid = part(b, "fromUdid", "U1");
    const std::string data = part(b, "data", "Ann,555 1234,ann@example.org,Bob,,,");
    const std::string name = part(b, "fromName", "Zed");
    struct Case {
        const char* what;
        std::string body;
        std::string contentType;
        const char* reply; // nullptr: refused
    };
    const std::string multipart = "multipart/form-data; boundary=" + b;
    const Case cases[] = {
        { "usual order", udid + data + name + closing(b), multipart,
            "Invites Sent%2 invitation(s) received from Zed. Thank you!" },
        { "any order", name + data + udid + closing(b), multipart,
            "Invites Sent%2 invitation(s) received from Zed. Thank you!" },
        { "no sender name", udid + data + part(b, "fromName", "") + closing(b), multipart,
            "Invites Sent%2 invitation(s) received from someone. Thank you!" },
        { "a percent sign in the name would split the reply", udid + data + part(b, "fromName", "100%") + closing(b),
            multipart, "Invites Sent%2 invitation(s) received from 100. Thank you!" },
        { "boundary taken from the header", part("xyz", "fromUdid", "U1") + part("xyz", "data", "A,,,")
                + part("xyz", "fromName", "Zed") + closing("xyz"),
            "multipart/form-data; boundary=xyz", "Invites Sent%1 invitation(s) received from Zed. Thank you!" },
        { "body boundary differs from the header", udid + data + name + closing(b),
            "multipart/form-data; boundary=0xOther", nullptr },
        { "not multipart", udid + data + name + closing(b), "application/x-www-form-urlencoded", nullptr },
        { "missing field", udid + data + closing(b), multipart, nullptr },
        { "duplicate field", udid + data + name + name + closing(b), multipart, nullptr },
        { "unknown field", udid + data + name + part(b, "extra", "x") + closing(b), multipart, nullptr },
        { "data with four commas", udid + part(b, "data", "Ann,555,ann@example.org,Bob,") + name + closing(b),
            multipart, nullptr },
        { "data not ending in a comma", udid + part(b, "data", "Ann,555,ann@example.org,Bob") + name + closing(b),
            multipart, nullptr },
        { "junk after the closing boundary", udid + data + name + closing(b) + "junk", multipart, nullptr },
        { "no closing boundary", udid + data + name, multipart, nullptr },
        { "closing boundary without CR LF", udid + data + name + "--" + b + "--", multipart, nullptr },
        { "preamble", "hello\r\n" + udid + data + name + closing(b), multipart, nullptr },
        { "bare LF line ends", "--" + b + "\nContent-Disposition: form-data; name=\"fromUdid\"\n\nU1\n" + data + name
                + closing(b),
            multipart, nullptr },
        { "part with its own Content-Type",
            "--" + b + "\r\nContent-Disposition: form-data; name=\"fromUdid\"\r\nContent-Type: text/plain\r\n\r\nU1\r\n"
                + data + name + closing(b),
            multipart, nullptr },
        { "empty body", "", multipart, nullptr },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reply reply = request("/postback/invite_postback.php", c.body, c.contentType);
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, 200);
        if (c.reply)
            EXPECT_EQ(reply.body, c.reply);
        else
            EXPECT_EQ(reply.body.find('%'), std::string::npos) << reply.body;
    }
}

TEST_F(DemoServerTest, PagesAndFaults)
{
    for (const char* page : { "/register.php", "/home.php?showHomeBg=true", "/missions.php?showMissionsBg=true",
             "/fight.php?showAttackBg=true", "/cars.php?showCarsBg=true", "/group.php?showGroupBg=true", "/bank.php",
             "/hospital.php", "/favor.php", "/investment.php", "/commands.php", "/slow.php?ms=10" }) {
        SCOPED_TRACE(page);
        Reply reply = request(page);
        EXPECT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, 200);
        EXPECT_NE(reply.body.find("background: transparent"), std::string::npos);
    }
    EXPECT_EQ(request("/index.php").status, 404);
    EXPECT_EQ(request("/home.php/extra").status, 404);
    // The connection is closed before the promised length has arrived.
    EXPECT_EQ(request("/drop.php").code, CURLE_PARTIAL_FILE);
}

TEST_F(DemoServerTest, StopsCleanlyAndLogsEachRequest)
{
    request("/nope.php?x=1");
    ASSERT_EQ(server_->terminate(), 0);
    std::string log = readRest(server_->out());
    EXPECT_NE(log.find("GET /nope.php?x=1 404\n"), std::string::npos) << log;
}

TEST(DemoServerCommandLine, BadArgumentsExitWithStatus2)
{
    for (std::vector<std::string> args : std::vector<std::vector<std::string>> {
             { "--port", "http" }, { "--port", "70000" }, { "--port" }, { "--verbose" }, { "--host-name", "" } }) {
        SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
        ServerProcess server(args);
        EXPECT_EQ(server.waitForExit(), 2);
    }
}

} // namespace
