// The headless runner: its command line, the script language, and how a script plays against
// the running client (through the built binary).

#include "backend/headless/Runner.h"
#include "shell/Script.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

using shell::Engine;
using shell::ParseResult;
using shell::Script;
using Kind = shell::ScriptCommand::Kind;

ParseResult parseArgs(std::vector<std::string> args)
{
    args.insert(args.begin(), "street-client");
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return shell::parseCommandLine(static_cast<int>(args.size()), argv.data());
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using Values = std::vector<nlohmann::json>;

Values fieldOf(const scenario::Transcript& t, const std::string& ev, const std::string& field)
{
    Values out;
    for (const auto& line : t.events(ev))
        out.push_back(line.value(field, nlohmann::json()));
    return out;
}

TEST(RunnerCommandLine, FlagsTheirDefaultsAndHelp)
{
    auto parsed = parseArgs({"--headless", "--script", "s.txt", "--transcript", "-", "--server", "example.test:81", "--engine", "http",
                             "--clock", "real", "--data-dir", "/d", "--resources", "/r", "--contacts", "c.vcf", "--udid", "U1", "--model",
                             "M", "--system-version", "9.1", "--audio-route", "none", "--push", "no", "--icon-badge", "no",
                             "--movie-seconds", "0.25"});
    ASSERT_TRUE(parsed.options) << parsed.message;
    const auto& o = *parsed.options;
    EXPECT_TRUE(o.headless);
    using Text = std::optional<std::string>;
    EXPECT_EQ(std::vector<Text>({o.script, o.transcript, o.server, o.dataDir, o.resources, o.contacts, o.udid, o.model, o.systemVersion,
                                 o.audioRoute}),
              std::vector<Text>({"s.txt", "-", "example.test:81", "/d", "/r", "c.vcf", "U1", "M", "9.1", "none"}));
    EXPECT_EQ(o.engine, Engine::Http);
    EXPECT_EQ(o.clock, shell::ClockKind::Real);
    EXPECT_FALSE(o.push || o.iconBadge);
    EXPECT_DOUBLE_EQ(o.movieSeconds, 0.25);

    // A value may be written with its flag; only the first '=' separates them.
    parsed = parseArgs({"--headless", "--server=example.test:82", "--udid=a=b", "--audio-route="});
    ASSERT_TRUE(parsed.options) << parsed.message;
    EXPECT_EQ(parsed.options->server, "example.test:82");
    EXPECT_EQ(parsed.options->udid, "a=b");
    EXPECT_EQ(parsed.options->audioRoute, "");
    EXPECT_FALSE(parseArgs({"--headless", "--headless=yes"}).options);

    // Engine and clock are left to the run; push and the badge are offered; an empty audio route
    // (silent) and a 0 s movie are legal.
    parsed = parseArgs({"--headless", "--audio-route", "", "--movie-seconds", "0"});
    ASSERT_TRUE(parsed.options) << parsed.message;
    EXPECT_FALSE(parsed.options->engine || parsed.options->clock);
    EXPECT_TRUE(parsed.options->push && parsed.options->iconBadge);
    EXPECT_EQ(parsed.options->audioRoute, "");
    EXPECT_DOUBLE_EQ(parseArgs({"--headless"}).options->movieSeconds, 3.0);

    auto help = parseArgs({"--help"});
    EXPECT_FALSE(help.options);
    EXPECT_EQ(help.exitCode, 0);
    for (const char* flag : {"--headless", "--script", "--transcript", "--server", "--engine", "--clock", "--data-dir", "--resources",
                             "--contacts", "--udid", "--model", "--system-version", "--audio-route", "--push", "--icon-badge",
                             "--movie-seconds", "--help", "--version"})
        EXPECT_TRUE(contains(help.message, flag)) << flag;
    EXPECT_EQ(parseArgs({"--headless", "--help", "--bogus"}).exitCode, 0) << "--help wins over a later refusal";
    auto version = parseArgs({"--version"});
    EXPECT_FALSE(version.options);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.message, "street-client 1.53\n");
}

