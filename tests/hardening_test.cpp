// Hostile input end to end: settings files and address books that are not what they claim,
// commands from foreign pages, and a misbehaving server (tests/tools/hostile_server.py). Every
// run must end on its own, with the client's peak memory bounded.

#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

using nlohmann::json;
using scenario::Transcript;
namespace fs = std::filesystem;

const std::string kRecruit = "/bank.php?showABRecruit=true\npress Continue\n";
const std::string kInvite = "type Jo\npress Done\nrow 0 0\ntoolbar Send Invites\n";
#if defined(__SANITIZE_ADDRESS__)
constexpr long kInputShareKB = 1L << 40;  // the sanitizer's bookkeeping is no measure
#else
constexpr long kInputShareKB = 64 * 1024;
#endif

// What a quiet run holds at its peak (the program and the libraries it links): hostile input
// may add at most kInputShareKB to it.
long quietPeakKB()
{
    static long peak = scenario::runScenario("wait 1\n", {"--clock", "real", "--engine", "http", "--server",
                                                          "127.0.0.1:" + std::to_string(scenario::closedLoopbackPort())})
                           .peakMemoryKB;
    return peak;
}

Transcript run(const std::string& script, const std::vector<std::string>& args, const std::string& dataDir = {})
{
    scenario::ScenarioOptions options;
    options.timeoutSeconds = 30;
    if (!dataDir.empty())
        options.dataDir = dataDir;
    Transcript t = scenario::runScenario(script, args, options);
    EXPECT_EQ(t.exitCode, 0) << t.dump();
    EXPECT_LT(t.peakMemoryKB, quietPeakKB() + kInputShareKB) << "quiet run: " << quietPeakKB() << " KiB\n" << t.dump();
    return t;
}

size_t occurrences(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

void plant(const std::string& path, const std::string& kind)
{
    if (kind == "fifo")
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    else if (kind == "device")
        fs::create_symlink("/dev/zero", path);
    else if (kind == "large")
        scenario::writeFile(path, "{\"x\": \"" + std::string(2 << 20, 'a') + "\"}");
    else if (kind == "sparse") {
        scenario::writeFile(path, "");
        fs::resize_file(path, std::uintmax_t{300} << 20);
    } else  // "deep": 140 KB under a used key, or 20 KB under an unused one
        scenario::writeFile(path, kind == "deep used" ? "{\"soundEnabled\": " + std::string(70000, '[') + std::string(70000, ']') + "}"
                                                      : "{\"x\": " + std::string(10000, '[') + std::string(10000, ']') + "}");
}

TEST(Hardening, UnusableSettingsAndAddressBooksAreSetAsideWithOneMessage)
{
    for (const char* kind : {"deep used", "deep unused", "large", "fifo", "device"}) {
        SCOPED_TRACE(kind);
        scenario::TempDir dir("street-hostile");
        plant(dir.path() + "/defaults.json", kind);
        Transcript t = run("navigate http://127.0.0.1:8642/x.php?stopLoad=true&setSoundEnabled=disabled\n", {}, dir.path());
        EXPECT_EQ(occurrences(t.stderrText, "settings file"), 1u) << t.stderrText;
        std::string saved = dir.path() + "/defaults.json";
        ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(saved)));
        EXPECT_EQ(json::parse(scenario::readFile(saved)), json({{"soundEnabled", false}}));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2) << "kept aside";
    }
    for (const char* kind : {"fifo", "device", "sparse"}) {
        SCOPED_TRACE(kind);
        scenario::TempDir dir("street-hostile");
        plant(dir.path() + "/c.vcf", kind);
        Transcript t = run("navigate http://127.0.0.1:8642" + kRecruit, {"--contacts", dir.path() + "/c.vcf"});
        ASSERT_NE(t.first("contacts"), nullptr) << t.dump();
        EXPECT_EQ((*t.first("contacts"))["count"], 0);
        EXPECT_EQ(occurrences(t.stderrText, "no contacts are listed"), 1u) << t.stderrText;
    }
}

