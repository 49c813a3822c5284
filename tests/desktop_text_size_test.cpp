// The desktop's text size (its font DPI, which "Large Text" raises to 120) in the window: pages
// still lay out at 320 CSS pixels at any scale, and follow a change made while the game runs,
// while the window's own text grows and shrinks with it as in any GTK program.
// The setting reaches the client as on a desktop, from an XSETTINGS daemon on an X server of the
// test's own.

#include "backend/gtk/WebViewPeer.h"
#include "support/Desktop.h"
#include "support/OwnDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using nlohmann::json;

constexpr const char* kDaemon = "/usr/bin/xsettingsd";

// xsettingsd serving Xft/DPI on `display`; set() changes it as a settings panel would.
class TextSize {
public:
    TextSize(const std::string& display, int dpi) : display_(display)
    {
        write(dpi);
        std::string env = "DISPLAY=" + display;
        std::vector<std::string> args{kDaemon, "--config", config()};
        std::vector<char*> argv, envp{env.data(), nullptr};
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, kDaemon, &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TextSize()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    TextSize(const TextSize&) = delete;
    TextSize& operator=(const TextSize&) = delete;

    // Whether the daemon owns the display's settings (within a few seconds).
    bool serving() const
    {
        Display* x = XOpenDisplay(display_.c_str());
        if (!x)
            return false;
        Atom selection = XInternAtom(x, "_XSETTINGS_S0", False);
        bool owned = false;
        for (int i = 0; i < 100 && !owned && pid_ > 0; ++i) {
            owned = XGetSelectionOwner(x, selection) != None;
            if (!owned)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        XCloseDisplay(x);
        return owned;
    }
    void set(int dpi)
    {
        write(dpi);
        ::kill(pid_, SIGHUP);
    }

private:
    std::string config() const { return dir_.path() + "/xsettingsd.conf"; }
    void write(int dpi) { scenario::writeFile(config(), "Xft/DPI " + std::to_string(dpi * 1024) + "\n"); }

    std::string display_;
    scenario::TempDir dir_{"street-xsettings"};
    pid_t pid_ = -1;
};

// WebKit lays a page out at zoom level x DPI / 96 device pixels per CSS pixel: the zoom level
// that gives `scale` whatever the DPI.
TEST(DesktopTextSize, TheZoomLevelUndoesTheFontDpi)
{
    struct Case {
        int scale;
        int xftDpi;
        double zoom;
    } cases[] = {
        {1, 96 * 1024, 1.0}, {2, 96 * 1024, 2.0}, {1, 120 * 1024, 0.8}, {2, 120 * 1024, 1.6}, {3, 144 * 1024, 2.0},
        {1, 192 * 1024, 0.5}, {1, 72 * 1024, 4.0 / 3}, {2, 100 * 1024, 1.92},
        // GtkSettings' "unset" (-1): the default, 96.
        {1, -1, 1.0}, {2, 0, 2.0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(backend::gtk::WebViewPeer::zoomLevel(c.scale, c.xftDpi), c.zoom) << c.scale << " " << c.xftDpi;
}

// The tab bar's titles: their height in pixels at a state line's moment.
int titleHeight(const json& state)
{
    const json* bar = scenario::widget(state, "view", "TabBar");
    return bar && bar->contains("titleHeight") ? (*bar)["titleHeight"].get<int>() : 0;
}

class DesktopTextSizeRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!scenario::haveDisplay())
            GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
        ASSERT_EQ(::access(kDaemon, X_OK), 0) << kDaemon << " is missing (./dev installs xsettingsd)";
        server_ = std::make_unique<scenario::DemoServer>(
            std::vector<std::string>{"/usr/bin/python3", STREET_TESTS_DIR "/tools/hostile_server.py"}, std::vector<std::string>{});
        ASSERT_TRUE(server_->started());
        ASSERT_TRUE(display_.started()) << "Xvfb did not start";
    }

    // Runs `script` at `scale` on the test's display; `duringRun` is called with the seconds
    // since the start, about every 50 ms.
    scenario::Transcript run(const std::string& script, int scale, std::function<void(double)> duringRun = {})
    {
        scenario::ScenarioOptions options;
        options.desktop = true;
        options.timeoutSeconds = 60;
        options.environment = {{"DISPLAY", display_.name()}, {"XAUTHORITY", ""}, {"GDK_BACKEND", "x11"}};
        auto started = std::chrono::steady_clock::now();
        if (duringRun)
            options.whileRunning = [&](pid_t) {
                duringRun(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
            };
        auto t = scenario::runScenario(script, {"--scale", std::to_string(scale), "--movie-seconds", "0.2", "--open-urls",
                                                "record", "--server", server_->hostPort()},
                                       options);
        EXPECT_EQ(t.exitCode, 0) << t.stderrText << t.dump();
        return t;
    }
    std::string sizePage() const { return server_->baseURL() + "/size.php"; }

    std::unique_ptr<scenario::DemoServer> server_;
    scenario::OwnDisplay display_;
};

// The page's title is its innerWidth x innerHeight: the same at every text size and scale, and
// the window's size is the scale's alone.
TEST_F(DesktopTextSizeRun, PagesLayOutAt320CssPixelsAtAnyTextSizeAndScale)
{
    struct Case {
        int dpi, scale;
    } cases[] = {{96, 1}, {120, 1}, {96, 2}, {120, 2}, {144, 1}};
    std::string first;
    std::map<int, int> titleAtScale;  // at 96 dpi
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.dpi) + " dpi, scale " + std::to_string(c.scale));
        TextSize textSize(display_.name(), c.dpi);
        ASSERT_TRUE(textSize.serving());
        auto t = run("wait 3\nnavigate " + sizePage() + "\nwait 2\nstate\n", c.scale);
        auto states = t.states();
        ASSERT_EQ(states.size(), 1u) << t.dump();
        const json& window = states[0]["window"];
        EXPECT_EQ(window["textDpi"], c.dpi) << "the setting reached the client";
        EXPECT_EQ(window["size"], json({320 * c.scale, 460 * c.scale}));
        std::string title = window["title"];
        EXPECT_TRUE(title.starts_with("320 x ")) << title;
        if (first.empty())
            first = title;
        EXPECT_EQ(title, first) << "the page's height in CSS pixels";
        // The window's own text is sized as the desktop asks: line heights grow about as the DPI.
        int height = titleHeight(states[0]);
        ASSERT_GT(height, 0) << t.dump();
        if (c.dpi == 96) {
            titleAtScale[c.scale] = height;
        } else if (titleAtScale.count(c.scale)) {
            EXPECT_NEAR(height / static_cast<double>(titleAtScale[c.scale]), c.dpi / 96.0, 0.15) << height;
        }
    }
}

