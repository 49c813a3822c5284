// The window comes up before the web engine: it maps and draws its start background with the
// window's own module alone, and WebKit, loaded after, catches up with what the kit asked for
// (the entry request) meanwhile.

#include "backend/gtk/PageEngine.h"
#include "support/Desktop.h"
#include "support/Processes.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

namespace {

namespace fs = std::filesystem;

// What a page's engine was asked, in order.
struct Asked {
    std::vector<std::string> calls;
    int made = 0, gone = 0;
};

class RecordingPage : public backend::gtk::PageEngine {
public:
    explicit RecordingPage(Asked& asked) : asked_(asked), widget_(gtk_label_new("page")) { ++asked_.made; }
    ~RecordingPage() override
    {
        ++asked_.gone;
        g_object_unref(widget_);
    }
    GtkWidget* widget() const override { return widget_; }
    void load(const kit::URLRequest& request) override { asked_.calls.push_back("load " + request.url); }
    void stop() override { asked_.calls.push_back("stop"); }
    void evaluate(const std::string& script) override { asked_.calls.push_back("js " + script); }
    void navigateFromPage(const std::string& url) override { asked_.calls.push_back("navigate " + url); }
    void followTitle(std::function<void(const char*)> observer) override
    {
        if (observer)
            observer("title");
    }

private:
    Asked& asked_;
    GtkWidget* widget_;  // a reference of our own, as WebKit's view holds its widget
};

class RecordingMaker : public backend::gtk::PageEngineMaker {
public:
    explicit RecordingMaker(Asked& asked) : asked_(asked) {}
    std::unique_ptr<backend::gtk::PageEngine> make(kit::WebView&) override
    {
        auto page = std::make_unique<RecordingPage>(asked_);
        g_object_ref_sink(page->widget());
        return page;
    }

private:
    Asked& asked_;
};

// What reaches the page's engine when the kit asked for things before there was one.
TEST(DesktopLatePage, WhatTheKitAskedBeforeTheEngineCameReachesItThen)
{
    if (!scenario::haveDisplay() || !gtk_init_check(nullptr, nullptr))
        GTEST_SKIP() << "needs a display";
    using backend::gtk::LatePageEngine;
    kit::WebView::setEngineFactory([](kit::WebView& view) { return std::make_unique<LatePageEngine>(view); });
    struct Case {
        const char* name;
        std::function<void(kit::WebView&)> before;
        std::vector<std::string> reached;
    };
    const std::vector<Case> cases{
        {"a load waits", [](kit::WebView& v) { v.loadRequest(kit::URLRequest::requestWithURL("http://game.example/a")); },
         {"load http://game.example/a"}},
        {"the last load asked for wins",
         [](kit::WebView& v) {
             v.loadRequest(kit::URLRequest::requestWithURL("http://game.example/a"));
             v.loadRequest(kit::URLRequest::requestWithURL("http://game.example/b"));
         },
         {"load http://game.example/b"}},
        {"a stopped load never starts",
         [](kit::WebView& v) {
             v.loadRequest(kit::URLRequest::requestWithURL("http://game.example/a"));
             v.stopLoading();
         },
         {}},
        {"a script has no page to run in yet",
         [](kit::WebView& v) { v.stringByEvaluatingJavaScriptFromString("document.title"); }, {}},
    };
    for (const auto& c : cases) {
        Asked asked;
        RecordingMaker maker(asked);
        {
            kit::WebView view(kit::Rect(0, 0, 320, 480));
            auto* engine = dynamic_cast<LatePageEngine*>(view.engine());
            ASSERT_NE(engine, nullptr);
            GtkWidget* holder = engine->widget();
            c.before(view);
            EXPECT_EQ(engine->page(), nullptr) << c.name;
            EXPECT_EQ(engine->focusWidget(), holder) << c.name;
            EXPECT_FALSE(engine->navigateFromPage("http://game.example/n")) << c.name;

            LatePageEngine::setMaker(&maker);
            EXPECT_EQ(asked.made, 1) << c.name;
            EXPECT_EQ(asked.calls, c.reached) << c.name;
            ASSERT_NE(engine->page(), nullptr) << c.name;
            // The page's widget fills the place the window gave the view, and takes its keys.
            EXPECT_EQ(gtk_widget_get_parent(engine->page()->widget()), holder) << c.name;
            EXPECT_EQ(engine->focusWidget(), engine->page()->widget()) << c.name;

            // From then on everything goes straight through.
            asked.calls.clear();
            view.stringByEvaluatingJavaScriptFromString("1");
            EXPECT_TRUE(engine->navigateFromPage("http://game.example/n"));
            EXPECT_EQ(asked.calls, (std::vector<std::string>{"js 1", "navigate http://game.example/n"})) << c.name;
        }
        EXPECT_EQ(asked.gone, 1) << c.name;
        // A view made once there is a maker has its page at once.
        {
            kit::WebView later(kit::Rect(0, 0, 320, 480));
            EXPECT_NE(dynamic_cast<LatePageEngine*>(later.engine())->page(), nullptr) << c.name;
            EXPECT_EQ(asked.made, 2) << c.name;
            // Letting go of the maker lets go of the pages it made.
            LatePageEngine::setMaker(nullptr);
            EXPECT_EQ(asked.gone, 2) << c.name;
            EXPECT_EQ(gtk_bin_get_child(GTK_BIN(dynamic_cast<LatePageEngine*>(later.engine())->widget())), nullptr);
        }
    }
    kit::WebView::setEngineFactory(nullptr);
}

// The installed window, whose WebKit is in a module of its own: with it, the window maps and
// draws before its first page; without it, the window still maps and draws, then says in one
// line that no page can be shown, sends nothing to the server and ends with status 1.
TEST(DesktopStart, TheWindowDrawsWithoutWebKitAndWebKitCatchesUp)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    scenario::TempDir prefix("street-start-prefix");
    ASSERT_EQ(std::system((std::string(STREET_CMAKE) + " --install " + STREET_BUILD_DIR + " --prefix " + prefix.path()
                           + " >/dev/null 2>&1").c_str()),
              0);
    const std::string program = prefix.path() + "/bin/street-client";
    const fs::path modules = fs::path(prefix.path()) / "lib" / "street-client";
    ASSERT_TRUE(fs::exists(modules / "street-desktop-web.so"));

