// The headless runner: its command line, the script language, and how a script plays against
// the running client (through the built binary).

#include "backend/headless/Runner.h"
#include "backend/headless/Script.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using backend::headless::ClockKind;
using backend::headless::Engine;
using backend::headless::ParseResult;
using backend::headless::Script;
using backend::headless::ScriptCommand;
using Kind = backend::headless::ScriptCommand::Kind;

ParseResult parseArgs(std::vector<std::string> args)
{
    args.insert(args.begin(), "street-client");
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return backend::headless::parseCommandLine(static_cast<int>(args.size()), argv.data());
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ---- command line ----

TEST(RunnerCommandLine, EveryFlagIsReadInItsValueForm)
{
    auto parsed = parseArgs({"--headless", "--script", "s.txt", "--transcript", "-", "--server", "example.test:81",
                             "--engine", "http", "--clock", "real", "--data-dir", "/d", "--resources", "/r",
                             "--contacts", "c.vcf", "--udid", "U1", "--model", "M", "--system-version", "9.1",
                             "--audio-route", "none", "--push", "no", "--icon-badge", "no", "--movie-seconds", "0.25"});
    ASSERT_TRUE(parsed.options) << parsed.message;
    const auto& o = *parsed.options;
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.script, "s.txt");
    EXPECT_EQ(o.transcript, "-");
    EXPECT_EQ(o.server, "example.test:81");
    EXPECT_EQ(o.engine, Engine::Http);
    EXPECT_EQ(o.clock, ClockKind::Real);
    EXPECT_EQ(o.dataDir, "/d");
    EXPECT_EQ(o.resources, "/r");
    EXPECT_EQ(o.contacts, "c.vcf");
    EXPECT_EQ(o.udid, "U1");
    EXPECT_EQ(o.model, "M");
    EXPECT_EQ(o.systemVersion, "9.1");
    EXPECT_EQ(o.audioRoute, "none");
    EXPECT_FALSE(o.push);
    EXPECT_FALSE(o.iconBadge);
    EXPECT_DOUBLE_EQ(o.movieSeconds, 0.25);
}

TEST(RunnerCommandLine, DefaultsLeaveEngineAndClockToTheRunAndOfferPushAndBadge)
{
    auto parsed = parseArgs({"--headless"});
    ASSERT_TRUE(parsed.options);
    EXPECT_FALSE(parsed.options->engine);
    EXPECT_FALSE(parsed.options->clock);
    EXPECT_TRUE(parsed.options->push);
    EXPECT_TRUE(parsed.options->iconBadge);
    EXPECT_DOUBLE_EQ(parsed.options->movieSeconds, 3.0);
    // An empty audio route is a legal value (silent), and 0 s a legal movie.
    parsed = parseArgs({"--headless", "--audio-route", "", "--movie-seconds", "0"});
    ASSERT_TRUE(parsed.options) << parsed.message;
    EXPECT_EQ(parsed.options->audioRoute, "");
}

TEST(RunnerCommandLine, BadFlagsAndValuesExitWithStatusTwoAndSayWhatIsWrong)
{
    struct Case {
        std::vector<std::string> args;
        std::string mentions;
    };
    const Case cases[] = {
        {{"--headless", "--bogus"}, "--bogus"},
        {{"--headless", "--engine", "gecko"}, "gecko"},
        {{"--headless", "--clock", "fast"}, "fast"},
        {{"--headless", "--push", "maybe"}, "--push"},
        {{"--headless", "--icon-badge", "1"}, "--icon-badge"},
        {{"--headless", "--movie-seconds", "-1"}, "--movie-seconds"},
        {{"--headless", "--movie-seconds", "nan"}, "--movie-seconds"},
        {{"--headless", "--movie-seconds", "inf"}, "--movie-seconds"},
        {{"--headless", "--movie-seconds", "3s"}, "--movie-seconds"},
        {{"--headless", "--movie-seconds", ""}, "--movie-seconds"},
        {{"--headless", "--script"}, "--script"},
        {{"--headless", "--script", ""}, "--script"},
        {{"--headless", "stray"}, "stray"},
        {{"--headless", "-x"}, "-x"},
        // Pages fetched over HTTP cannot wait for virtual time.
        {{"--headless", "--script", "s.txt", "--engine", "http"}, "--clock real"},
        {{"--headless", "--engine", "http", "--clock", "virtual"}, "--clock real"},
        {{}, "run it with --headless"},
        {{"--script", "s.txt"}, "run it with --headless"},
    };
    for (const auto& c : cases) {
        auto parsed = parseArgs(c.args);
        std::string label = ::testing::PrintToString(c.args);
        EXPECT_FALSE(parsed.options) << label;
        EXPECT_EQ(parsed.exitCode, 2) << label;
        EXPECT_TRUE(contains(parsed.message, c.mentions)) << label << " -> " << parsed.message;
        EXPECT_EQ(parsed.message.rfind("street-client: ", 0), 0u) << parsed.message;
    }
}

