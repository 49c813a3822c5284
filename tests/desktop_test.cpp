// The client in its window (GTK + WebKitGTK) against the demo server, on the real clock. These
// runs need a display: ./dev test runs the suite under xvfb-run and dbus-run-session.

#include "backend/gtk/CookieJarPeer.h"
#include "backend/gtk/GLibRunLoopDriver.h"
#include "backend/gtk/WebViewPeer.h"
#include "backend/gtk/WindowPeer.h"
#include "kit/Platform.h"
#include "kit/KeyPress.h"
#include "kit/Label.h"
#include "kit/Window.h"
#include "kit/RunLoop.h"
#include "shell/Options.h"
#include "support/Desktop.h"
#include "support/Picture.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <libsoup/soup.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using scenario::Transcript;

using scenario::Picture;
using scenario::Pixel;

class DesktopTest : public scenario::DesktopSuite {
protected:
    // The intro movie is cut to 0.5 s: the first page fades in about 2.9 s after it ends.
    Transcript run(const std::string& script, std::vector<std::string> args = {}, const std::string& server = "")
    {
        return scenario::runInWindow(script, server.empty() ? server_->hostPort() : server, "0.5", args);
    }

    std::string url(const std::string& path) const { return server_->baseURL() + path; }
};

TEST_F(DesktopTest, FirstPageShowsOverItsBackgroundAndTabsCrossFade)
{
    scenario::TempDir dir;
    std::string first = dir.path() + "/first.png";
    std::string script;
    // States every 0.1 s around the first page's reveal, so some fall inside its fades.
    script += "wait 2.6\n";
    for (int i = 0; i < 14; ++i)
        script += "state\nwait 0.1\n";
    std::string second = dir.path() + "/second.png";
    script += "wait 3\nstate\nsnapshot " + first + "\ntap Street\nwait 2\nstate\nsnapshot " + second + "\n";
    auto t = run(script);

    auto states = t.states();
    ASSERT_EQ(states.size(), 16u) << t.dump();
    // Mid-fade, someone sees the page or a background half-way.
    bool intermediate = false;
    for (size_t i = 0; i < 14; ++i) {
        double page = states[i]["webView"]["alpha"];
        double start = states[i]["backgrounds"]["imageViewBg"]["alpha"];
        intermediate = intermediate || (page > 0.02 && page < 0.98) || (start > 0.02 && start < 0.98);
    }
    EXPECT_TRUE(intermediate) << t.dump();
    // The frame clock drew the 0.3 s fade-in in many steps, not as a jump.
    int steps = 0;
    for (size_t i = 0; i < 15; ++i)
        steps += (*scenario::widget(states[i], "view", "WebView"))["steps"].get<int>();
    EXPECT_GT(steps, 10);

    const auto& shown = states[14];
    EXPECT_EQ(shown["window"]["title"], "Home");
    EXPECT_EQ(shown["window"]["size"], nlohmann::json({320, 460}));
    EXPECT_EQ(shown["tabBar"]["selected"], 0);
    std::string backgroundName = shown["backgrounds"]["secondImageViewBg"]["image"];
    // At scale 1, the picture itself.
    bool drawn = false;
    for (const auto& w : shown["window"]["widgets"])
        drawn = drawn || (w["view"] == "ImageView" && w.value("image", nlohmann::json()) == backgroundName);
    EXPECT_TRUE(drawn) << shown["window"].dump();

    // The picture: the window is the screen less the status bar; the page's transparent part
    // shows the background, the tab bar is the bottom strip of 49 points, and the page's title
    // is drawn in light letters at the top.
    Picture window(first);
    ASSERT_TRUE(window.loaded());
    ASSERT_EQ(window.width(), 320);
    ASSERT_EQ(window.height(), 460);
    Picture background(std::string(STREET_RESOURCES_DIR) + "/images/" + backgroundName);
    ASSERT_TRUE(background.loaded()) << backgroundName;
    for (int y : {300, 380, 425})
        EXPECT_LE(window.at(300, y - 20).distance(background.at(300, y - 20)), 24) << "y " << y;
    int strip = 0;
    for (int x = 5; x < 320; x += 20)
        strip += window.at(x, 420).distance(background.at(x, 420)) > 24 || window.at(x, 412).distance(background.at(x, 412)) > 24;
    EXPECT_GE(strip, 14);
    int brightest = 0;
    for (int y = 10; y < 50; ++y)
        for (int x = 14; x < 90; ++x)
            brightest = std::max(brightest, window.at(x, y).brightness());
    EXPECT_GT(brightest, 200);

    // The tab click goes through the button to the page: loaded, selected, cross-faded.
    const auto& after = states[15];
    EXPECT_EQ(after["tabBar"]["selected"], 1);
    EXPECT_NE(after["webView"]["url"].get<std::string>().find("missions.php"), std::string::npos);
    EXPECT_EQ(after["window"]["title"], "Street");
    int fadeSteps = 0;
    for (const auto& w : after["window"]["widgets"])
        if (w["view"] == "ImageView")
            fadeSteps += w["steps"].get<int>();
    EXPECT_GE(fadeSteps, 3) << after.dump();
    // The layer that was drawn with the start picture now shows the tab's own.
    ASSERT_EQ(after["backgrounds"]["secondImageViewBg"]["alpha"], 0.0) << after.dump();
    std::string tabBackground = after["backgrounds"]["imageViewBg"]["image"];
    EXPECT_NE(tabBackground, "bg_start.jpg");
    Picture tabWindow(second), tabPicture(std::string(STREET_RESOURCES_DIR) + "/images/" + tabBackground);
    ASSERT_TRUE(tabWindow.loaded() && tabPicture.loaded()) << tabBackground;
    for (int y : {200, 280, 320})
        EXPECT_LE(tabWindow.at(300, y).distance(tabPicture.at(300, y)), 24) << "y " << y;
}

