// Hostile input end to end: settings files and address books that are not what they claim,
// commands from foreign pages, and a misbehaving server (tests/tools/hostile_server.py) for
// pages and invite replies. Every run must end on its own, with the client's memory bounded.

#include "support/Scenario.h"

#include "kit/Application.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using nlohmann::json;
using scenario::Transcript;
namespace fs = std::filesystem;

const std::string kBase = "http://127.0.0.1:8642/";
const std::string kOpenRecruit = "bank.php?showABRecruit=true\npress Continue\n";

#if defined(__SANITIZE_ADDRESS__)
constexpr long kMemoryCapKB = 0;  // the sanitizer's own bookkeeping is no measure
#else
constexpr long kMemoryCapKB = 100 * 1024;
#endif

Transcript run(const std::string& script, const std::vector<std::string>& args = {}, std::string dataDir = {})
{
    scenario::ScenarioOptions options;
    options.timeoutSeconds = 30;
    if (!dataDir.empty())
        options.dataDir = dataDir;
    Transcript t = scenario::runScenario(script, args, options);
    EXPECT_EQ(t.exitCode, 0) << t.dump();
    if (kMemoryCapKB) {
        EXPECT_LT(t.peakMemoryKB, kMemoryCapKB) << t.dump();
    }
    return t;
}

size_t occurrences(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Puts something hostile at `path`: deep JSON, a huge file, a FIFO, a device.
void plant(const std::string& path, const std::string& kind)
{
    if (kind == "fifo")
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    else if (kind == "device")
        fs::create_symlink("/dev/zero", path);
    else if (kind == "sparse") {
        scenario::writeFile(path, "");
        fs::resize_file(path, std::uintmax_t{300} << 20);
    }
    else if (kind == "deep value")
        scenario::writeFile(path, "{\"soundEnabled\": " + std::string(70000, '[') + std::string(70000, ']') + "}");
    else if (kind == "deep unused")
        scenario::writeFile(path, "{\"x\": " + std::string(10000, '[') + std::string(10000, ']') + "}");
    else if (kind == "large")
        scenario::writeFile(path, "{\"x\": \"" + std::string(2 << 20, 'a') + "\"}");
}

TEST(Hardening, UnusableSettingsFileIsSetAsideAndFreshValuesAreSaved)
{
    for (const char* kind : {"deep value", "deep unused", "large", "fifo", "device"}) {
        SCOPED_TRACE(kind);
        scenario::TempDir dir("street-hostile-settings");
        plant(dir.path() + "/defaults.json", kind);
        Transcript t = run("navigate " + kBase + "x.php?stopLoad=true&setSoundEnabled=disabled\nstate\n", {}, dir.path());
        ASSERT_EQ(t.states().size(), 1u) << t.dump();
        EXPECT_FALSE(t.states()[0]["settings"]["soundEnabled"].get<bool>());
        EXPECT_EQ(occurrences(t.stderrText, "settings file"), 1u) << t.stderrText;
        std::string saved = dir.path() + "/defaults.json";
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(saved)));
        EXPECT_LT(fs::file_size(saved), 100u) << "the new file holds only the fresh value";
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2) << "kept aside";
    }
}

TEST(Hardening, UnusableAddressBookListsNoContacts)
{
    for (const char* kind : {"fifo", "device", "sparse"}) {
        SCOPED_TRACE(kind);
        scenario::TempDir dir("street-hostile-contacts");
        plant(dir.path() + "/c.vcf", kind);
        Transcript t = run("navigate " + kBase + kOpenRecruit, {"--contacts", dir.path() + "/c.vcf"});
        ASSERT_NE(t.first("contacts"), nullptr) << t.dump();
        EXPECT_EQ((*t.first("contacts"))["count"], 0);
        EXPECT_EQ(occurrences(t.stderrText, "no contacts are listed"), 1u) << t.stderrText;
    }
}

// A name, number and address with line breaks (quoted-printable) cannot add a form part.
TEST(Hardening, LineBreaksInInviteFieldsBecomeSpaces)
{
    scenario::TempDir dir("street-hostile-vcf");
    scenario::writeFile(dir.path() + "/c.vcf",
                        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:Lee;Ann=0D=0A--0xKhTmLbOuNdArY=0D=0A"
                        "Content-Disposition: form-data=3B name=\"fromUdid\"=0D=0A=0D=0Aforged\r\n"
                        "TEL;ENCODING=QUOTED-PRINTABLE:555=0D1\r\nEMAIL;ENCODING=QUOTED-PRINTABLE:a=0Ab@x.test\r\n"
                        "END:VCARD\r\n");
    std::string server = "127.0.0.1:" + std::to_string(scenario::closedLoopbackPort());
    Transcript t = run("navigate http://" + server + "/" + kOpenRecruit + "type Jo\npress Done\nrow 0 0\ntoolbar Send Invites\n",
                       {"--server", server, "--contacts", dir.path() + "/c.vcf"});
    ASSERT_NE(t.first("post"), nullptr) << t.dump();
    std::string body = (*t.first("post"))["body"];
    EXPECT_EQ(occurrences(body, "\r\n--0xKhTmLbOuNdArY"), 3u) << body;
    EXPECT_NE(body.find("\r\n\r\nAnn  --0xKhTmLbOuNdArY  Content-Disposition: form-data; name=\"fromUdid\"    forged Lee,"
                        "555 1,a b@x.test,\r\n"),
              std::string::npos)
        << body;
}

