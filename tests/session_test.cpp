// One cookie jar for the pages and the invite post, kept across launches; the invite post
// follows redirects within its origin as the platform does, and no further, and waits for a
// slow server as long as it is alive.

#include "app/Util.h"
#include "kit/CookieJar.h"
#include "kit/Events.h"
#include "kit/Platform.h"
#include "kit/RunLoop.h"
#include "kit/URLConnection.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <filesystem>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using kit::CookieJar;
using kit::URLConnection;
constexpr auto npos = std::string::npos;

// Serves loopback connections one at a time with whatever `serve` sends; keeps the requests.
class TestServer {
public:
    explicit TestServer(std::function<void(int fd, const std::string& request)> serve)
    {
        sockaddr_in address {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 8) != 0)
            throw std::runtime_error("cannot listen on loopback");
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, serve = std::move(serve)] {
            // Each request is read whole: the head, then as many body bytes as it announces.
            auto complete = [](const std::string& r) {
                auto end = r.find("\r\n\r\n"), at = r.find("Content-Length: ");
                return end != npos && r.size() >= end + 4 + (at < end ? std::stoul(r.substr(at + 16)) : 0);
            };
            for (int fd; (fd = ::accept(listener_, nullptr, nullptr)) >= 0; ::close(fd)) {
                std::string request;
                char buffer[4096];
                for (ssize_t n = 1; !complete(request) && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                    request.append(buffer, static_cast<size_t>(n));
                std::unique_lock lock(mutex_);
                requests_.push_back(request);
                lock.unlock();
                serve(fd, request);
            }
        });
    }
    ~TestServer()
    {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    std::string url(const std::string& path, const std::string& host = "127.0.0.1") const
    {
        return "http://" + host + ":" + std::to_string(port_) + path;
    }
    std::vector<std::string> requests() const
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    int listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

void send(int fd, const std::string& text) { ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); }

