// Pages stay inside the game's window: a file a page or a server offers is never saved, nothing
// opens a window of its own (print, choosers, fullscreen) or gets a permission, an alert storm
// neither buries the player nor stalls the window, and the page's process runs in WebKit's sandbox
// where the player's files are out of its sight. The window's files are the player's alone.

#include "support/Desktop.h"
#include "support/Processes.h"
#include "support/Sway.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sys/stat.h>

// Last: Xlib's macros (None, Status, True...) would clash with what the others declare.
#include "support/OwnDisplay.h"

namespace {

using nlohmann::json;
using scenario::Transcript;
namespace fs = std::filesystem;

const std::string kRefusedFile = "The server sent a file to download; the game never saves files.";
const std::vector<std::string> kServedNames{"secret.txt", "attachment.php", "octet.php"};

struct HostileServer : scenario::DemoServer {
    HostileServer() : DemoServer({"/usr/bin/python3", STREET_TESTS_DIR "/tools/hostile_server.py"}, {}) {}
};

// A player's home as a desktop lays it out: the client's settings, site data and cache in the
// XDG directories under it.
struct Home {
    scenario::TempDir dir{"street-home"};
    std::string path() const { return dir.path(); }
    std::string config() const { return path() + "/.config/street-client"; }
    std::string data() const { return path() + "/.local/share/street-client"; }
    std::string cache() const { return path() + "/.cache/street-client"; }
    std::vector<std::pair<std::string, std::string>> environment() const
    {
        return {{"HOME", path()}, {"XDG_CONFIG_HOME", path() + "/.config"}, {"XDG_DATA_HOME", path() + "/.local/share"},
                {"XDG_CACHE_HOME", path() + "/.cache"}};
    }
};

// Every regular file under `root`, by its path there, with its content.
std::map<std::string, std::string> filesUnder(const std::string& root)
{
    std::map<std::string, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); it != fs::recursive_directory_iterator(); it.increment(error))
        if (it->is_regular_file(error))
            files[fs::relative(it->path(), root).string()] = scenario::readFile(it->path().string());
    return files;
}

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(DesktopContainment, FilesToSaveAreRefusedBeforeAnythingIsWrittenAndTheirLoadsFail)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    HostileServer server;
    ASSERT_TRUE(server.started());
    Home home;
    // Files of the names a download would take, where it would put them.
    for (const std::string& folder : {home.path(), home.path() + "/Downloads"}) {
        fs::create_directories(folder);
        for (const auto& name : kServedNames)
            scenario::writeFile(folder + "/" + name, "the player's own " + name + "\n");
    }
    auto before = filesUnder(home.path());

    struct Case {
        const char* page;
        const char* failing;  // the URL whose load fails
    } cases[] = {
        {"attachment", "attachment"},       // asks to be saved
        {"to-attachment", "attachment"},    // ... after a redirect
        {"octet", "octet"},                 // a type no web view shows
        {"download-link", "attachment"},    // <a download>, clicked by the page once it has loaded
    };
    std::string script = "wait 4\n";
    for (const auto& c : cases)
        script += "navigate " + server.baseURL() + "/" + c.page + ".php\nwait 2.5\nstate\npress OK\n";
    scenario::ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 60;
    options.environment = home.environment();
    auto t = scenario::runScenario(script, {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record",
                                            "--server", server.hostPort()}, options);
    ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();

    // Each ends as a quick failure: started, failed with the refusal, the "Unknown Error" alert.
    auto fails = t.events("load-fail");
    auto alerts = t.events("alert");
    ASSERT_EQ(fails.size(), std::size(cases)) << t.dump();
    ASSERT_EQ(alerts.size(), std::size(cases)) << t.dump();
    auto states = t.states();
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].page);
        std::string url = server.baseURL() + "/" + cases[i].failing + ".php";
        EXPECT_EQ(fails[i]["url"], url);
        EXPECT_EQ(fails[i]["code"], -3102);
        EXPECT_EQ(fails[i]["description"], kRefusedFile);
        EXPECT_EQ(alerts[i]["title"], "Unknown Error");
        EXPECT_EQ(alerts[i]["message"], "Unknown error occurred (" + kRefusedFile + ").  Please close the application and try again.");
        bool started = false;
        for (const auto& line : t.events("load-start"))
            started = started || (line["url"] == url && line["t"] <= fails[i]["t"]);
        EXPECT_TRUE(started) << t.dump();
        EXPECT_EQ(states.at(i)["alerts"].size(), 1u);
    }

    // Nothing appeared, changed or went anywhere in the home; the client's own directories hold
    // nothing of what was served.
    auto after = filesUnder(home.path());
    for (const auto& [path, content] : before)
        EXPECT_EQ(after.count(path) ? after[path] : "(gone)", content) << path;
    for (const auto& [path, content] : after) {
        if (before.count(path))
            continue;
        EXPECT_TRUE(path.starts_with(".cache/") || path.starts_with(".config/") || path.starts_with(".local/share/")) << path;
        EXPECT_EQ(std::count(kServedNames.begin(), kServedNames.end(), fs::path(path).filename().string()), 0) << path;
        EXPECT_EQ(content.find("what the server wants written"), std::string::npos) << path;
    }
}