// How far `moved` is `still` shifted sideways: the shift under which every compared pixel
// matches, searched up to 24 pixels either way; none when no shift makes them match. The tab
// bar is left out: its look follows the window's focus, which another test's window on the same
// compositor takes.
std::optional<int> sidewaysShift(const Picture& moved, const Picture& still)
{
    for (int dx = 0; dx <= 24; ++dx) {
        for (int sign : {1, -1}) {
            bool same = true;
            for (int y = 4; y < still.height() - 60 && same; y += 6)
                for (int x = 30; x < still.width() - 30 && same; x += 3)
                    same = moved.at(x, y).distance(still.at(x - sign * dx, y)) <= 6;
            if (same)
                return sign * dx;
        }
    }
    return std::nullopt;
}

// Vibration swings what the window shows from side to side for a moment, in snapshots as on
// screen (a desktop may not let the window itself move), and leaves it exactly where it was.
TEST_F(DesktopTest, VibrationShakesTheContentAndPutsItBack)
{
    scenario::TempDir dir;
    const int shots = 30;
    std::string script = "wait 6\nsnapshot " + dir.path() + "/before.png\nnavigate "
        + url("/commands.php?invokeVibrate=true&stopLoad=true") + "\n";
    for (int i = 0; i < shots; ++i)
        script += "snapshot " + dir.path() + "/" + std::to_string(i) + ".png\nwait 0.02\n";
    script += "wait 0.6\nsnapshot " + dir.path() + "/after.png\nstate\n";
    auto t = run(script);
    ASSERT_EQ(t.count("vibrate"), 1u) << t.dump();
    ASSERT_EQ(t.states().size(), 1u) << t.dump();
    EXPECT_EQ(t.states()[0]["window"]["size"], nlohmann::json({320, 460}));

    Picture before(dir.path() + "/before.png"), after(dir.path() + "/after.png");
    ASSERT_TRUE(before.loaded() && after.loaded());
    EXPECT_EQ(sidewaysShift(after, before), 0) << "the content is back where it was";
    std::vector<std::optional<int>> shifts;
    int displaced = 0;
    for (int i = 0; i < shots; ++i) {
        Picture during(dir.path() + "/" + std::to_string(i) + ".png");
        ASSERT_TRUE(during.loaded()) << i;
        shifts.push_back(sidewaysShift(during, before));
        displaced += shifts.back().value_or(0) != 0;
    }
    // Every picture is the same content, some moved aside (up to 8 pixels each way at scale 1).
    std::string shown = testing::PrintToString(shifts);
    EXPECT_GE(displaced, 3) << shown;
    for (const auto& shift : shifts) {
        ASSERT_TRUE(shift.has_value()) << "a picture that is not the content moved: " << shown;
        EXPECT_LE(std::abs(*shift), 8) << shown;
    }
}