// A game server or trusted host is a host, an optional port and at most an http or https scheme.
TEST(RunnerCommandLine, ServersAreAHostAPortAndAtMostAWebScheme)
{
    const std::vector<std::string> good{"game.example", "game.example:8080", "127.0.0.1:1", "127.0.0.1:65535", "[::1]:4443",
                                        "[::1]", "http://game.example", "https://game.example:4443", "HTTPS://Game.Example",
                                        "https://127.0.0.1:00443"};
    const std::vector<std::string> bad{"", "https://", "http://:80", ":80", "ftp://game.example", "file:///etc/passwd",
                                       "https://game.example/", "game.example/", "https://game.example/points.php",
                                       "game.example?x=1", "game.example#top", "user@game.example", "https://user:pw@game.example",
                                       "game.example:0", "game.example:65536", "game.example:", "game.example:8o", "game.example:+80",
                                       "https://https://game.example", "https:game.example", "game example", "::1", "[::1",
                                       "game.example:443:443", "https:\\game.example"};
    for (const std::string flag : {"--server", "--trusted-host"}) {
        for (const auto& value : good) {
            auto parsed = parseArgs({"--headless", flag, value});
            ASSERT_TRUE(parsed.options) << flag << " " << value << ": " << parsed.message;
            EXPECT_EQ(flag == "--server" ? *parsed.options->server : parsed.options->trustedHosts.at(0), value);
        }
        for (const auto& value : bad) {
            auto parsed = parseArgs({"--headless", flag, value});
            EXPECT_FALSE(parsed.options) << flag << " " << value;
            EXPECT_EQ(parsed.exitCode, 2) << flag << " " << value;
            // One message, naming the flag, the forms it takes and the value given.
            EXPECT_TRUE(parsed.message.starts_with("street-client: " + flag + " takes HOST[:PORT], http://HOST[:PORT] or "
                                                   "https://HOST[:PORT], not '" + value + "'\n"))
                << parsed.message;
            EXPECT_EQ(parsed.message.find("street-client:", 1), std::string::npos) << parsed.message;
        }
    }
}

TEST(RunnerCommandLine, BadFlagsAndValuesExitWithStatusTwoAndSayWhatIsWrong)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{ // arguments after --headless, what the message names
        {{"--bogus"}, "--bogus"}, {{"--engine", "gecko"}, "gecko"}, {{"--clock", "fast"}, "fast"}, {{"--push", "maybe"}, "--push"},
        {{"--icon-badge", "1"}, "--icon-badge"}, {{"--movie-seconds", "-1"}, "--movie-seconds"},
        {{"--movie-seconds", "nan"}, "--movie-seconds"}, {{"--movie-seconds", "inf"}, "--movie-seconds"},
        {{"--movie-seconds", "3s"}, "--movie-seconds"}, {{"--movie-seconds", ""}, "--movie-seconds"}, {{"--script"}, "--script"},
        {{"--script", ""}, "--script"}, {{"stray"}, "stray"}, {{"-x"}, "-x"},
        // Pages fetched over HTTP cannot wait for virtual time.
        {{"--script", "s.txt", "--engine", "http"}, "--clock real"}, {{"--engine", "http", "--clock", "virtual"}, "--clock real"},
    };
    for (auto [args, mentions] : cases) {
        args.insert(args.begin(), "--headless");
        auto parsed = parseArgs(args);
        EXPECT_FALSE(parsed.options) << testing::PrintToString(args);
        EXPECT_EQ(parsed.exitCode, 2) << testing::PrintToString(args);
        EXPECT_TRUE(contains(parsed.message, mentions) && parsed.message.starts_with("street-client: ")) << parsed.message;
    }
    for (const auto& args : {std::vector<std::string>{}, {"--script", "s.txt"}})
        EXPECT_TRUE(contains(parseArgs(args).message, "run it with --headless"));

    // The binary prints answers to stdout and complaints to stderr.
    scenario::ScenarioOptions raw;
    raw.rawCommandLine = true;
    auto version = scenario::runScenario("", {"--version"}, raw);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.stdoutText, "street-client 1.53\n");
    auto bad = scenario::runScenario("", {"--headless", "--clock", "sundial"}, raw);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.stdoutText, "");
    EXPECT_TRUE(contains(bad.stderrText, "sundial")) << bad.stderrText;

    // Without --headless the client wants a window: with no display (or no desktop backend in
    // this build) it fails and points to --headless.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    auto noBackend = scenario::runScenario("", {}, raw);
    EXPECT_TRUE(noBackend.exitCode == 1 || noBackend.exitCode == 2) << noBackend.exitCode;
    EXPECT_TRUE(contains(noBackend.stderrText, "--headless")) << noBackend.stderrText;
}