TEST(RunnerCommandLine, HelpAndVersionAnswerWithoutRunning)
{
    auto help = parseArgs({"--help"});
    EXPECT_FALSE(help.options);
    EXPECT_EQ(help.exitCode, 0);
    for (const char* flag : {"--headless", "--script", "--transcript", "--server", "--engine", "--clock", "--data-dir",
                             "--resources", "--contacts", "--udid", "--model", "--system-version", "--audio-route",
                             "--push", "--icon-badge", "--movie-seconds", "--help", "--version"})
        EXPECT_TRUE(contains(help.message, flag)) << flag;
    // --help wins over a flag that would otherwise be refused later on the line.
    EXPECT_EQ(parseArgs({"--headless", "--help", "--bogus"}).exitCode, 0);

    auto version = parseArgs({"--version"});
    EXPECT_FALSE(version.options);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.message, "street-client 1.53\n");
}

TEST(RunnerCommandLine, TheBinaryPrintsAnswersToStdoutAndComplaintsToStderr)
{
    scenario::ScenarioOptions raw;
    raw.rawCommandLine = true;
    auto version = scenario::runScenario("", {"--version"}, raw);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.stdoutText, "street-client 1.53\n");

    auto bad = scenario::runScenario("", {"--headless", "--clock", "sundial"}, raw);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.stdoutText.empty());
    EXPECT_TRUE(contains(bad.stderrText, "sundial")) << bad.stderrText;

    // Without --headless the client wants a window: with no display (or no desktop backend in
    // this build) it fails and points to --headless.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    auto noBackend = scenario::runScenario("", {}, raw);
    EXPECT_TRUE(noBackend.exitCode == 1 || noBackend.exitCode == 2) << noBackend.exitCode;
    EXPECT_TRUE(contains(noBackend.stderrText, "--headless")) << noBackend.stderrText;
}

// ---- script language ----

TEST(RunnerScript, CommandsAndTheirArguments)
{
    auto parsed = Script::parse("wait 1.5\n"
                                "tap Street\n"
                                "tap #3\n"
                                "tap \"#3\"\n"
                                "navigate http://h/x.php?a=1&b=two words\n"
                                "finish\n"
                                "fail -1009\n"
                                "fail -1002 Bad \"URL\" here\n"
                                "press #0\n"
                                "press  Cancel \n"
                                "type \"\"\n"
                                "token <0a0B ff>\n"
                                "push-fail\n"
                                "movie preloaded\n"
                                "movie finished\n"
                                "row 2 15\n"
                                "toolbar Send Invites\n"
                                "button info\n"
                                "button name\n"
                                "state\n"
                                "snapshot out.png\n"
                                "quit\n");
    ASSERT_FALSE(parsed.errorLine) << parsed.error;
    const auto& c = parsed.commands;
    ASSERT_EQ(c.size(), 22u);
    EXPECT_EQ(c[0].kind, Kind::Wait);
    EXPECT_DOUBLE_EQ(c[0].seconds, 1.5);
    EXPECT_EQ(c[1].kind, Kind::Tap);
    EXPECT_EQ(c[1].text, "Street");
    EXPECT_FALSE(c[1].index);
    EXPECT_EQ(c[2].index, 3u);
    EXPECT_FALSE(c[3].index);  // quoted: a title, not an index
    EXPECT_EQ(c[3].text, "#3");
    EXPECT_EQ(c[4].text, "http://h/x.php?a=1&b=two words");
    EXPECT_EQ(c[5].kind, Kind::Finish);
    EXPECT_EQ(c[6].code, -1009);
    EXPECT_FALSE(c[6].description);
    EXPECT_EQ(c[7].code, -1002);
    EXPECT_EQ(c[7].description, "Bad \"URL\" here");  // unquoted TEXT keeps its quotes
    EXPECT_EQ(c[8].kind, Kind::Press);
    EXPECT_EQ(c[8].index, 0u);
    EXPECT_EQ(c[9].text, "Cancel");
    EXPECT_EQ(c[9].source, "press  Cancel");
    EXPECT_EQ(c[10].kind, Kind::Type);
    EXPECT_EQ(c[10].text, "");
    EXPECT_EQ(c[11].bytes, (std::vector<std::uint8_t>{0x0a, 0x0b, 0xff}));
    EXPECT_EQ(c[12].kind, Kind::PushFail);
    EXPECT_EQ(c[13].kind, Kind::MoviePreloaded);
    EXPECT_EQ(c[14].kind, Kind::MovieFinished);
    EXPECT_EQ(c[15].kind, Kind::Row);
    EXPECT_EQ(c[15].section, 2);
    EXPECT_EQ(c[15].row, 15);
    EXPECT_EQ(c[16].text, "Send Invites");
    EXPECT_EQ(c[17].kind, Kind::ButtonInfo);
    EXPECT_EQ(c[18].kind, Kind::ButtonName);
    EXPECT_EQ(c[19].kind, Kind::State);
    EXPECT_EQ(c[20].text, "out.png");
    EXPECT_EQ(c[21].kind, Kind::Quit);
}

