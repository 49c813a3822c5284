// Which game server the client talks to: the command line over STREET_SERVER over the player's
// client.ini over the build's own, told by the signed entry request; what a bad value in each
// says; and the demo server that stands in for the built-in demo address when nothing answers.

#include "kit/ServerChoice.h"
#include "shell/DemoServerProcess.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using kit::ServerChoice;
using scenario::Transcript;

size_t lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The scheme and authority of the first load the client starts (the signed entry request).
std::string entryServer(const Transcript& t)
{
    const auto* start = t.first("load-start");
    if (!start)
        return "";
    std::string url = (*start)["url"];
    return url.substr(0, url.find("/points.php"));
}

std::string asURL(const std::string& server) { return server.find("://") == std::string::npos ? "http://" + server : server; }

// A run with its own configuration directory, holding `file` as client.ini unless it is none.
struct Setting {
    Setting(std::optional<std::string> file = std::nullopt, std::optional<std::string> environment = std::nullopt,
            std::vector<std::string> args = {})
        : file(std::move(file)), environment(std::move(environment)), args(std::move(args))
    {
    }
    std::optional<std::string> file;
    std::optional<std::string> environment;  // STREET_SERVER; none: unset
    std::vector<std::string> args;
};

Transcript runWith(const Setting& setting, const std::string& script = "state\n", std::vector<std::string> args = {},
                   scenario::ScenarioOptions options = {})
{
    // The configuration directory outlives the run; XDG_CONFIG_HOME points there.
    static int counter = 0;
    std::string config = fs::temp_directory_path() / ("street-choice-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    fs::create_directories(config + "/street-client");
    if (setting.file)
        scenario::writeFile(config + "/street-client/client.ini", *setting.file);
    options.environment.emplace_back("XDG_CONFIG_HOME", config);
    options.environment.emplace_back("STREET_SERVER", setting.environment.value_or(""));
    options.timeoutSeconds = 30;
    args.insert(args.end(), setting.args.begin(), setting.args.end());
    auto t = scenario::runScenario(script, args, options);
    scenario::removeTree(config);
    return t;
}

TEST(ServerChoice, TheCommandLineTheEnvironmentTheFileAndTheBuildInThatOrder)
{
    const std::string built = scenario::compiledInServer();
    const struct {
        const char* what;
        Setting setting;
        std::string expected;
    } cases[] = {
        {"nothing named", {}, built},
        {"the file alone", {"server=file.example:81\n"}, "file.example:81"},
        {"the environment over the file", {"server=file.example:81\n", "env.example:82"}, "env.example:82"},
        {"the command line over both", {"server=file.example:81\n", "env.example:82", {"--server", "cli.example:83"}}, "cli.example:83"},
        {"the command line alone", {std::nullopt, std::nullopt, {"--server", "https://cli.example"}}, "https://cli.example"},
        {"the environment alone", {std::nullopt, "https://env.example:8443"}, "https://env.example:8443"},
        {"an empty environment names none", {"server=file.example:81\n", ""}, "file.example:81"},
        {"an empty server= names none", {"server=\n"}, built},
        {"the last server= wins", {"server=one.example\nserver=two.example\n"}, "two.example"},
        {"comments, blanks, spaces, CRLF and a BOM",
         {"\xEF\xBB\xBF# the game\r\n\r\n; our server\r\n  server =  https://file.example:444  \r\n"}, "https://file.example:444"},
        {"a comment is not a value", {"#server=no.example\n"}, built},
        {"a file without an end of line", {"server=file.example"}, "file.example"},
        {"an empty file", {""}, built},
        // Read only when nothing above it names a server, so a broken file can be stepped round.
        {"the environment over a broken file", {"server=ftp://x\n", "env.example"}, "env.example"},
        {"the command line over a broken file", {"what\n", std::nullopt, {"--server", "cli.example"}}, "cli.example"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto t = runWith(c.setting);
        EXPECT_EQ(t.exitCode, 0) << t.stderrText;
        EXPECT_EQ(entryServer(t), asURL(c.expected)) << t.dump();
        EXPECT_EQ(t.stderrText, "");
    }
}

TEST(ServerChoice, TheFileLivesUnderXdgConfigHomeElseUnderHome)
{
    scenario::TempDir home("street-home");
    fs::create_directories(home.path() + "/.config/street-client");
    scenario::writeFile(home.path() + "/.config/street-client/client.ini", "server=home.example:90\n");
    // An unset or relative XDG_CONFIG_HOME is no configuration directory.
    for (const char* xdg : {"", "relative/dir"}) {
        SCOPED_TRACE(xdg);
        scenario::ScenarioOptions options;
        options.environment = {{"HOME", home.path()}, {"XDG_CONFIG_HOME", xdg}, {"STREET_SERVER", ""}};
        auto t = scenario::runScenario("state\n", {}, options);
        EXPECT_EQ(entryServer(t), "http://home.example:90") << t.stderrText << t.dump();
    }
}

TEST(ServerChoice, UnknownKeysAreOneWarningEachAndTheRestHolds)
{
    auto t = runWith({"colour=red\nserver=file.example\nServer=other.example\n"});
    EXPECT_EQ(t.exitCode, 0);
    EXPECT_EQ(entryServer(t), "http://file.example") << t.dump();
    ASSERT_EQ(lines(t.stderrText), 2u) << t.stderrText;
    EXPECT_TRUE(contains(t.stderrText, "client.ini line 1: unknown key 'colour', ignored")) << t.stderrText;
    EXPECT_TRUE(contains(t.stderrText, "client.ini line 3: unknown key 'Server', ignored")) << t.stderrText;
}

// A bad value is a bad command line: one line that says where, status 2, nothing played.
TEST(ServerChoice, ABadValueIsOneMessageNamingWhereItCameFrom)
{
    const struct {
        const char* what;
        Setting setting;
        std::string said;
    } cases[] = {
        {"another scheme in the file", {"# mine\n\nserver=ftp://game.example\n"},
         "client.ini line 3: server takes HOST[:PORT], http://HOST[:PORT] or https://HOST[:PORT], not 'ftp://game.example'"},
        {"a path in the file", {"server=game.example/play\n"}, "client.ini line 1: server takes"},
        {"a port out of range in the file", {"server=game.example:70000\n"}, "client.ini line 1: server takes"},
        {"quotes in the file", {"server=\"game.example\"\n"}, "client.ini line 1: server takes"},
        {"a line that is no setting", {"server=game.example\n[client]\n"}, "client.ini line 2: not a KEY=VALUE line: '[client]'"},
        {"a control byte, shown escaped", {"server=game\x1b[2J.example\n"}, "not 'game\\x1b[2J.example'"},
        {"the environment", {"server=file.example\n", "game.example:0"},
         "STREET_SERVER takes HOST[:PORT], http://HOST[:PORT] or https://HOST[:PORT], not 'game.example:0'"},
        {"the environment with user information", {std::nullopt, "me@game.example"}, "STREET_SERVER takes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto t = runWith(c.setting);
        EXPECT_EQ(t.exitCode, 2);
        EXPECT_EQ(lines(t.stderrText), 1u) << t.stderrText;
        EXPECT_TRUE(contains(t.stderrText, "street-client: ")) << t.stderrText;
        EXPECT_TRUE(contains(t.stderrText, c.said)) << t.stderrText;
        EXPECT_TRUE(t.lines.empty()) << t.dump();
    }
}

// What sits at the file's place is never waited on, nor read whole: one line, status 2.
TEST(ServerChoice, AFileThatIsNoFileIsOneMessageAndNeverAWait)
{
    for (const std::string kind : {"directory", "fifo", "device", "huge", "unreadable"}) {
        SCOPED_TRACE(kind);
        if (kind == "unreadable" && ::geteuid() == 0)
            continue;  // root reads it anyway
        scenario::TempDir config("street-odd");
        std::string dir = config.path() + "/street-client", file = dir + "/client.ini";
        fs::create_directories(dir);
        std::string said = "is not a regular file";
        if (kind == "directory") {
            fs::create_directory(file);
        } else if (kind == "fifo") {
            ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        } else if (kind == "device") {
            fs::create_symlink("/dev/zero", file);
        } else if (kind == "huge") {
            scenario::writeFile(file, "");
            fs::resize_file(file, std::uintmax_t{300} << 20);
            said = "is larger than 65536 bytes";
        } else {
            scenario::writeFile(file, "server=game.example\n");
            fs::permissions(file, fs::perms::none);
            said = "cannot be read (Permission denied)";
        }
        scenario::ScenarioOptions options;
        options.timeoutSeconds = 20;
        options.environment = {{"XDG_CONFIG_HOME", config.path()}, {"STREET_SERVER", ""}};
        auto t = scenario::runScenario("state\n", {}, options);
        EXPECT_FALSE(t.timedOut);
        EXPECT_EQ(t.exitCode, 2);
        EXPECT_EQ(t.stderrText, "street-client: " + file + " " + said + "\n");
    }
}

// check-page reads a file as the game server in force serves it; explain explains a URL as that
// server's page loads it.
TEST(ServerChoice, TheToolsTakeTheServerAsTheClientDoes)
{
    scenario::TempDir dir("street-tools");
    scenario::writeFile(dir.path() + "/page.html", "<a href=\"/cars.php?showCarsBg=true\">cars</a>\n");
    const struct {
        const char* what;
        Setting setting;
        std::string page;
    } cases[] = {
        {"the file", {"server=file.example:81\n"}, "http://file.example:81/page.html"},
        {"the environment", {"server=file.example:81\n", "https://env.example"}, "https://env.example/page.html"},
        {"--server", {"server=file.example:81\n", "https://env.example", {"--server", "cli.example"}}, "http://cli.example/page.html"},
    };
    scenario::ScenarioOptions raw;
    raw.rawCommandLine = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto t = runWith(c.setting, "", {"check-page", dir.path() + "/page.html", "--json"}, raw);
        EXPECT_EQ(t.exitCode, 0) << t.stderrText;
        auto out = nlohmann::json::parse(t.stdoutText, nullptr, false);
        ASSERT_TRUE(out.is_object()) << t.stdoutText;
        EXPECT_EQ(out["page"], c.page);
        EXPECT_EQ(out["urls"][0]["url"], c.page.substr(0, c.page.rfind('/')) + "/cars.php?showCarsBg=true");
    }
    // The file's server's pages give commands; the built-in one's are foreign to it.
    for (const auto& [url, foreign] : std::vector<std::pair<std::string, bool>>{
             {"http://file.example:81/x.php?setTab1Badge=2", false}, {"http://127.0.0.1:8642/x.php?setTab1Badge=2", true}}) {
        SCOPED_TRACE(url);
        auto t = runWith({"server=file.example:81\n"}, "", {"explain", url, "--json"}, raw);
        auto out = nlohmann::json::parse(t.stdoutText, nullptr, false);
        ASSERT_TRUE(out.is_object()) << t.stdoutText << t.stderrText;
        ASSERT_EQ(out["commands"].size(), 1u) << t.stdoutText;
        EXPECT_EQ(contains(out["commands"][0]["effect"], "is not the game server's"), foreign) << t.stdoutText;
    }
    auto bad = runWith({"server=nope/x\n"}, "", {"explain", "http://127.0.0.1:8642/x.php"}, raw);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(lines(bad.stderrText), 1u) << bad.stderrText;
}

TEST(ServerChoice, TheBuildsOwnServerIsCheckedBeforeAnythingElse)
{
    scenario::TempDir dir("street-resolve");
    ServerChoice::Inputs inputs;
    inputs.configFile = dir.path() + "/client.ini";
    for (const std::string bad : {"", "ftp://game.example", "game.example/x", "game.example:"}) {
        SCOPED_TRACE(bad);
        inputs.compiledIn = bad;
        inputs.commandLine = "cli.example";
        auto outcome = ServerChoice::resolve(inputs);
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_EQ(outcome.server, "");
        EXPECT_TRUE(contains(outcome.error, "the game server this build was made with (STREET_GAME_SERVER) is not"))
            << outcome.error;
    }
    inputs.compiledIn = "https://game.example";
    inputs.commandLine.reset();
    auto outcome = ServerChoice::resolve(inputs);
    EXPECT_EQ(outcome.server, "https://game.example");
    EXPECT_EQ(outcome.source, ServerChoice::Source::CompiledIn);
}

// The demo server a run starts for itself. The built-in demo address must be free for that:
// on a machine where something answers at 127.0.0.1:8642 the client rightly talks to it instead.
bool demoAddressAnswers() { return shell::DemoServerProcess::loopbackAnswers(8642, std::chrono::milliseconds(500)); }

bool processGone(pid_t pid)
{
    for (int i = 0; i < 1000; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        auto close = text.rfind(')');
        // Gone, or a zombie that no init reaps here.
        if (!stat || close == std::string::npos || text.substr(close + 2, 1) == "Z")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(DemoServerStandIn, NothingAtTheDemoAddressAndNoServerNamedPlaysTheDemoServer)
{
    if (scenario::compiledInServer() != scenario::kDemoAddress)
        GTEST_SKIP() << "this build names its own game server, which is never stood in for";
    if (demoAddressAnswers())
        GTEST_SKIP() << "something answers at 127.0.0.1:8642 here, and the client talks to it";
    auto t = runWith({}, "wait 2\nstate\n", {"--clock", "real", "--engine", "http"});
    EXPECT_EQ(t.exitCode, 0) << t.stderrText;
    std::string server = entryServer(t);
    ASSERT_TRUE(server.starts_with("http://127.0.0.1:")) << t.dump();
    int port = std::stoi(server.substr(server.rfind(':') + 1));
    EXPECT_NE(port, 8642);
    EXPECT_NE(t.first("load-finish"), nullptr) << t.dump();
    EXPECT_EQ(t.stderrText, "street-client: nothing answers at 127.0.0.1:8642; playing the demo server started at 127.0.0.1:"
                                + std::to_string(port) + "\n");
    // It ended with the client.
    EXPECT_FALSE(shell::DemoServerProcess::loopbackAnswers(port, std::chrono::milliseconds(500)));
}

TEST(DemoServerStandIn, ItEndsWhenTheClientIsKilled)
{
    if (scenario::compiledInServer() != scenario::kDemoAddress || demoAddressAnswers())
        GTEST_SKIP() << "needs the built-in demo address, free";
    pid_t demo = -1;
    scenario::ScenarioOptions options;
    options.whileRunning = [&demo](pid_t client) {
        if (demo > 0)
            return;
        std::ifstream children("/proc/" + std::to_string(client) + "/task/" + std::to_string(client) + "/children");
        pid_t child = -1;
        if (!(children >> child))
            return;
        std::ifstream cmdline("/proc/" + std::to_string(child) + "/cmdline");
        std::string command((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        if (command.find("demo-server") == std::string::npos)
            return;
        demo = child;
        ::kill(client, SIGKILL);
    };
    auto t = runWith({}, "wait 20\n", {"--clock", "real", "--engine", "http"}, options);
    ASSERT_GT(demo, 0) << "no demo server seen: " << t.stderrText;
    EXPECT_EQ(t.exitCode, 128 + SIGKILL);
    EXPECT_TRUE(processGone(demo));
}

TEST(DemoServerStandIn, AServerSomeoneNamedIsNeverStoodInFor)
{
    const std::string closed = "127.0.0.1:" + std::to_string(scenario::closedLoopbackPort());
    const struct {
        const char* what;
        Setting setting;
        std::string expected;
    } cases[] = {
        {"the demo address on the command line", {std::nullopt, std::nullopt, {"--server", "127.0.0.1:8642"}}, "127.0.0.1:8642"},
        {"the demo address in the environment", {std::nullopt, "127.0.0.1:8642"}, "127.0.0.1:8642"},
        {"the demo address in the file", {"server=127.0.0.1:8642\n"}, "127.0.0.1:8642"},
        {"another address in the file", {"server=" + closed + "\n"}, closed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto t = runWith(c.setting, "wait 1\n", {"--clock", "real", "--engine", "http"});
        EXPECT_EQ(t.exitCode, 0);
        EXPECT_EQ(entryServer(t), asURL(c.expected)) << t.dump();
        EXPECT_EQ(t.stderrText, "");
    }
}

TEST(DemoServerProcess, ItsFirstLineNamesItsPortOrItIsStoppedWithAReason)
{
    scenario::TempDir dir("street-demo-start");
    auto script = [&](const std::string& name, const std::string& body) {
        std::string path = dir.path() + "/" + name;
        scenario::writeFile(path, "#!/bin/sh\n" + body + "\n");
        fs::permissions(path, fs::perms::owner_all);
        return path;
    };
    const struct {
        std::string program;
        std::string why;
    } cases[] = {
        {dir.path() + "/missing", "No such file or directory"},
        {script("ends", "exit 3"), "it ended without saying where it listens"},
        {script("other", "echo 'ready'; exec sleep 30"), "it said 'ready'"},
        {script("silent", "exec sleep 30"), "it did not say where it listens within 300 ms"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        std::string why;
        auto demo = shell::DemoServerProcess::start(c.program, std::chrono::milliseconds(300), why);
        EXPECT_EQ(demo, nullptr);
        EXPECT_TRUE(contains(why, c.why)) << why;
    }

    std::string why;
    auto demo = shell::DemoServerProcess::start(STREET_DEMO_SERVER_BIN, std::chrono::seconds(10), why);
    ASSERT_NE(demo, nullptr) << why;
    int port = demo->port();
    EXPECT_EQ(demo->hostPort(), "127.0.0.1:" + std::to_string(port));
    EXPECT_TRUE(shell::DemoServerProcess::loopbackAnswers(port, std::chrono::seconds(1)));
    demo.reset();
    EXPECT_FALSE(shell::DemoServerProcess::loopbackAnswers(port, std::chrono::milliseconds(500)));
}

} // namespace