TEST(RunnerScript, CommandsTheirArgumentsAndLineNumbers)
{
    auto parsed = Script::parse("# a comment\n\n   \nwait 1.5\r\ntap Street\ntap #3\ntap \"#3\"\nnavigate http://h/x.php?a=1&b=two words\n"
                                "  # indented comment\nfinish\nfail -1009\nfail -1002 Bad \"URL\" here\npress #0\npress  Cancel \ntype \"\"\n"
                                "token <0a0B ff>\npush-fail\nmovie preloaded\nmovie finished\nrow 2 15\ntoolbar Send Invites\nbutton info\n"
                                "button name\nstate\nsnapshot out.png\nquit\n");
    ASSERT_FALSE(parsed.errorLine) << parsed.error;
    const auto& c = parsed.commands;
    ASSERT_EQ(c.size(), 22u);
    const Kind kinds[] = {Kind::Wait, Kind::Tap, Kind::Tap, Kind::Tap, Kind::Navigate, Kind::Finish, Kind::Fail, Kind::Fail,
                          Kind::Press, Kind::Press, Kind::Type, Kind::Token, Kind::PushFail, Kind::MoviePreloaded, Kind::MovieFinished,
                          Kind::Row, Kind::Toolbar, Kind::ButtonInfo, Kind::ButtonName, Kind::State, Kind::Snapshot, Kind::Quit};
    for (size_t i = 0; i < c.size(); ++i)
        EXPECT_EQ(c[i].kind, kinds[i]) << c[i].source;
    EXPECT_EQ(c[0].line, 4); // blank and comment lines count
    EXPECT_EQ(c[0].source, "wait 1.5");
    EXPECT_EQ(c[5].line, 10);
    EXPECT_DOUBLE_EQ(c[0].seconds, 1.5);
    EXPECT_EQ(c[1].text, "Street");
    EXPECT_FALSE(c[1].index);
    EXPECT_EQ(c[2].index, 3u);
    EXPECT_FALSE(c[3].index); // quoted: a title, not an index
    EXPECT_EQ(c[3].text, "#3");
    EXPECT_EQ(c[4].text, "http://h/x.php?a=1&b=two words");
    EXPECT_EQ(c[6].code, -1009);
    EXPECT_FALSE(c[6].description);
    EXPECT_EQ(c[7].code, -1002);
    EXPECT_EQ(c[7].description, "Bad \"URL\" here"); // unquoted TEXT keeps its quotes
    EXPECT_EQ(c[8].index, 0u);
    EXPECT_EQ(c[9].text, "Cancel");
    EXPECT_EQ(c[9].source, "press  Cancel");
    EXPECT_EQ(c[10].text, "");
    EXPECT_EQ(c[11].bytes, (std::vector<std::uint8_t>{0x0a, 0x0b, 0xff}));
    EXPECT_EQ(std::make_pair(c[15].section, c[15].row), std::make_pair(2, 15));
    EXPECT_EQ(c[16].text, "Send Invites");
    EXPECT_EQ(c[20].text, "out.png");
}

TEST(RunnerScript, UnparsableLinesAreRefusedWithTheirNumber)
{
    for (const char* line : {"dance", "wait", "wait -1", "wait soon", "wait 1 2", "wait inf", "wait nan", "tap", "tap #", "tap #x", "tap #-1",
                             "navigate", "navigate \"\"", "finish now", "fail", "fail offline", "fail 1.5", "fail -1 \"open", "press",
                             "press #two", "type", "type \"a\" b", "token", "token abc", "token zz", "push-fail x", "movie", "movie paused",
                             "row 1", "row a b", "row -1 0", "row 1 2 3", "toolbar", "button", "button ok", "state now", "snapshot",
                             "quit now", "tap \"a\\n\"", "Wait 1"}) {
        auto parsed = Script::parse(std::string("state\n# fine so far\n") + line + "\nstate\n");
        EXPECT_EQ(parsed.errorLine, 3) << line;
        EXPECT_FALSE(parsed.error.empty()) << line;
    }
}

TEST(RunnerScript, TextArgumentsAreTheRestOfTheLineOrOneQuotedString)
{
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"plain words  here", "plain words  here"}, {"  padded  ", "padded"}, {"\"quoted  text\"", "quoted  text"},
        {"\"say \\\"hi\\\"\"", "say \"hi\""}, {"\"back\\\\slash\"", "back\\slash"}, {"\"\"", ""}, {"\"trailing blank\"   ", "trailing blank"},
        {"not \"quoted\" at start", "not \"quoted\" at start"}, {"back\\slash unquoted", "back\\slash unquoted"},
        {"\"unterminated", std::nullopt}, {"\"ends with escape\\\"", std::nullopt}, {"\"two\" \"strings\"", std::nullopt},
        {"\"bad \\t escape\"", std::nullopt},
    };
    for (const auto& [rest, text] : cases) {
        std::string error;
        EXPECT_EQ(Script::parseText(rest, &error), text) << rest;
        EXPECT_EQ(error.empty(), text.has_value()) << rest;
    }
}