std::string reply(int status, const std::string& headers, const std::string& body)
{
    return "HTTP/1.1 " + std::to_string(status) + " X\r\n" + headers + "Content-Length: " + std::to_string(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
}

const std::string kBody = "--B\r\nContent-Disposition: form-data; name=\"data\"\r\n\r\nAnn,,,\r\n--B--\r\n";

kit::URLRequest post(const std::string& url, const std::string& body = kBody)
{
    return {url, "POST", {{"Content-Type", "multipart/form-data; boundary=B"}}, body};
}

// The cookie names of Netscape lines, sorted.
std::vector<std::string> names(const std::vector<std::string>& lines)
{
    std::vector<std::string> found;
    for (const auto& line : lines) {
        size_t at = 0;
        for (int tab = 0; tab < 5; ++tab)
            at = line.find('\t', at) + 1;
        found.push_back(line.substr(at, line.find('\t', at) - at));
    }
    std::sort(found.begin(), found.end());
    return found;
}

class Sessions : public ::testing::Test {
protected:
    void SetUp() override { CookieJar::resetShared(); }
    void TearDown() override
    {
        CookieJar::resetShared();
        URLConnection::setIdleTimeout(URLConnection::defaultIdleTimeout);
    }
    scenario::TempDir dir_ {"street-session-test"};
    std::string path_ = dir_.path() + "/cookies.txt";
};

TEST_F(Sessions, InvitePostFollowsRedirectsAsThePlatformDoes)
{
    for (int status : {301, 302, 303, 307, 308}) {
        SCOPED_TRACE(status);
        TestServer server([status](int fd, const std::string& request) {
            if (request.starts_with("POST /post "))
                return send(fd, reply(status, "Location: /next\r\nSet-Cookie: hop=" + std::to_string(status) + "\r\n", ""));
            send(fd, reply(200, "", "Done%ok"));
        });
        EXPECT_EQ(URLConnection::sendSynchronousRequest(post(server.url("/post"))), "Done%ok");
        auto requests = server.requests();
        ASSERT_EQ(requests.size(), 2u);
        bool repeated = status >= 307;
        EXPECT_TRUE(requests[1].starts_with(repeated ? "POST /next " : "GET /next ")) << requests[1];
        EXPECT_EQ(requests[1].find("Content-Type:") != npos, repeated) << requests[1];
        EXPECT_EQ(requests[1].ends_with("\r\n\r\n" + kBody), repeated) << requests[1];
        // The cookie the redirect set goes with the next hop.
        EXPECT_NE(requests[1].find("Cookie: hop=" + std::to_string(status)), npos) << requests[1];
    }
}

// Whatever the status, nothing is sent to another host, port or scheme: the reply is the empty
// text, which the Recruit screen cannot read as an answer.
TEST_F(Sessions, InvitePostFollowsNoRedirectToAnotherOrigin)
{
    TestServer elsewhere([](int fd, const std::string&) { send(fd, reply(200, "", "Stolen%thanks")); });
    std::string other = elsewhere.url("").substr(std::string("http://127.0.0.1:").size());
    // PORT: the game server's own port.
    const std::pair<int, std::string> cases[] = { // status, Location
        {307, elsewhere.url("/post")}, {308, elsewhere.url("/post")}, {302, elsewhere.url("/post")},
        {303, elsewhere.url("/post")}, {307, "//127.0.0.1:" + other + "/post"}, {307, "http://localhost:PORT/post"},
        {307, "https://127.0.0.1:PORT/post"}, {307, "file:///etc/hostname"},
    };
    for (const auto& [status, location] : cases) {
        SCOPED_TRACE(std::to_string(status) + " " + location);
        TestServer game([status, location](int fd, const std::string& request) {
            auto host = request.substr(request.find("Host: ") + 6);
            std::string where = location;
            if (auto at = where.find("PORT"); at != npos)
                where.replace(at, 4, host.substr(host.find(':') + 1, host.find("\r\n") - host.find(':') - 1));
            send(fd, reply(status, "Location: " + where + "\r\n", ""));
        });
        EXPECT_EQ(URLConnection::sendSynchronousRequest(post(game.url("/post"))), "");
        EXPECT_EQ(game.requests().size(), 1u);
    }
    EXPECT_TRUE(elsewhere.requests().empty());
}

TEST_F(Sessions, InvitePostGivesUpAfterTwentyRedirects)
{
    // /r/N redirects to /r/N-1; /r/0 answers.
    TestServer server([](int fd, const std::string& request) {
        int n = std::stoi(request.substr(request.find("/r/") + 3));
        send(fd, n > 0 ? reply(302, "Location: /r/" + std::to_string(n - 1) + "\r\n", "") : reply(200, "", "T%M"));
    });
    EXPECT_EQ(URLConnection::sendSynchronousRequest(post(server.url("/r/20"))), "T%M");
    EXPECT_EQ(URLConnection::sendSynchronousRequest(post(server.url("/r/21"))), std::nullopt);
    EXPECT_EQ(server.requests().size(), 21u + 21u);
}

TEST_F(Sessions, InvitePostTimesOutOnSilenceNotOnTheWholeExchange)
{
    URLConnection::setIdleTimeout(std::chrono::milliseconds(1500));
    // Ten bytes 0.2 s apart: longer than the limit in all, never silent for that long.
    TestServer dripping([](int fd, const std::string&) {
        send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n");
        for (char c : std::string("Slow%drips")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            send(fd, std::string(1, c));
        }
    });
    EXPECT_EQ(URLConnection::sendSynchronousRequest(post(dripping.url("/post"))), "Slow%drips");
    // Reads nothing more and answers nothing until the client hangs up.
    TestServer silent([](int fd, const std::string&) {
        char c;
        (void)::recv(fd, &c, 1, 0);
    });
    EXPECT_EQ(URLConnection::sendSynchronousRequest(post(silent.url("/post"))), std::nullopt);
}

// A backend's waiter may iterate whatever it likes while the exchange waits: nothing of the
// kit's run loop runs until the exchange has ended, and a waiter that gives up ends it at once.
TEST_F(Sessions, AWaitingExchangeHoldsTheRunLoopAndEndsWhenItsWaiterGivesUp)
{
    struct Recorder : kit::EventSink {
        std::vector<std::pair<std::string, nlohmann::json>> events;
        void event(const std::string& name, nlohmann::json fields) override { events.emplace_back(name, std::move(fields)); }
    } recorder;
    struct Spinner : URLConnection::Waiter {
        int begun = 0, ended = 0, waits = 0;
        bool giveUp = false;
        void begin() override { ++begun; }
        std::optional<long> end() override { return ++ended, 42; }
        bool wait(std::vector<pollfd>& fds, std::chrono::milliseconds timeout) override
        {
            ++waits;
            kit::RunLoop::main().runOnce(0); // as a window's nested main loop would
            ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long>(timeout.count(), 50)));
            return !giveUp;
        }
    } spinner;
    kit::Platform platform;
    platform.clock = kit::RunLoop::Clock::Real;
    platform.events = &recorder;
    kit::PlatformSession session(std::move(platform));
    URLConnection::setWaiter(&spinner);
    std::vector<std::string> ran;
    kit::RunLoop::main().post([&] { ran.push_back("task"); });

    TestServer slow([](int fd, const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        send(fd, reply(200, "", "Done%ok"));
    });
    EXPECT_EQ(URLConnection::sendSynchronousRequest(post(slow.url("/post"))), "Done%ok");
    EXPECT_TRUE(ran.empty()) << "a task ran during the exchange";
    EXPECT_GT(spinner.waits, 1);
    EXPECT_EQ(spinner.begun, 1);
    EXPECT_EQ(spinner.ended, 1);
    // The post is reported when it has ended, with the waiter's frames.
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].first, "post");
    EXPECT_EQ(recorder.events[0].second["framesDrawn"], 42);
    EXPECT_EQ(recorder.events[0].second["url"], slow.url("/post"));
    kit::RunLoop::main().runOnce(0);
    EXPECT_EQ(ran, std::vector<std::string>{"task"});

    // Given up (the window closed): no reply, at once, whatever the server does.
    spinner.giveUp = true;
    TestServer silent([](int fd, const std::string&) {
        char c;
        (void)::recv(fd, &c, 1, 0);
    });
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(URLConnection::sendSynchronousRequest(post(silent.url("/post"))), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(recorder.events.size(), 2u);
}