// Only the game server's own pages (its scheme, host and port) and --trusted-host ones give
// commands; the load itself is decided as for any page. Outside links need a host right after
// "//" and no user info.
TEST(Hardening, CommandsRunOnlyForTheGameServersPages)
{
    const std::string commands = "/x.php?invokeVibrate=true&setTab1Badge=9&showABRecruit=true&goToAppId=1"
                                 "&goToURL=http%3A%2F%2F%2Fevil.example&goToEncodedURL=http%3A%2F%2Fbank.example%40evil.example%2F";
    struct Case {
        std::vector<std::string> args;
        std::string origin;
        const char* foreignHost;  // null: trusted
    } cases[] = {
        {{}, "http://127.0.0.1:8642", nullptr},
        {{}, "https://127.0.0.1:8642", "127.0.0.1"},
        {{}, "http://evil.example", "evil.example"},
        {{}, "http://127.0.0.1:8643", "127.0.0.1"},
        {{}, "file://", ""},
        {{"--server", "https://game.example"}, "https://game.example:443", nullptr},
        {{"--server", "https://game.example"}, "http://game.example", "game.example"},
        {{"--server", "HTTPS://Game.Example:4443"}, "https://game.example:4443", nullptr},
        {{"--server", "http://game.example"}, "https://game.example", "game.example"},
        {{"--trusted-host", "Evil.Example"}, "http://evil.example", nullptr},
        {{"--trusted-host", "evil.example"}, "https://evil.example", nullptr},
        {{"--trusted-host", "evil.example"}, "http://evil.example:81", "evil.example"},
        {{"--trusted-host", "evil.example:81"}, "http://evil.example:81", nullptr},
        {{"--trusted-host", "evil.example:81"}, "https://evil.example:81", nullptr},
        {{"--trusted-host", "https://evil.example"}, "https://evil.example", nullptr},
        {{"--trusted-host", "https://evil.example"}, "http://evil.example", "evil.example"},
        {{"--trusted-host", "https://evil.example"}, "https://evil.example:80", "evil.example"},
        {{"--trusted-host", "http://evil.example:81"}, "https://evil.example:81", "evil.example"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.origin);
        Transcript t = run("navigate " + c.origin + commands + "\nstate\n", c.args);
        EXPECT_FALSE(t.last("decide")->value("allow", true));
        bool trusted = !c.foreignHost;
        // Of the outside links, only the store's page has a host and no user info.
        EXPECT_EQ(t.count("vibrate") + t.count("present") + t.count("open-url"), trusted ? 3u : 0u) << t.dump();
        EXPECT_EQ(t.states()[0]["tabBar"]["badges"][1], trusted ? json("9") : json(nullptr));
        auto ignored = t.events("ignored-command");
        ASSERT_EQ(ignored.size(), trusted ? 0u : 6u) << t.dump();
        for (const auto& line : ignored)
            EXPECT_EQ(line["host"], c.foreignHost);
    }
}

struct HostileServer : scenario::DemoServer {
    explicit HostileServer(const std::string& invite = "ok")
        : DemoServer({"/usr/bin/python3", STREET_TESTS_DIR "/tools/hostile_server.py"}, {"--invite", invite})
    {
    }
};

TEST(Hardening, HostilePagesEndInTheirAlerts)
{
    HostileServer server;
    ASSERT_TRUE(server.started());
    const std::string tooLarge = "Unknown error occurred (resource exceeds maximum size).";
    // A file to save, reached directly or by a redirect: refused as in the window.
    const std::string saved = "Unknown error occurred (The server sent a file to download; the game never saves files.).";
    struct Case {
        const char* page;
        int code;  // of the load's failure; 0: it never fails
        std::string alert;
    } cases[] = {
        {"never", 0, ""}, {"drip", 0, ""}, {"foreign", 0, ""}, {"cut", -1005, "Unable to Reach Internet"},
        {"endless", -1103, tooLarge}, {"bomb", -1103, tooLarge}, {"loop", -1007, "too many HTTP redirects"},
        {"attachment", -3102, saved}, {"to-attachment", -3102, saved},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        Transcript t = run("wait 0.3\nnavigate " + server.baseURL() + "/" + c.page + ".php\nwait 3\nstate\n",
                           {"--clock", "real", "--engine", "http", "--server", server.hostPort(), "--movie-seconds", "0.2"});
        EXPECT_EQ(t.last("load-fail") ? (*t.last("load-fail"))["code"].get<int>() : 0, c.code) << t.dump();
        const json* alert = t.last("alert");
        std::string shown = alert ? (*alert)["title"].get<std::string>() + (*alert)["message"].get<std::string>() : "";
        EXPECT_TRUE(c.alert.empty() ? !alert : shown.find(c.alert) != std::string::npos) << t.dump();
        bool foreign = std::string(c.page) == "foreign";
        EXPECT_EQ(t.states()[0]["page"]["loading"], !foreign) << "only a finished load ends it";
        // The foreign page loads like any page, and none of its six commands runs.
        EXPECT_EQ(t.count("ignored-command"), foreign ? 6u : 0u) << t.dump();
        EXPECT_EQ(t.count("vibrate") + t.count("open-url") + t.states()[0]["iconBadge"].get<size_t>(), 0u);
    }
}