TEST(RunnerScript, LineNumbersCountBlankAndCommentLines)
{
    auto parsed = Script::parse("# a comment\n\n   \nstate\r\n  # indented comment\nwait 2\n");
    ASSERT_FALSE(parsed.errorLine);
    ASSERT_EQ(parsed.commands.size(), 2u);
    EXPECT_EQ(parsed.commands[0].line, 4);
    EXPECT_EQ(parsed.commands[0].source, "state");
    EXPECT_EQ(parsed.commands[1].line, 6);
}

TEST(RunnerScript, UnparsableLinesAreRefusedWithTheirNumber)
{
    const char* bad[] = {
        "dance",            "wait",           "wait -1",        "wait soon",     "wait 1 2",
        "wait inf",         "wait nan",       "tap",            "tap #",         "tap #x",
        "tap #-1",          "navigate",       "navigate \"\"",  "finish now",    "fail",
        "fail offline",     "fail 1.5",       "fail -1 \"open", "press",         "press #two",
        "type",             "type \"a\" b",   "token",          "token abc",     "token zz",
        "push-fail x",      "movie",          "movie paused",   "row 1",         "row a b",
        "row -1 0",         "row 1 2 3",      "toolbar",        "button",        "button ok",
        "state now",        "snapshot",       "quit now",       "tap \"a\\n\"",  "Wait 1",
    };
    for (const char* line : bad) {
        auto parsed = Script::parse(std::string("state\n# fine so far\n") + line + "\nstate\n");
        EXPECT_EQ(parsed.errorLine, 3) << line;
        EXPECT_FALSE(parsed.error.empty()) << line;
    }
}

TEST(RunnerScript, TextArgumentsAreTheRestOfTheLineOrOneQuotedString)
{
    struct Case {
        const char* rest;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"plain words  here", "plain words  here"},
        {"  padded  ", "padded"},
        {"\"quoted  text\"", "quoted  text"},
        {"\"say \\\"hi\\\"\"", "say \"hi\""},
        {"\"back\\\\slash\"", "back\\slash"},
        {"\"\"", ""},
        {"\"trailing blank\"   ", "trailing blank"},
        {"not \"quoted\" at start", "not \"quoted\" at start"},
        {"back\\slash unquoted", "back\\slash unquoted"},
        {"\"unterminated", std::nullopt},
        {"\"ends with escape\\\"", std::nullopt},
        {"\"two\" \"strings\"", std::nullopt},
        {"\"bad \\t escape\"", std::nullopt},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(Script::parseText(c.rest, &error), c.text) << c.rest;
        EXPECT_EQ(error.empty(), c.text.has_value()) << c.rest;
    }
}

// ---- scripts played by the client ----