TEST_F(Sessions, OnlyLastingCookiesAreKeptAcrossLaunches)
{
    scenario::writeFile(path_, "# Netscape HTTP Cookie File\n\n"
                               "127.0.0.1\tFALSE\t/\tFALSE\t4000000000\tlogin\tL\n"
                               "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t4000000000\tkey\tK\r\n"
                               "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tS\n"
                               "127.0.0.1\tFALSE\t/\tFALSE\t1000000000\told\tO\n");
    CookieJar::shared().setFile(path_);
    EXPECT_EQ(names(CookieJar::shared().cookies()), (std::vector<std::string>{"key", "login"}));
    CookieJar::shared().addCookie("127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tthis-run");
    CookieJar::shared().addCookie("Set-Cookie: pref=1; Domain=example.org; Max-Age=3600");
    CookieJar::resetShared();  // the run ends; the next launch reads the file
    CookieJar::shared().setFile(path_);
    EXPECT_EQ(names(CookieJar::shared().cookies()), (std::vector<std::string>{"key", "login", "pref"}));
    EXPECT_EQ(scenario::readFile(path_).find("\tsid\t"), npos);
}

TEST_F(Sessions, AnUnusableCookieFileIsReportedOnceAndKeptAside)
{
    const std::string cookie = "127.0.0.1\tFALSE\t/\tFALSE\t4000000000\tlogin\tL", good = cookie + "\n";
    const std::pair<const char*, std::string> cases[] = {
        {"not text", good + std::string("\0", 1)},
        {"six fields", good + "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\n"},
        {"an expiry that is no number", good + "127.0.0.1\tFALSE\t/\tFALSE\tsoon\tsid\tS\n"},
        {"header lines", "Set-Cookie: sid=S; Domain=127.0.0.1\n"},
        {"too large", good + std::string(1 << 20, '#')},
    };
    for (const auto& [what, text] : cases) {
        SCOPED_TRACE(what);
        scenario::TempDir dir;
        std::string path = dir.path() + "/cookies.txt";
        scenario::writeFile(path, text);
        testing::internal::CaptureStderr();
        CookieJar::shared().setFile(path);
        CookieJar::shared().setFile(path);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("cookie file " + path), npos) << err;
        EXPECT_EQ(err.find("street-client:", 1), npos) << "reported twice: " << err;
        EXPECT_TRUE(CookieJar::shared().cookies().empty());

        CookieJar::shared().addCookie(cookie);
        EXPECT_TRUE(CookieJar::shared().synchronize());
        std::vector<std::string> aside;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            if (entry.path().filename().string().starts_with("cookies.txt.corrupt-"))
                aside.push_back(scenario::readFile(entry.path().string()));
        EXPECT_TRUE(aside.size() == 1 && aside[0] == text) << aside.size() << " files kept aside";
        EXPECT_NE(scenario::readFile(path).find(good), npos);
        CookieJar::resetShared();
    }
}