TEST_F(DesktopTest, AlertKeysPressButtonsWhoseScriptsRunInThePage)
{
    auto twoButtons = [&](const std::string& title) {
        return "navigate " + url("/commands.php?invokeAlertTwoBtnTitle=" + title
                                 + "&invokeAlertTwoBtnBody=Race%20now%3F&invokeAlertTwoBtn1Name=No&invokeAlertTwoBtn2Name=Yes"
                                   "&invokeAlertTwoBtn1JS=document.title%3D%27declined%27"
                                   "&invokeAlertTwoBtn2JS=location.href%3D%27/bank.php%27&stopLoad=true")
            + "\n";
    };
    auto t = run("wait 5\n" + twoButtons("First") + "wait 1\nstate\nkey Escape\nwait 1\nstate\n" + twoButtons("Second")
                 + "wait 1\nkey Return\nwait 2\nstate\n");
    auto alerts = t.events("alert");
    auto presses = t.events("alert-press");
    ASSERT_EQ(alerts.size(), 2u) << t.dump();
    ASSERT_EQ(presses.size(), 2u) << t.dump();
    auto states = t.states();
    ASSERT_EQ(states.size(), 3u);
    // Drawn in the window, in front of everything.
    EXPECT_EQ(states[0]["window"]["layers"], 1);
    EXPECT_EQ(states[1]["window"]["layers"], 0);
    // Escape: the first button; its script retitles the page (and so the window).
    EXPECT_EQ(presses[0]["index"], 0);
    EXPECT_EQ(states[1]["window"]["title"], "declined");
    // Return: the last button; its script navigates, and the navigation passes the bridge.
    EXPECT_EQ(presses[1]["index"], 1);
    bool decided = false;
    for (const auto& d : t.events("decide"))
        decided = decided || (d["url"] == url("/bank.php") && d["allow"] == true);
    EXPECT_TRUE(decided) << t.dump();
    EXPECT_EQ(states[2]["window"]["title"], "Bank");
}

TEST_F(DesktopTest, FailedLoadsRaiseOneAlert)
{
    // Nobody listens: the no-connection alert, once.
    auto down = run("wait 5\nstate\n", {}, "127.0.0.1:" + std::to_string(scenario::closedLoopbackPort()));
    auto fails = down.events("load-fail");
    ASSERT_EQ(fails.size(), 1u) << down.dump();
    EXPECT_EQ(fails[0]["code"], -1004);
    ASSERT_EQ(down.count("alert"), 1u) << down.dump();
    EXPECT_EQ((*down.first("alert"))["title"], "Unable to Reach Internet");

    // A server that takes the connection and never answers: the load times out, one alert.
    int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(silent, 8), 0);
    getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
    auto hung = run("wait 6\nstate\n", {"--load-timeout", "2"}, "127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
    close(silent);
    fails = hung.events("load-fail");
    ASSERT_EQ(fails.size(), 1u) << hung.dump();
    EXPECT_EQ(fails[0]["code"], -1001);
    EXPECT_EQ(fails[0]["description"], "The request timed out.");
    // Not before the time-out, and long before WebKit's own (none) or the 60 s default; a busy
    // machine may add a second or two.
    double waited = fails[0]["t"].get<double>() - (*hung.first("decide"))["t"].get<double>();
    EXPECT_GE(waited, 1.9);
    EXPECT_LT(waited, 5.5);
    EXPECT_EQ(hung.count("alert"), 1u) << hung.dump();
}