TEST(DesktopContainment, NoPageOpensAWindowOfItsOwnOrGetsAPermission)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    // On X11 the client runs on an X server of the test's own, where every mapped window is its
    // and a click can be sent; on Wayland sway tells whose each window is, but no click reaches
    // a program there from outside (no input device), so the choosers and fullscreen, which
    // answer only a person's click, are tried on X11 alone.
    const bool wayland = scenario::onWayland();
    if (wayland && !scenario::swayWindows())
        GTEST_SKIP() << "on Wayland, needs sway to count the windows (SWAYSOCK; tools/with-wayland sets it)";
    HostileServer server;
    ASSERT_TRUE(server.started());
    std::optional<scenario::OwnDisplay> display;
    if (!wayland) {
        display.emplace();
        ASSERT_TRUE(display->started()) << "Xvfb did not start";
    }

    // The choosers and fullscreen answer only a person's click: one lands on the page every
    // 0.4 s. Every window the display shows is counted.
    size_t most = 0, clicks = 0;
    std::vector<std::string> seen;
    auto nextClick = std::chrono::steady_clock::now();
    auto nextLook = nextClick;
    scenario::ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 60;
    if (display)
        options.environment = {{"DISPLAY", display->name()}, {"XAUTHORITY", ""}};
    options.whileRunning = [&](pid_t client) {
        std::vector<std::pair<int, int>> sizes;
        if (display) {
            auto windows = display->topLevels();
            for (const auto& w : windows)
                sizes.push_back({w.width, w.height});
            if (windows.size() == 1 && std::chrono::steady_clock::now() >= nextClick) {
                display->click(windows[0].x + 160, windows[0].y + 200);
                ++clicks;
                nextClick = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
            }
        } else {
            // Other tests' windows share the compositor: the client's are those of its processes.
            if (std::chrono::steady_clock::now() < nextLook)
                return;
            nextLook = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
            auto ours = scenario::processTree(client);
            for (const auto& w : scenario::swayWindows().value_or(std::vector<scenario::SwayWindow>{}))
                if (std::find(ours.begin(), ours.end(), w.pid) != ours.end())
                    sizes.push_back({w.width, w.height});
        }
        most = std::max(most, sizes.size());
        for (const auto& [width, height] : sizes) {
            std::string size = std::to_string(width) + "x" + std::to_string(height);
            if (std::find(seen.begin(), seen.end(), size) == seen.end())
                seen.push_back(size);
        }
    };
    std::string base = server.baseURL();
    auto t = scenario::runScenario("wait 4\nnavigate " + base + "/print.php\nwait 2\nnavigate " + base + "/file.php\nwait 4\n"
                                   "navigate " + base + "/colour.php\nwait 4\nnavigate " + base + "/fullscreen.php\nwait 2\n"
                                   "navigate " + base + "/permissions.php\nwait 2\nstate\n",
                                   {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record", "--server", server.hostPort()},
                                   options);
    ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();
    ASSERT_EQ(t.states().size(), 1u) << "the run went on to its end\n" << t.dump();

    EXPECT_EQ(most, 1u) << "windows seen, by size: " << testing::PrintToString(seen);
    EXPECT_EQ(seen, std::vector<std::string>{"320x460"}) << "the game's window kept its size";
    if (display) {
        EXPECT_GT(clicks, 30u);
    }
    EXPECT_EQ(t.states()[0]["window"]["size"], json({320, 460}));

    std::vector<std::string> decided;
    for (const auto& line : t.events("decide"))
        decided.push_back(line["url"].get<std::string>().substr(base.size()));
    auto answered = [&](const std::string& url) { return std::count(decided.begin(), decided.end(), url); };
    EXPECT_EQ(answered("/printed.php"), 1) << "the page goes on after print()";
    EXPECT_EQ(answered("/chosen.php"), 2) << "no chooser held the page";
    if (display) {
        EXPECT_EQ(answered("/answer.php?fullscreen=unavailable"), 1) << testing::PrintToString(decided);
    }
    auto permissions = std::find_if(decided.begin(), decided.end(), [](const std::string& url) {
        return url.starts_with("/answer.php?") && url.find("geolocation") != std::string::npos;
    });
    ASSERT_NE(permissions, decided.end()) << testing::PrintToString(decided);
    for (const char* answer : {"geolocation=refused", "notification=denied", "microphone=refused"})
        EXPECT_NE(permissions->find(answer), std::string::npos) << *permissions;
}