// The client itself, twice against one demo server with one data directory: the session
// survives the entry's redirect and a tab and goes with the invite post; the login survives
// the relaunch.
TEST(SessionScenario, TheSessionSurvivesTheRedirectATabAndARelaunchAndReachesTheInvitePost)
{
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    scenario::TempDir dir {"street-session-scenario"};
    scenario::writeFile(dir.path() + "/contacts.vcf", scenario::kOneContact);
    const std::vector<std::string> args = {"--clock", "real", "--engine", "http", "--server", server.hostPort(),
        "--movie-seconds", "0.2", "--udid", "session-udid", "--contacts", dir.path() + "/contacts.vcf"};
    scenario::ScenarioOptions options;
    options.dataDir = dir.path() + "/data";
    options.timeoutSeconds = 30;
    // The page on "localhost" is another host, which never gets the session cookie; a tab leads back
    // to the game's pages, whose commands run again.
    auto first = scenario::runScenario("wait 4\ntap Street\nwait 1\nnavigate http://localhost:"
            + std::to_string(server.port()) + "/bank.php\nwait 1\ntap Street\nwait 1\n"
            + scenario::openRecruitScript(server.baseURL(), "0.5") + "toolbar Send Invites\n",
        args, options);
    std::string saved = scenario::readFile(*options.dataDir + "/cookies.txt");
    auto second = scenario::runScenario("wait 4\n", args, options);
    ASSERT_EQ(first.exitCode, 0) << first.dump() << first.stderrText;
    ASSERT_EQ(second.exitCode, 0) << second.dump() << second.stderrText;

    ASSERT_NE(first.last("alert"), nullptr) << first.dump();
    EXPECT_EQ((*first.last("alert"))["title"], "Invites Sent") << first.dump();
    // The login outlives the run, the session does not.
    EXPECT_NE(saved.find("\tlogin\t"), npos) << saved;
    EXPECT_EQ(saved.find("\tsid\t"), npos) << saved;

    std::string player = "Racer " + street::Util::md5("session-udid:BrightPlume27k:45").substr(0, 4);
    const std::vector<std::string> expected = {"entry: new player " + player, "page home.php: " + player,
        "page missions.php: " + player, "page bank.php: no session", "page missions.php: " + player, "invite: 1 invitation(s) from udid session-udid",
        "entry: returning player " + player, "page home.php: " + player};
    EXPECT_EQ(server.requestsStartingWith({"entry:", "page ", "invite"}), expected);
}

} // namespace
