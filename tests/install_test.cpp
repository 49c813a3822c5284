// An installed program finds its files under its own prefix and nowhere else, and one without
// them says so in one line and ends with status 1, headless and in the window alike.

#include "shell/DemoServerProcess.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using scenario::Transcript;

size_t lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool buildHasWindow()
{
    scenario::ScenarioOptions raw;
    raw.rawCommandLine = true;
    return contains(scenario::runScenario("", {"--help"}, raw).stdoutText, "--scale");
}

// `program` run as a player would (no --resources), headless with a script, or in the window.
Transcript runProgram(const std::string& program, bool window, const std::string& script = "state\n",
                      std::vector<std::string> args = {}, std::vector<std::pair<std::string, std::string>> environment = {})
{
    scenario::TempDir work("street-installed");
    scenario::writeFile(work.path() + "/s.txt", script);
    std::vector<std::string> all{"--data-dir", work.path()};
    if (!window)
        all.insert(all.end(), {"--headless", "--script", work.path() + "/s.txt", "--transcript", work.path() + "/t.jsonl"});
    all.insert(all.end(), args.begin(), args.end());
    // `program` in place of the built client that the support starts (its name is dropped), with
    // no display for the window.
    scenario::ScenarioOptions options;
    options.rawCommandLine = true;
    options.timeoutSeconds = 30;
    options.environment = std::move(environment);
    options.launcher = {"/bin/sh", "-c", "shift; exec env -u WAYLAND_DISPLAY DISPLAY=:none \"$0\" \"$@\"", program};
    Transcript t = scenario::runScenario("", all, options);
    std::istringstream in(scenario::readFile(work.path() + "/t.jsonl"));
    for (std::string line; std::getline(in, line);)
        if (auto parsed = nlohmann::json::parse(line, nullptr, false); parsed.is_object())
            t.lines.push_back(std::move(parsed));
    return t;
}

TEST(Install, AProgramAwayFromItsFilesSaysSoOnceAndEndsWithStatusOne)
{
    scenario::TempDir dir("street-lone");
    fs::create_directories(dir.path() + "/bin");
    fs::copy_file(STREET_CLIENT_BIN, dir.path() + "/bin/street-client");
    const std::string missing = dir.path() + "/share/street-client";
    std::vector<bool> modes{false};
    if (buildHasWindow())
        modes.push_back(true);
    for (bool window : modes) {
        SCOPED_TRACE(window ? "window" : "headless");
        auto t = runProgram(dir.path() + "/bin/street-client", window);
        EXPECT_EQ(t.exitCode, 1);
        EXPECT_EQ(t.stderrText, "street-client: the resource folder " + missing + " is missing: this installation is incomplete\n");
        EXPECT_TRUE(t.lines.empty());
    }

    // A resource folder without the main interface file, or with one that cannot be read.
    fs::create_directories(missing + "/interfaces");
    for (const std::string content : {"", "{not json"}) {
        if (!content.empty())
            scenario::writeFile(missing + "/interfaces/MainWindow.json", content);
        for (bool window : modes) {
            SCOPED_TRACE((window ? "window: " : "headless: ") + content);
            // The window needs a display past the interface file; this one has none.
            if (window && !content.empty())
                continue;
            auto t = runProgram(dir.path() + "/bin/street-client", window);
            EXPECT_EQ(t.exitCode, 1);
            EXPECT_EQ(lines(t.stderrText), 1u) << t.stderrText;
            EXPECT_TRUE(contains(t.stderrText, "interface file MainWindow: "
                                                   + std::string(content.empty() ? "not found among the resources in " + missing
                                                                                 : "unreadable")))
                << t.stderrText;
        }
    }
}

// `cmake --install` into a prefix of its own, the program then run from there.
TEST(Install, TheInstalledProgramRunsFromItsPrefixAlone)
{
    scenario::TempDir prefix("street-prefix");
    ASSERT_EQ(std::system((std::string(STREET_CMAKE) + " --install " + STREET_BUILD_DIR + " --prefix " + prefix.path()
                           + " >/dev/null 2>&1").c_str()),
              0);
    const std::string program = prefix.path() + "/bin/street-client";
    const std::string share = prefix.path() + "/share/street-client";
    const std::string demo = prefix.path() + "/libexec/street-client/demo-server";
    ASSERT_TRUE(fs::exists(program));
    ASSERT_TRUE(fs::exists(demo));

    // Its own copy of the resources: without the start picture, the background shows none.
    fs::remove(share + "/images/bg_start.jpg");
    auto t = runProgram(program, false);
    ASSERT_EQ(t.exitCode, 0) << t.stderrText;
    ASSERT_EQ(t.states().size(), 1u);
    EXPECT_FALSE(contains(t.states()[0].dump(), "bg_start.jpg")) << t.states()[0].dump();

    // Its own demo server, when no one names a server and nothing answers at the demo address.
    const bool demoAddressFree = !shell::DemoServerProcess::loopbackAnswers(8642, std::chrono::milliseconds(500));
    const bool demoBuild = scenario::compiledInServer() == scenario::kDemoAddress;
    if (demoAddressFree && demoBuild) {
        auto played = runProgram(program, false, "wait 2\n", {"--clock", "real", "--engine", "http"}, {{"STREET_SERVER", ""}});
        EXPECT_EQ(played.exitCode, 0);
        EXPECT_TRUE(contains(played.stderrText, "playing the demo server started at 127.0.0.1:")) << played.stderrText;
        EXPECT_NE(played.first("load-finish"), nullptr) << played.dump();
        // Without it, the client tries the demo address itself, as it always did.
        fs::remove(demo);
        auto alone = runProgram(program, false, "wait 2\n", {"--clock", "real", "--engine", "http"}, {{"STREET_SERVER", ""}});
        EXPECT_EQ(alone.exitCode, 0);
        EXPECT_EQ(alone.stderrText, "street-client: nothing answers at 127.0.0.1:8642 and the demo server cannot start: " + demo
                                        + ": No such file or directory\n");
        EXPECT_NE(alone.first("load-fail"), nullptr) << alone.dump();
    }

    // Without its resources it never borrows the build's.
    scenario::removeTree(share);
    auto broken = runProgram(program, false);
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_EQ(broken.stderrText, "street-client: the resource folder " + share + " is missing: this installation is incomplete\n");
}

} // namespace