// Thousands of alert requests from a game page's iframes: 16 alerts at most on screen, each
// further one dropped and recorded; the page's own dialogs beyond those are answered at once so
// the page goes on; the window keeps answering presses, waits and taps, and memory stays bounded.
TEST(DesktopContainment, AnAlertStormLeavesSixteenAlertsAndAWindowThatStillAnswers)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    HostileServer server;
    ASSERT_TRUE(server.started());
    long peakKB = 0;
    scenario::ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 90;
    options.whileRunning = [&](pid_t client) {
        long total = 0;
        for (pid_t pid : scenario::processTree(client))
            total += scenario::residentKB(pid);
        peakKB = std::max(peakKB, total);
    };
    std::string presses;
    for (int i = 0; i < 16; ++i)
        presses += "press OK\n";
    std::string base = server.baseURL();
    auto t = scenario::runScenario("wait 4\nnavigate " + base + "/dialogs.php\nwait 3\nstate\n" + presses +
                                   "navigate " + base + "/storm.php\nwait 3\nstate\npress OK\nstate\nwait 1\nstate\n"
                                   "wait 4\nstate\n" + presses + "press OK\ntap Street\nwait 1.5\nstate\n",
                                   {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record", "--server", server.hostPort()},
                                   options);
    ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();
    auto states = t.states();
    ASSERT_EQ(states.size(), 6u) << t.dump();
    const auto& stateLines = [&] {
        std::vector<json> lines;
        for (const auto& line : t.lines)
            if (line["ev"] == "state")
                lines.push_back(line);
        return lines;
    }();

    // The page's alert, confirm and prompt came after 16 alerts: dropped, answered at once.
    size_t pageDialogs = 0, storm = 0;
    for (const auto& line : t.events("alert-dropped")) {
        pageDialogs += line["title"] == "127.0.0.1";
        storm += line["title"] == "Storm";
    }
    EXPECT_EQ(pageDialogs, 3u) << t.dump();
    EXPECT_EQ(states[0]["alerts"].size(), 16u);
    std::string answer;
    for (const auto& line : t.events("decide"))
        if (line["url"].get<std::string>().find("/answer.php") != std::string::npos)
            answer = line["url"].get<std::string>().substr(base.size());
    EXPECT_EQ(answer, "/answer.php?confirm=false&prompt=null") << "the page did not wait for its dialogs";

    // The storm: every request decided and its script stored; at most 16 shown at any time.
    size_t decided = 0;
    double lastStormDecision = 0;
    int lastStormScript = -1;
    for (const auto& line : t.events("decide")) {
        std::string url = line["url"];
        if (url.find("/storm-alert.php") == std::string::npos)
            continue;
        ++decided;
        lastStormDecision = line["t"];
        lastStormScript = std::atoi(url.substr(url.rfind("invokeAlertOneBtnJS=n") + 21).c_str());
    }
    // (An iframe the page removes before its load is asked for is never decided.)
    EXPECT_GT(decided, 2900u) << "16 of the dialogs page, up to 3000 of the storm";
    EXPECT_LT(lastStormDecision, stateLines[4]["t"].get<double>()) << "the storm was over before the last presses";
    EXPECT_GT(storm, decided - 16 - 32 - 1) << "all but 16 of the storm's, and those the presses made room for";
    for (const auto& state : states) {
        EXPECT_LE(state["alerts"].size(), 16u);
        EXPECT_LE(state["window"]["layers"].get<size_t>(), 16u);
    }
    EXPECT_EQ(states[4]["page"]["btn0JS"], "n" + std::to_string(lastStormScript))
        << "the last request's script is stored, whether its alert was shown or dropped";

    // The window answers: the press during the storm within a second, a one-second wait in
    // about one second, and the tab tap after the last alert within a second.
    EXPECT_EQ(states[1]["alerts"].size(), 16u);
    std::optional<double> pressed;
    for (const auto& line : t.events("alert-press"))
        if (!pressed && line["t"] > stateLines[1]["t"])
            pressed = line["t"].get<double>();
    ASSERT_TRUE(pressed) << t.dump();
    EXPECT_LT(*pressed - stateLines[1]["t"].get<double>(), 1.0);
    double late = stateLines[3]["t"].get<double>() - stateLines[2]["t"].get<double>() - 1.0;
    EXPECT_LT(late, 1.0);
    EXPECT_TRUE(states[5]["alerts"].empty()) << t.dump();
    const json* tapped = nullptr;
    for (const auto& line : t.lines)
        if (line["ev"] == "decide" && line["url"].get<std::string>().find("/missions.php") != std::string::npos)
            tapped = &line;
    ASSERT_TRUE(tapped) << t.dump();
    const json* shown = t.last("load-finish");
    ASSERT_TRUE(shown);
    EXPECT_NE((*shown)["url"].get<std::string>().find("/missions.php"), std::string::npos) << t.dump();
    EXPECT_LT((*shown)["t"].get<double>() - (*tapped)["t"].get<double>(), 1.0);
    EXPECT_EQ(states[5]["tabBar"]["selected"], 1);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's shadow memory is no measure of ours
    EXPECT_LT(peakKB, 600 * 1024) << "the client and all its processes";
#endif
    EXPECT_GT(peakKB, 0);
}