    auto run = [&program](scenario::DemoServer& server) {
        scenario::ScenarioOptions options;
        options.desktop = true;
        options.timeoutSeconds = 60;
        options.launcher = {"/bin/sh", "-c", "shift; exec \"$0\" \"$@\"", program};  // in place of the built one
        return scenario::runScenario("wait 3\nstate\n", {"--scale", "1", "--movie-seconds", "0.2", "--server", server.hostPort()},
                                     options);
    };
    auto position = [](const scenario::Transcript& t, const std::string& ev, const std::string& event) {
        for (size_t i = 0; i < t.lines.size(); ++i)
            if (t.lines[i].value("ev", "") == ev && (event.empty() || t.lines[i].value("event", "") == event))
                return static_cast<long>(i);
        return -1L;
    };

    {
        scenario::DemoServer server;
        ASSERT_TRUE(server.started());
        auto whole = run(server);
        ASSERT_EQ(whole.exitCode, 0) << whole.stderrText << whole.dump();
        long mapped = position(whole, "window", "mapped"), drawn = position(whole, "window", "first-frame");
        long loaded = position(whole, "load-finish", "");
        ASSERT_GE(mapped, 0) << whole.dump();
        EXPECT_GT(drawn, mapped) << whole.dump();
        EXPECT_GT(loaded, drawn) << whole.dump();
        EXPECT_FALSE(server.requestLog().empty());
    }

    fs::remove(modules / "street-desktop-web.so");
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    auto without = run(server);
    EXPECT_EQ(without.exitCode, 1) << without.stderrText;
    // One line of ours (GTK, up by then, may have words of its own about the desktop; where bwrap
    // cannot run, the tests run pages without the sandbox, and the client says that first).
    std::vector<std::string> ours;
    std::istringstream said(without.stderrText);
    for (std::string line; std::getline(said, line);)
        if (line.starts_with("street-client:") && line.find("pages run without WebKit's sandbox") == std::string::npos)
            ours.push_back(line);
    ASSERT_EQ(ours.size(), 1u) << without.stderrText;
    EXPECT_TRUE(ours[0].starts_with("street-client: no page is shown: the web engine cannot be loaded (")) << ours[0];
    EXPECT_NE(without.stderrText.find("street-desktop-web.so"), std::string::npos) << without.stderrText;
    EXPECT_LT(position(without, "window", "mapped"), position(without, "window", "first-frame")) << without.dump();
    EXPECT_EQ(without.count("load-finish"), 0u) << without.dump();
    EXPECT_TRUE(server.requestLog().empty()) << "not even the entry request";
}

} // namespace

namespace {

// Whether `pid` has a GL driver mapped: Mesa's EGL, its DRI drivers or LLVM.
bool mapsGLDriver(pid_t pid)
{
    return scenario::mapsFile(pid, "libEGL_mesa") || scenario::mapsFile(pid, "_dri.so") || scenario::mapsFile(pid, "libLLVM");
}

} // namespace

// The window never draws with GL, so its own process loads no GL driver, while the page's process,
// which needs EGL to start, has its driver and shows the page. A driver list the player names is
// left alone: the window's process then loads from it as any program would.
TEST(DesktopStart, OnlyThePagesProcessLoadsAGLDriver)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> environment;
        bool windowHasDriver;
    } cases[] = {
        {"as installed", {}, false},
        {"the player's driver list", {{"__EGL_VENDOR_LIBRARY_DIRS", "/usr/share/glvnd/egl_vendor.d"}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scenario::DemoServer server;
        ASSERT_TRUE(server.started());
        std::optional<bool> window, page;
        auto started = std::chrono::steady_clock::now();
        scenario::ScenarioOptions options;
        options.desktop = true;
        options.timeoutSeconds = 60;
        options.environment = c.environment;
        options.whileRunning = [&](pid_t client) {
            if (std::chrono::steady_clock::now() - started < std::chrono::seconds(3))
                return;
            // Whether a driver was ever seen: a process on its way out has nothing mapped.
            window = window.value_or(false) || mapsGLDriver(client);
            for (pid_t pid : scenario::processTree(client))
                if (scenario::programOf(pid).ends_with("/WebKitWebProcess"))
                    page = page.value_or(false) || mapsGLDriver(pid);
        };
        auto t = scenario::runScenario("wait 4\nstate\n", {"--scale", "1", "--movie-seconds", "0.2", "--server", server.hostPort()},
                                       options);
        ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();
        EXPECT_EQ(t.count("load-finish"), 1u) << t.dump();
        ASSERT_TRUE(window.has_value() && page.has_value()) << "the client and its web process were seen";
        EXPECT_EQ(*window, c.windowHasDriver);
        EXPECT_TRUE(*page);
    }
}