// The player changes the text size while the game runs (96, then 120, then 168 dpi): the page
// keeps its 320 CSS pixels.
TEST_F(DesktopTextSizeRun, APageFollowsATextSizeChangedWhileItRuns)
{
    TextSize textSize(display_.name(), 96);
    ASSERT_TRUE(textSize.serving());
    int step = 0;
    auto t = run("wait 3\nnavigate " + sizePage() + "\nwait 2\nstate\nwait 4\nstate\nwait 4\nstate\n", 2,
                 [&](double seconds) {
                     if (step == 0 && seconds > 7) {
                         textSize.set(120);
                         ++step;
                     } else if (step == 1 && seconds > 11) {
                         textSize.set(168);
                         ++step;
                     }
                 });
    auto states = t.states();
    ASSERT_EQ(states.size(), 3u) << t.dump();
    EXPECT_EQ(step, 2);
    std::vector<json> dpis, titles;
    std::vector<int> heights;
    for (const auto& state : states) {
        dpis.push_back(state["window"]["textDpi"]);
        titles.push_back(state["window"]["title"]);
        heights.push_back(titleHeight(state));
    }
    EXPECT_LT(heights[0], heights[1]) << "the tab titles grew with the text size";
    EXPECT_LT(heights[1], heights[2]);
    EXPECT_EQ(dpis, (std::vector<json>{96, 120, 168})) << "the changes reached the client in time";
    EXPECT_TRUE(titles[0].get<std::string>().starts_with("320 x ")) << titles[0];
    EXPECT_EQ(titles, (std::vector<json>{titles[0], titles[0], titles[0]}));
}

} // namespace