TEST_F(DesktopTest, OutsideLinksAreRecordedAndTheBadgeReachesTheSessionBus)
{
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!bus)
        GTEST_SKIP() << "needs a session bus (./dev test runs the suite under dbus-run-session)";
    scenario::TempDir dir;
    std::string log = dir.path() + "/monitor.txt";
    std::string command = "dbus-monitor --session \"type='signal',interface='com.canonical.Unity.LauncherEntry'\" > " + log
        + " 2>&1 & echo $!";
    FILE* monitor = popen(command.c_str(), "r");
    ASSERT_TRUE(monitor);
    int pid = 0;
    ASSERT_EQ(fscanf(monitor, "%d", &pid), 1);
    pclose(monitor);
    usleep(300'000);

    auto t = run("wait 4.5\nnavigate " + url("/commands.php?goToURL=https%3A%2F%2Fexample.org%2F&stopLoad=true")
                 + "\nwait 1\nnavigate " + url("/commands.php?changeApplicationBadge=7&stopLoad=true") + "\nwait 1\n");
    usleep(300'000);
    kill(pid, SIGTERM);

    auto opened = t.events("open-url");
    ASSERT_EQ(opened.size(), 1u) << t.dump();
    EXPECT_EQ(opened[0]["url"], "https://example.org/");
    ASSERT_NE(t.last("icon-badge"), nullptr);
    EXPECT_EQ((*t.last("icon-badge"))["value"], 7);
    std::string seen = scenario::readFile(log);
    EXPECT_NE(seen.find("application://net.streetclient.StreetClient.desktop"), std::string::npos) << seen;
    EXPECT_NE(seen.find("int64 7"), std::string::npos) << seen;
}

// The pages' cookies (kept by WebKit) go with the invite post, whose session check passes; the
// lasting login cookie outlives the run, in WebKit's store and nowhere else.
TEST_F(DesktopTest, ThePagesCookiesGoWithTheInvitePostAndTheLoginOutlivesTheRun)
{
    scenario::TempDir dir;
    scenario::writeFile(dir.path() + "/contacts.vcf", scenario::kOneContact);
    const std::vector<std::string> args = {"--udid", "desktop-udid", "--contacts", dir.path() + "/contacts.vcf",
                                           "--data-dir", dir.path() + "/data"};
    auto first = run("wait 4.5\nnavigate " + url("/commands.php?showABRecruit=true")
                         + "\nwait 1\npress Continue\ntype Zed\npress Done\nrow 0 0\ntoolbar Send Invites\nwait 1\n",
                     args);
    auto second = run("wait 4\n", args);

    ASSERT_NE(first.last("alert"), nullptr) << first.dump();
    EXPECT_EQ((*first.last("alert"))["title"], "Invites Sent") << first.dump();
    auto seen = server_->requestsStartingWith({"invite:", "entry:"});
    ASSERT_GE(seen.size(), 3u);
    EXPECT_TRUE(seen[seen.size() - 3].starts_with("entry: new player")) << seen[seen.size() - 3];
    EXPECT_EQ(seen[seen.size() - 2], "invite: 1 invitation(s) from udid desktop-udid");
    EXPECT_TRUE(seen.back().starts_with("entry: returning player")) << seen.back();
    EXPECT_NE(access((dir.path() + "/data/cookies.txt").c_str(), F_OK), 0);
}

// A script's key names are GDK's: each one is a key to the window, and a key press the window
// gets reads back as the same key.
TEST(DesktopKeys, EveryKeyNameIsAGdkKeyAndReadsBackTheSame)
{
    for (const auto& name : kit::KeyPress::keyNames()) {
        guint keyval = gdk_keyval_from_name(name.c_str());
        ASSERT_NE(keyval, static_cast<guint>(GDK_KEY_VoidSymbol)) << name;
        GdkEventKey event{};
        event.keyval = keyval;
        EXPECT_EQ(backend::gtk::WindowPeer::keyPressOf(event).name, name);
    }
    struct Case {
        guint keyval, state;
        kit::KeyPress key;
    };
    const Case cases[] = {
        {GDK_KEY_4, GDK_MOD1_MASK, {"4", kit::KeyPress::Alt}},
        {GDK_KEY_ISO_Left_Tab, GDK_SHIFT_MASK, {"ISO_Left_Tab", kit::KeyPress::Shift}},
        {GDK_KEY_Down, GDK_LOCK_MASK | GDK_MOD2_MASK, {"Down", 0}},  // Caps Lock and Num Lock are no modifiers here
        {GDK_KEY_a, GDK_CONTROL_MASK | GDK_SUPER_MASK, {"a", kit::KeyPress::Control | kit::KeyPress::Super}},
    };
    for (const auto& c : cases) {
        GdkEventKey event{};
        event.keyval = c.keyval;
        event.state = c.state;
        EXPECT_EQ(backend::gtk::WindowPeer::keyPressOf(event), c.key) << c.key.text();
    }
    GdkEventKey shiftTab{};
    shiftTab.keyval = GDK_KEY_ISO_Left_Tab;
    shiftTab.state = GDK_SHIFT_MASK;
    EXPECT_TRUE(backend::gtk::WindowPeer::keyPressOf(shiftTab).isShiftTab());
}

TEST(DesktopCommandLine, TheWindowRunsOnTheRealClockOnly)
{
    auto parse = [](std::vector<std::string> args) {
        std::vector<char*> argv{const_cast<char*>("street-client")};
        for (auto& a : args)
            argv.push_back(a.data());
        return shell::parseCommandLine(static_cast<int>(argv.size()), argv.data(), true);
    };
    auto window = parse({"--scale", "2", "--load-timeout", "5", "--open-urls", "record"});
    ASSERT_TRUE(window.options);
    EXPECT_FALSE(window.options->headless);
    EXPECT_EQ(window.options->scale, 2);
    EXPECT_TRUE(window.options->recordOpenURLs);
    for (auto args : std::vector<std::vector<std::string>>{{"--clock", "virtual"}, {"--engine", "scripted"},
                                                          {"--scale", "0"}, {"--load-timeout", "0"}, {"--open-urls", "maybe"}}) {
        auto parsed = parse(args);
        EXPECT_FALSE(parsed.options) << args[0];
        EXPECT_EQ(parsed.exitCode, 2) << args[0];
    }
}

TEST(DesktopWebEngine, LoadErrorsTakeTheHeadlessCodes)
{
    using backend::gtk::WebViewPeer;
    const char* io = g_quark_to_string(G_IO_ERROR);
    struct Case {
        const char* domain;
        int code;
        bool online;
        int expected;
    } cases[] = {
        {"WebKitNetworkError", 302, true, -999},
        {g_quark_to_string(G_RESOLVER_ERROR), G_RESOLVER_ERROR_NOT_FOUND, true, -1003},
        {g_quark_to_string(G_RESOLVER_ERROR), G_RESOLVER_ERROR_NOT_FOUND, false, -1009},
        {io, G_IO_ERROR_NETWORK_UNREACHABLE, true, -1009},
        {io, G_IO_ERROR_CONNECTION_REFUSED, true, -1004},
        {io, G_IO_ERROR_PARTIAL_INPUT, true, -1005},
        {io, G_IO_ERROR_CONNECTION_CLOSED, true, -1005},
        {"WebKitPolicyError", 102, true, -3102},
    };
    for (const auto& c : cases) {
        auto error = WebViewPeer::errorForFailedLoad(c.domain, c.code, "engine words", c.online);
        EXPECT_EQ(error.code, c.expected) << c.domain << " " << c.code;
        EXPECT_EQ(error.domain, "NSURLErrorDomain");
    }
    EXPECT_EQ(WebViewPeer::errorForFailedLoad("WebKitPolicyError", 102, "engine words", true).description, "engine words");
    EXPECT_EQ(WebViewPeer::errorForFailedLoad(io, G_IO_ERROR_CONNECTION_REFUSED, "x", true).description,
              "Could not connect to the server.");
}

// Cookies cross between WebKit's store and the kit's jar as cookie-file lines, unchanged.
TEST(DesktopCookies, CookieLinesCrossBetweenTheStoresUnchanged)
{
    using backend::gtk::CookieJarPeer;
    for (const std::string line : {"127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc",
                                   ".example.org\tTRUE\t/game\tTRUE\t2000000000\tlogin\tx=y",
                                   "#HttpOnly_localhost\tFALSE\t/\tFALSE\t0\tn\t"}) {
        SoupCookie* cookie = CookieJarPeer::cookieOf(line);
        ASSERT_NE(cookie, nullptr) << line;
        EXPECT_EQ(CookieJarPeer::lineOf(cookie), line);
        soup_cookie_free(cookie);
    }
    for (const std::string line : {"", "# comment", "host\tFALSE\t/\tFALSE\tsoon\tn\tv", "host\tFALSE\t/\tFALSE\t0\tn"})
        EXPECT_EQ(CookieJarPeer::cookieOf(line), nullptr) << line;
}

// Two windows at once: each places the views it holds, a view that goes leaves only its own
// window, and views outliving their window no longer reach it.
TEST(DesktopWindows, EachWindowKeepsItsOwnViews)
{
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    kit::PlatformSession session(kit::Platform{});
    auto ids = [](backend::gtk::WindowPeer& window) {
        std::vector<std::string> out;
        nlohmann::json described = window.describe();
        for (const auto& widget : described["widgets"])
            out.push_back(widget["id"]);
        return out;
    };
    auto makeWindow = [](const std::string& name, int scale) {
        auto model = std::make_shared<kit::Window>(kit::Rect(0, 0, 320, 480));
        for (const char* part : {"-page", "-label"}) {
            std::shared_ptr<kit::View> view = std::string(part) == "-label"
                ? std::make_shared<kit::Label>(kit::Rect(0, 0, 100, 20)) : std::make_shared<kit::View>(kit::Rect(0, 0, 320, 400));
            view->setIdentifier(name + part);
            model->addSubview(view);
        }
        auto peer = std::make_shared<backend::gtk::WindowPeer>(*model, scale);
        model->setPeer(peer);
        peer->sync();
        return std::make_pair(model, peer);
    };
    auto [first, firstPeer] = makeWindow("first", 1);
    auto [second, secondPeer] = makeWindow("second", 2);
    EXPECT_EQ(ids(*firstPeer), (std::vector<std::string>{"first-page", "first-label"}));
    EXPECT_EQ(ids(*secondPeer), (std::vector<std::string>{"second-page", "second-label"}));

    // A change in the first window is placed there at the first window's scale.
    first->viewWithIdentifier("first-label")->setFrame(kit::Rect(10, 20, 100, 20));
    nlohmann::json firstWidgets = firstPeer->describe()["widgets"];
    EXPECT_EQ(firstWidgets[1]["rect"], (nlohmann::json{10, 20, 100, 20}));
    first->viewWithIdentifier("first-page")->removeFromSuperview();
    EXPECT_EQ(ids(*firstPeer), (std::vector<std::string>{"first-label"}));
    EXPECT_EQ(ids(*secondPeer), (std::vector<std::string>{"second-page", "second-label"}));

    // The second window goes before its views: they change and go without it.
    std::shared_ptr<kit::View> kept = second->viewWithIdentifier("second-label");
    second->setPeer(nullptr);
    secondPeer.reset();
    kept->setFrame(kit::Rect(5, 5, 50, 10));
    kept->removeFromSuperview();
    kept.reset();
    EXPECT_EQ(ids(*firstPeer), (std::vector<std::string>{"first-label"}));
    first->setPeer(nullptr);
}

TEST(DesktopRunLoop, TasksAndWatchesRunFromTheGLibLoop)
{
    kit::Platform platform;
    platform.clock = kit::RunLoop::Clock::Real;
    platform.runLoopDriver = [](kit::RunLoop& loop) { return std::make_unique<backend::gtk::GLibRunLoopDriver>(loop); };
    kit::PlatformSession session(std::move(platform));
    auto& loop = kit::RunLoop::main();
    std::vector<std::string> order;
    loop.schedule(kit::RunLoop::toMicros(0.02), [&] { order.push_back("late"); });
    loop.post([&] { order.push_back("now"); });
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    auto watch = loop.addWatch(fds[0], 0x001, [&](short) {
        char c;
        if (read(fds[0], &c, 1) == 1)
            order.push_back("fd");
    });
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    // Only GLib turns here, as under GTK's own main loop.
    gint64 deadline = g_get_monotonic_time() + 2'000'000;
    while (order.size() < 3 && g_get_monotonic_time() < deadline)
        g_main_context_iteration(nullptr, TRUE);
    loop.removeWatch(watch);
    close(fds[0]);
    close(fds[1]);
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order.back(), "late");
}

} // namespace