// The page's process: in namespaces of its own, under a seccomp filter, without new privileges,
// and blind to the player's settings, cookies, address book, keys and home. And what the window
// and WebKit keep is the player's alone: its directories 0700, their files 0600.
TEST(DesktopContainment, PagesRunInTheSandboxAndTheWindowsFilesArePrivate)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    if (auto failure = scenario::bubblewrapFailure()) {
        // A chroot (a fresh root made for a trial install), or a kernel without user namespaces
        // for us: no sandbox can start, and the window then shows no page (tested below). What
        // the sandbox keeps from pages can only be tested where it runs.
        GTEST_SKIP() << "bwrap cannot run here, so neither can WebKit's sandbox: " << *failure;
    }
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    Home home;
    // As an earlier version left them: open to everyone.
    for (const auto& dir : {home.config(), home.data(), home.cache(), home.path() + "/.ssh"}) {
        fs::create_directories(dir);
        ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    }
    scenario::writeFile(home.config() + "/defaults.json", R"({"nameString": "Jo"})");
    scenario::writeFile(home.data() + "/contacts.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann Lee\r\nEND:VCARD\r\n");
    scenario::writeFile(home.data() + "/left-by-an-earlier-version.txt", "x");
    scenario::writeFile(home.cache() + "/left-by-an-earlier-version.txt", "x");
    scenario::writeFile(home.path() + "/.ssh/id_ed25519", "private key");
    scenario::writeFile(home.path() + "/planted.txt", "the player's own");
    for (const auto& file : {home.config() + "/defaults.json", home.data() + "/left-by-an-earlier-version.txt",
                             home.cache() + "/left-by-an-earlier-version.txt"})
        ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    const std::vector<std::string> secrets{home.config() + "/defaults.json", home.data() + "/cookies.sqlite",
                                           home.data() + "/contacts.vcf", home.path() + "/.ssh/id_ed25519",
                                           home.path() + "/planted.txt", home.config(), home.path() + "/.ssh"};

    struct Look {
        std::string noNewPrivs, seccomp;
        bool ownMounts = false, ownPids = false, rootReadable = false;
        std::vector<std::string> seen;  // of the secrets, those its root shows
        bool cookiesOnDisk = false;
    };
    std::optional<Look> look;
    auto started = std::chrono::steady_clock::now();
    scenario::ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 60;
    options.defaultDataDirectories = true;
    options.environment = home.environment();
    options.whileRunning = [&](pid_t client) {
        // Once the first page is up (about 3.5 s after launch), each sighting replaces the last.
        if (std::chrono::steady_clock::now() - started < std::chrono::seconds(4))
            return;
        for (pid_t pid : scenario::processTree(client)) {
            if (!scenario::programOf(pid).ends_with("/WebKitWebProcess"))
                continue;
            Look l;
            l.noNewPrivs = scenario::statusField(pid, "NoNewPrivs");
            l.seccomp = scenario::statusField(pid, "Seccomp");
            l.ownMounts = scenario::namespaceOf(pid, "mnt") != scenario::namespaceOf(client, "mnt");
            l.ownPids = scenario::namespaceOf(pid, "pid") != scenario::namespaceOf(client, "pid");
            std::string root = "/proc/" + std::to_string(pid) + "/root";
            std::error_code error;
            l.rootReadable = fs::exists(root + "/usr/lib", error);
            for (const auto& secret : secrets)
                if (fs::exists(root + secret, error))
                    l.seen.push_back(secret);
            l.cookiesOnDisk = fs::exists(home.data() + "/cookies.sqlite", error);
            if (l.rootReadable && !l.noNewPrivs.empty())
                look = l;
        }
    };
    auto t = scenario::runScenario("wait 4.5\ntap Street\nwait 1.5\nstate\n",
                                   {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record", "--server", server.hostPort()},
                                   options);
    ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();
    ASSERT_EQ(t.states().size(), 1u) << t.dump();
    EXPECT_NE(t.states()[0]["webView"]["url"].get<std::string>().find("/missions.php"), std::string::npos) << "pages load";

    ASSERT_TRUE(look) << "no web process was seen";
    EXPECT_EQ(look->noNewPrivs, "1");
    EXPECT_EQ(look->seccomp, "2");
    EXPECT_TRUE(look->ownMounts);
    EXPECT_TRUE(look->ownPids);
    EXPECT_TRUE(look->cookiesOnDisk) << "WebKit keeps the cookies it got";
    EXPECT_EQ(look->seen, std::vector<std::string>{}) << "the page's process sees the player's files";

    for (const auto& dir : {home.config(), home.data(), home.cache()}) {
        SCOPED_TRACE(dir);
        EXPECT_EQ(modeOf(dir), 0700u);
    }
    // Whatever the client and WebKit keep in the data directories, and all the cache holds that
    // this run wrote.
    for (const auto& root : {home.config(), home.data(), home.cache()}) {
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(root, error)) {
            std::string path = entry.path().string();
            if (entry.is_symlink() || path == home.cache() + "/left-by-an-earlier-version.txt")
                continue;
            EXPECT_EQ(modeOf(path) & 077, 0u) << path << " is " << std::oct << modeOf(path);
        }
    }
    EXPECT_EQ(modeOf(home.data() + "/cookies.sqlite"), 0600u);
}