TEST(RunnerPlay, AScriptThatCannotBeParsedOrReadRunsNothing)
{
    auto run = scenario::runScenario("state\nwait 1\n\n# comment\ntap\nstate\n");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(contains(run.stderrText, "script line 5")) << run.stderrText;
    EXPECT_TRUE(run.lines.empty()) << run.dump();
    auto missing = scenario::runScenario("", {"--script", "/nonexistent/script.txt"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(contains(missing.stderrText, "/nonexistent/script.txt")) << missing.stderrText;

    // `quit` ends the run, and the script may come from standard input.
    scenario::ScenarioOptions options;
    options.stdinText = "state\nquit\nstate\n";
    auto quit = scenario::runScenario("", {"--script", "-"}, options);
    EXPECT_EQ(quit.exitCode, 0) << quit.dump();
    EXPECT_EQ(quit.count("state"), 1u) << quit.dump();
    EXPECT_TRUE(quit.malformedLines.empty());
}

TEST(RunnerPlay, InputNoPersonCouldGiveIsWrittenAsIgnored)
{
    // At launch the tab bar is hidden, no alert is up and no modal screen is presented.
    auto run = scenario::runScenario("   tap   Street  \ntap #1\npress OK\npress #0\ntype \"name\"\nrow 0 0\ntoolbar Back\nbutton info\n"
                                     "button name\nsnapshot shot.png\nfinish\nfinish\nfail -1009\n");
    EXPECT_EQ(run.exitCode, 0) << run.dump();
    EXPECT_EQ(fieldOf(run, "ignored", "command"), (Values{"tap   Street", "tap #1", "press OK", "press #0", "type \"name\"", "row 0 0", "toolbar Back",
                                                          "button info", "button name", "snapshot shot.png", "finish", "fail -1009"}))
        << run.dump();
    // The first `finish` ended the entry load, which was in flight.
    EXPECT_EQ(run.count("load-finish"), 1u) << run.dump();
    EXPECT_EQ(run.count("load-fail"), 0u) << run.dump();
}

TEST(RunnerPlay, ScriptedLoadsFailWithTheGivenCodeAndThePlatformsWords)
{
    auto run = scenario::runScenario("fail -1009\nnavigate http://127.0.0.1:8642/home.php?a=1\nfail -1001\n"
                                     "navigate http://127.0.0.1:8642/home.php?a=2\nnavigate http://127.0.0.1:8642/home.php?a=3\nfail -1002\n"
                                     "navigate http://127.0.0.1:8642/home.php?a=4\nfail -1234 \"Custom \\\"quoted\\\" words\"\n");
    EXPECT_EQ(run.exitCode, 0) << run.dump();
    EXPECT_EQ(fieldOf(run, "load-fail", "code"), (Values{-1009, -1001, -999, -1002, -1234})) << run.dump();
    EXPECT_EQ(fieldOf(run, "load-fail", "description"),
              (Values{"The Internet connection appears to be offline.", "The request timed out.", "cancelled", // a=2, replaced by a=3
                      "The operation couldn\u2019t be completed. (error -1002)", "Custom \"quoted\" words"}));
    // Each navigation passed the command bridge as a link and started on its own.
    auto starts = fieldOf(run, "load-start", "url");
    EXPECT_EQ(std::count_if(starts.begin(), starts.end(), [](const nlohmann::json& u) { return contains(u.get<std::string>(), "home.php?a="); }), 4);
}

TEST(RunnerPlay, WithoutAScriptTheRealClockRunsUntilTerminated)
{
    scenario::TempDir dir("street-runner-signal");
    std::string transcript = dir.path() + "/transcript.jsonl";
    std::vector<std::string> args{STREET_CLIENT_BIN, "--headless", "--clock", "real", "--engine", "scripted", "--transcript", transcript,
                                  "--data-dir", dir.path(), "--resources", STREET_RESOURCES_DIR};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    // Launched once the transcript shows the entry load; then it keeps running.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!contains(scenario::readFile(transcript), "load-start") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the client ended by itself";
    ::kill(pid, SIGTERM);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by a signal instead of leaving its loop";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