// Replies too long, not UTF-8 or with NULs; long texts are cut with an ellipsis. A contact whose
// fields hold line breaks (quoted-printable) cannot forge a form part.
TEST(Hardening, HostileInviteRepliesAndForgedFormParts)
{
    std::string accents;
    for (int i = 0; i < 4000; ++i)
        accents += "\u00e9";
    struct Case {
        const char* mode;
        std::string title, message;
    } cases[] = {
        {"huge", "Fail", "Unknown error occurred.  Please try again later."},
        {"badutf8", "Fail", "Invites could not be sent at this time.  Please try again later."},
        {"nul", std::string("Se\0nt", 5), std::string("Than\0ks", 7)},
        {"long", std::string(4000, 'T') + "\u2026", accents + "\u2026"},
    };
    scenario::TempDir dir("street-hostile");
    scenario::writeFile(dir.path() + "/c.vcf",
                        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:Lee;Ann=0D=0A--0xKhTmLbOuNdArY=0D=0A"
                        "Content-Disposition: form-data=3B name=\"fromUdid\"=0D=0A=0D=0Aforged\r\n"
                        "TEL;ENCODING=QUOTED-PRINTABLE:555=0D1\r\nEMAIL;ENCODING=QUOTED-PRINTABLE:a=0Ab@x.test\r\nEND:VCARD\r\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        HostileServer server(c.mode);
        ASSERT_TRUE(server.started());
        Transcript t = run("navigate " + server.baseURL() + kRecruit + kInvite,
                           {"--server", server.hostPort(), "--contacts", dir.path() + "/c.vcf"});
        ASSERT_TRUE(t.last("alert") && t.first("post")) << t.dump();
        EXPECT_EQ((*t.last("alert"))["title"], c.title);
        EXPECT_EQ((*t.last("alert"))["message"], c.message);
        std::string body = (*t.first("post"))["body"];
        EXPECT_EQ(occurrences(body, "\r\n--0xKhTmLbOuNdArY"), 3u) << body;
        EXPECT_NE(body.find("\r\n\r\nAnn  --0xKhTmLbOuNdArY  Content-Disposition: form-data; name=\"fromUdid\"    "
                            "forged Lee,555 1,a b@x.test,\r\n"), std::string::npos) << body;
    }
}

} // namespace

namespace {

// The HTTP engine follows redirects hop by hop (tests/tools/hostile_server.py: bounce redirects to
// a command URL of the game server 127.0.0.1; via, to bounce; the same server as "localhost" is
// another host). A hop gives commands only when its whole way there was the game's.
TEST(Hardening, RedirectHopsGiveCommandsOnlyWhenTheWayThereWasTheGames)
{
    HostileServer server;
    ASSERT_TRUE(server.started());
    const std::string foreign = "http://localhost:" + std::to_string(server.port());
    const std::pair<std::string, json> cases[] = { // first URL, "from" of the ignored lines (null: they run)
        {server.baseURL() + "/bounce.php", nullptr}, {foreign + "/bounce.php", "localhost"}, {foreign + "/via.php", "localhost"},
    };
    for (const auto& [url, from] : cases) {
        SCOPED_TRACE(url);
        Transcript t = run("wait 0.3\nnavigate " + url + "\nwait 2\nstate\n",
                           {"--clock", "real", "--engine", "http", "--server", server.hostPort(), "--movie-seconds", "0.2"});
        bool runs = from.is_null();
        EXPECT_EQ(t.states()[0]["tabBar"]["badges"][0], runs ? json("redirect") : json()) << t.dump();
        EXPECT_EQ(t.count("vibrate"), runs ? 1u : 0u);
        auto ignored = t.events("ignored-command");
        EXPECT_EQ(ignored.size(), runs ? 0u : 2u) << t.dump();
        for (const auto& line : ignored)
            EXPECT_EQ(line["from"], from) << line.dump();
        ASSERT_NE(t.last("load-fail"), nullptr) << t.dump();
        EXPECT_EQ((*t.last("load-fail"))["code"], -999) << "stopLoad=true refuses the hop";
    }
}

// A redirect hop to another scheme reaches the bridge, is refused, and ends its load as any
// refused hop does: quietly, the page stays, and the next tab loads.
TEST(Hardening, RedirectHopsToOtherSchemesEndTheirLoadAsRefused)
{
    HostileServer server;
    ASSERT_TRUE(server.started());
    const std::pair<std::string, std::string> cases[] = { // page, the hop
        {"/tofile.php", "file:///etc/passwd"}, {"/toscheme.php?to=foo:bar", "foo:bar"},
        {"/toscheme.php?to=view-source:http://127.0.0.1/news.php", "view-source:http://127.0.0.1/news.php"},
    };
    for (const auto& [page, hop] : cases) {
        SCOPED_TRACE(page);
        Transcript t = run("wait 2.7\nnavigate " + server.baseURL() + page + "\nwait 0.5\ntap Street\nwait 0.5\nstate\n",
                           {"--clock", "real", "--engine", "http", "--server", server.hostPort(), "--movie-seconds", "0.2"});
        std::vector<json> decided;
        for (const auto& line : t.events("decide"))
            decided.push_back(line["url"]);
        ASSERT_GE(decided.size(), 3u) << t.dump();
        EXPECT_EQ(decided[decided.size() - 2], hop) << t.dump();
        ASSERT_NE(t.first("scheme-refused"), nullptr) << t.dump();
        EXPECT_EQ((*t.first("scheme-refused"))["url"], hop);
        ASSERT_EQ(t.count("load-fail"), 1u) << t.dump();
        EXPECT_EQ((*t.first("load-fail"))["code"], -999);
        EXPECT_EQ((*t.first("load-fail"))["url"], server.baseURL() + page);
        EXPECT_EQ(t.count("alert"), 0u) << t.dump();
        EXPECT_EQ(t.states()[0]["tabBar"]["selected"], 1);
        EXPECT_EQ((*t.last("load-finish"))["url"], server.baseURL() + "/missions.php?showMissionsBg=true");
    }
}

} // namespace