TEST(Hardening, OutsideLinksNeedAHostAndNoUserInfo)
{
    for (auto [url, openable] : std::initializer_list<std::pair<const char*, bool>>{
             {"http:///evil.example", false}, {"http://?", false}, {"http://bank.example@evil.example/", false},
             {"http://:pw@evil.example/", false}, {"https://evil.example:8443/a?b=c#d", true}, {"http://[::1]:8/", true}})
        EXPECT_EQ(kit::Application::isOpenableURL(url), openable) << url;
}

// Only the game server's own pages (and --trusted-host ones) give commands; the load itself is
// decided as for any page.
TEST(Hardening, CommandsRunOnlyForTheGameServersPages)
{
    const std::string commands = "/x.php?invokeVibrate=true&setTab1Badge=9&goToURL=http%3A%2F%2Fa.example%2F&showABRecruit=true";
    struct Case {
        std::vector<std::string> args;
        std::string origin;
        const char* foreignHost;  // null: trusted
    } cases[] = {
        {{}, "https://127.0.0.1:8642", nullptr},
        {{}, "http://evil.example", "evil.example"},
        {{}, "http://127.0.0.1:8643", "127.0.0.1"},
        {{}, "file://", ""},
        {{"--trusted-host", "Evil.Example"}, "http://evil.example", nullptr},
        {{"--trusted-host", "evil.example"}, "http://evil.example:81", "evil.example"},
        {{"--trusted-host", "evil.example:81"}, "http://evil.example:81", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.origin);
        Transcript t = run("navigate " + c.origin + commands + "\nstate\n", c.args);
        EXPECT_FALSE(t.last("decide")->value("allow", true));
        bool trusted = !c.foreignHost;
        EXPECT_EQ(t.count("vibrate") + t.count("open-url") + t.count("present"), trusted ? 3u : 0u) << t.dump();
        EXPECT_EQ(t.states()[0]["tabBar"]["badges"][1], trusted ? json("9") : json(nullptr));
        auto ignored = t.events("ignored-command");
        ASSERT_EQ(ignored.size(), trusted ? 0u : 4u) << t.dump();
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

TEST(Hardening, HostilePagesEndInTheirAlertsWithBoundedMemory)
{
    HostileServer server;
    ASSERT_TRUE(server.started());
    const json none = nullptr;
    struct Case {
        const char* page;
        json code;          // of the load's failure; null: it never fails
        const char* alert;  // the alert it raises, if any
    } cases[] = {
        {"never", none, nullptr},
        {"drip", none, nullptr},
        {"cut", -1005, "Unable to Reach Internet"},
        {"endless", -1103, "Unknown error occurred (resource exceeds maximum size)."},
        {"bomb", -1103, "Unknown error occurred (resource exceeds maximum size)."},
        {"loop", -1007, "Unknown error occurred (too many HTTP redirects)."},
        {"foreign", none, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        Transcript t = run("wait 0.3\nnavigate " + server.baseURL() + "/" + c.page + ".php\nwait 3\nstate\n",
                           {"--clock", "real", "--engine", "http", "--server", server.hostPort(), "--movie-seconds", "0.2"});
        const json* fail = t.last("load-fail");
        EXPECT_EQ(fail ? (*fail)["code"] : none, c.code) << t.dump();
        const json* alert = t.last("alert");
        std::string shown = alert ? (*alert)["title"].get<std::string>() + (*alert)["message"].get<std::string>() : "";
        EXPECT_EQ(alert != nullptr, c.alert != nullptr) << t.dump();
        if (c.alert) {
            EXPECT_NE(shown.find(c.alert), std::string::npos) << shown;
        }
        bool foreign = std::string(c.page) == "foreign";
        EXPECT_EQ(t.states()[0]["page"]["loading"], !foreign) << "only a finished load ends it";
        // The foreign page loads like any page, and none of its six commands runs.
        EXPECT_EQ(t.count("ignored-command"), foreign ? 6u : 0u) << t.dump();
        EXPECT_EQ(t.count("vibrate") + t.count("open-url"), 0u) << t.dump();
        EXPECT_EQ(t.states()[0]["iconBadge"], 0);
    }
}

TEST(Hardening, HostileInviteRepliesAreRefusedOrShownCut)
{
    const std::string cut4000 = std::string(4000, 'T') + "\u2026";
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
        {"long", cut4000, accents + "\u2026"},
    };
    scenario::TempDir dir("street-hostile-invite");
    scenario::writeFile(dir.path() + "/c.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nEND:VCARD\r\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        HostileServer server(c.mode);
        ASSERT_TRUE(server.started());
        Transcript t = run("navigate " + server.baseURL() + "/" + kOpenRecruit + "type Jo\npress Done\nrow 0 0\ntoolbar Send Invites\n",
                           {"--server", server.hostPort(), "--contacts", dir.path() + "/c.vcf"});
        ASSERT_NE(t.last("alert"), nullptr) << t.dump();
        EXPECT_EQ((*t.last("alert"))["title"], c.title);
        EXPECT_EQ((*t.last("alert"))["message"], c.message);
    }
}

} // namespace