TEST(RunnerPlay, AScriptThatCannotBeParsedRunsNothing)
{
    auto run = scenario::runScenario("state\nwait 1\n\n# comment\ntap\nstate\n");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(contains(run.stderrText, "script line 5")) << run.stderrText;
    EXPECT_TRUE(run.lines.empty()) << run.dump();

    auto missing = scenario::runScenario("", {"--script", "/nonexistent/script.txt"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(contains(missing.stderrText, "/nonexistent/script.txt")) << missing.stderrText;
}

TEST(RunnerPlay, InputNoPersonCouldGiveIsWrittenAsIgnored)
{
    // At launch the tab bar is hidden, no alert is up and no modal screen is presented.
    auto run = scenario::runScenario("   tap   Street  \n"
                                     "tap #1\n"
                                     "press OK\n"
                                     "press #0\n"
                                     "type \"name\"\n"
                                     "row 0 0\n"
                                     "toolbar Back\n"
                                     "button info\n"
                                     "button name\n"
                                     "snapshot shot.png\n"
                                     "finish\n"
                                     "finish\n"
                                     "fail -1009\n");
    EXPECT_EQ(run.exitCode, 0) << run.dump();
    EXPECT_TRUE(run.malformedLines.empty());
    std::vector<std::string> ignored;
    for (const auto& line : run.events("ignored"))
        ignored.push_back(line["command"]);
    EXPECT_EQ(ignored, (std::vector<std::string>{"tap   Street", "tap #1", "press OK", "press #0", "type \"name\"",
                                                 "row 0 0", "toolbar Back", "button info", "button name",
                                                 "snapshot shot.png", "finish", "fail -1009"}))
        << run.dump();
    // The first `finish` ended the entry load, which was in flight.
    EXPECT_EQ(run.count("load-finish"), 1u) << run.dump();
    EXPECT_EQ(run.count("load-fail"), 0u) << run.dump();
}

TEST(RunnerPlay, ScriptedLoadsFailWithTheGivenCodeAndThePlatformsWords)
{
    auto run = scenario::runScenario("fail -1009\n"
                                     "navigate http://127.0.0.1:8642/home.php?a=1\n"
                                     "fail -1001\n"
                                     "navigate http://127.0.0.1:8642/home.php?a=2\n"
                                     "navigate http://127.0.0.1:8642/home.php?a=3\n"
                                     "fail -1002\n"
                                     "navigate http://127.0.0.1:8642/home.php?a=4\n"
                                     "fail -1234 \"Custom \\\"quoted\\\" words\"\n");
    EXPECT_EQ(run.exitCode, 0) << run.dump();
    std::vector<std::pair<int, std::string>> failures;
    for (const auto& line : run.events("load-fail"))
        failures.emplace_back(line["code"], line["description"]);
    EXPECT_EQ(failures, (std::vector<std::pair<int, std::string>>{
                            {-1009, "The Internet connection appears to be offline."},
                            {-1001, "The request timed out."},
                            {-999, "cancelled"},  // a=2, replaced by a=3
                            {-1002, "The operation couldn\u2019t be completed. (error -1002)"},
                            {-1234, "Custom \"quoted\" words"},
                        }))
        << run.dump();
    // Each navigation passed the command bridge as a link and started on its own.
    size_t starts = 0;
    for (const auto& line : run.events("load-start"))
        starts += contains(line["url"], "home.php?a=") ? 1 : 0;
    EXPECT_EQ(starts, 4u) << run.dump();
}

TEST(RunnerPlay, VirtualTimeReachesADeadlineExactlyThroughRoundedWaits)
{
    // The headless movie ends 2 s after it starts playing (at launch); its end ends the intro.
    auto run = scenario::runScenario("wait 1.99\nstate\nwait 0.01\nstate\n", {"--movie-seconds", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.dump();
    auto stateLines = run.events("state");
    ASSERT_EQ(stateLines.size(), 2u) << run.dump();
    EXPECT_DOUBLE_EQ(stateLines[0]["t"].get<double>(), 1.99);
    EXPECT_DOUBLE_EQ(stateLines[1]["t"].get<double>(), 2.0);
    EXPECT_EQ(stateLines[0]["state"]["page"]["introAnimationCompleted"], false) << run.dump();
    EXPECT_EQ(stateLines[1]["state"]["page"]["introAnimationCompleted"], true) << run.dump();
}

TEST(RunnerPlay, MovieCommandsPostAtOnceAndOnlyOnce)
{
    auto run = scenario::runScenario("movie finished\nstate\nmovie finished\nwait 5\nstate\n",
                                     {"--movie-seconds", "4"});
    EXPECT_EQ(run.exitCode, 0) << run.dump();
    auto states = run.states();
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0]["page"]["introAnimationCompleted"], true) << run.dump();
    EXPECT_EQ(run.count("ignored"), 0u) << run.dump();
}

TEST(RunnerPlay, QuitEndsTheRunAndTheScriptMayComeFromStandardInput)
{
    scenario::ScenarioOptions options;
    options.stdinText = "state\nquit\nstate\n";
    auto run = scenario::runScenario("", {"--script", "-"}, options);
    EXPECT_EQ(run.exitCode, 0) << run.dump();
    EXPECT_EQ(run.count("state"), 1u) << run.dump();
    for (const auto& line : run.lines)
        EXPECT_TRUE(line["t"].is_number() && line["ev"].is_string()) << line.dump();
}

TEST(RunnerPlay, WithoutAScriptTheRealClockRunsUntilTerminated)
{
    scenario::TempDir dir("street-runner-signal");
    std::string transcript = dir.path() + "/transcript.jsonl";
    std::vector<std::string> args{STREET_CLIENT_BIN, "--headless", "--clock", "real", "--engine", "scripted",
                                  "--transcript", transcript, "--data-dir", dir.path(),
                                  "--resources", STREET_RESOURCES_DIR};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);

    // Launched once the transcript has its first lines; then it keeps running.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (scenario::readFile(transcript).find("load-start") == std::string::npos
           && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the client ended by itself";

    ::kill(pid, SIGTERM);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by a signal instead of leaving its loop";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