// Where bwrap cannot work (here: no user namespaces for the client), the window says so in one
// line and shows no page; WebKit's own variable lets the player run without the sandbox. GTK
// starts while the sandbox is tried: what it has to say (here, about a module the player names
// that is not there) is no part of a refusal, and is still said when the sandbox works.
TEST(DesktopContainment, WithoutTheSandboxNoPageIsShownUnlessThePlayerTurnsItOff)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    const std::vector<std::string> blocked{"/usr/bin/bwrap", "--dev-bind", "/", "/", "--unshare-user", "--uid", "1000",
                                           "--disable-userns", "--"};
    if (scenario::bubblewrapFailure())
        GTEST_SKIP() << "bwrap cannot run here at all: " << *scenario::bubblewrapFailure();
    if (!scenario::bubblewrapFailure(blocked))
        GTEST_SKIP() << "user namespaces cannot be taken away here";
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());

    scenario::ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 60;
    options.launcher = blocked;
    const std::vector<std::string> args{"--scale", "1", "--movie-seconds", "0.2", "--server", server.hostPort()};
    const std::string gtkSays = "Failed to load module \"street-no-such-module\"";
    options.environment = {{"GTK_MODULES", "street-no-such-module"}};
    auto refused = scenario::runScenario("wait 4\nstate\n", args, options);
    EXPECT_EQ(refused.exitCode, 1) << refused.stderrText;
    EXPECT_EQ(std::count(refused.stderrText.begin(), refused.stderrText.end(), '\n'), 1) << refused.stderrText;
    EXPECT_TRUE(refused.stderrText.starts_with("street-client: no page is shown: the web sandbox cannot start"))
        << refused.stderrText;
    EXPECT_NE(refused.stderrText.find("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1"), std::string::npos);
    EXPECT_TRUE(refused.lines.empty()) << refused.dump();
    EXPECT_TRUE(server.requestLog().empty()) << "not even the entry request";

    options.environment = {{"WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1"}};
    auto unsandboxed = scenario::runScenario("wait 4\nstate\n", args, options);
    ASSERT_EQ(unsandboxed.exitCode, 0) << unsandboxed.stderrText << unsandboxed.dump();
    EXPECT_NE(unsandboxed.stderrText.find("pages run without WebKit's sandbox"), std::string::npos);
    EXPECT_EQ(unsandboxed.count("load-finish"), 1u) << unsandboxed.dump();

    options.launcher.clear();
    options.environment = {{"GTK_MODULES", "street-no-such-module"}};
    auto sandboxed = scenario::runScenario("wait 2\nstate\n", args, options);
    ASSERT_EQ(sandboxed.exitCode, 0) << sandboxed.stderrText << sandboxed.dump();
    EXPECT_NE(sandboxed.stderrText.find(gtkSays), std::string::npos) << sandboxed.stderrText;
    EXPECT_EQ(sandboxed.stderrText.find("sandbox"), std::string::npos) << sandboxed.stderrText;
}

} // namespace
