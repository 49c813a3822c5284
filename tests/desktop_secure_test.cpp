// A game server over https in the window: WebKit knows the system's authorities only, so the
// window checks a refused certificate against the authorities of --ca-file itself and repeats
// the load unseen; every problem gets the code the headless client gives it. While the invite
// post waits, the window keeps drawing, takes no input and runs nothing of the game, and closing
// it ends the run at once.

#include "app/Util.h"
#include "backend/gtk/ExchangeWaiter.h"
#include "backend/gtk/WebViewPeer.h"
#include "support/Certificates.h"
#include "support/Desktop.h"
#include "support/Sway.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using backend::gtk::WebViewPeer;
using nlohmann::json;
using scenario::Transcript;

TEST(DesktopCertificates, TheAuthorityFileVouchesOnlyForWhatItSignedForThatHost)
{
    scenario::TestAuthority authority, stranger("Somebody Else's Authority");
    const long day = 86400;
    GList* authorities = g_tls_certificate_list_new_from_file(authority.certificateFile().c_str(), nullptr);
    ASSERT_NE(authorities, nullptr);
    struct Case {
        const char* what;
        scenario::TestAuthority::Issued issued;
        GTlsCertificateFlags errors;  // as WebKit reports them
        bool withFile;
        int code;  // 0: allowed
    };
    const auto unknown = G_TLS_CERTIFICATE_UNKNOWN_CA;
    Case cases[] = {
        {"signed by the file's authority", authority.issue({"127.0.0.1"}), unknown, true, 0},
        {"... without the file", authority.issue({"127.0.0.1"}), unknown, false, -1202},
        {"another authority", stranger.issue({"127.0.0.1"}), unknown, true, -1202},
        {"another host", authority.issue({"elsewhere.example"}), unknown, true, -1202},
        {"expired", authority.issue({"127.0.0.1"}, -2 * day, -day), unknown, true, -1201},
        {"not yet valid", authority.issue({"127.0.0.1"}, day, 2 * day), unknown, true, -1204},
        {"a system authority's, expired", stranger.issue({"127.0.0.1"}), G_TLS_CERTIFICATE_EXPIRED, true, -1201},
        {"a system authority's, revoked", stranger.issue({"127.0.0.1"}), G_TLS_CERTIFICATE_REVOKED, true, -1200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GTlsCertificate* certificate = g_tls_certificate_new_from_file(c.issued.certificateFile.c_str(), nullptr);
        ASSERT_NE(certificate, nullptr);
        auto failure = WebViewPeer::tlsFailure(certificate, c.errors, "127.0.0.1", c.withFile ? authorities : nullptr);
        EXPECT_EQ(failure ? failure->code : 0, c.code);
        if (failure && c.code != -1200) {
            EXPECT_NE(failure->description.find("pretending to be \u201c127.0.0.1\u201d"), std::string::npos) << failure->description;
        }
        g_object_unref(certificate);
    }
    g_list_free_full(authorities, g_object_unref);
}

// While an exchange waits, input events go nowhere; the request to close the window does, and
// ends the wait. Afterwards input flows again.
TEST(DesktopExchangeWaiter, DropsInputButNotTheRequestToClose)
{
    if (!scenario::haveDisplay() || !gtk_init_check(nullptr, nullptr))
        GTEST_SKIP() << "needs a display";
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    struct Seen {
        int keys = 0, deletes = 0;
        bool closed = false;
    } seen;
    g_signal_connect(window, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
        ++static_cast<Seen*>(data)->keys;
        return TRUE;
    }), &seen);
    g_signal_connect(window, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
        ++static_cast<Seen*>(data)->deletes;
        static_cast<Seen*>(data)->closed = true;
        return TRUE;
    }), &seen);
    gtk_widget_show(window);
    // Until the new window has drawn and gone quiet: on Wayland its first frames wait for the
    // compositor's answers, after whatever is pending now.
    gint64 lastPaint = 0;
    gulong quiet = g_signal_connect(gtk_widget_get_frame_clock(window), "after-paint",
                                    G_CALLBACK(+[](GdkFrameClock*, gpointer last) {
                                        *static_cast<gint64*>(last) = g_get_monotonic_time();
                                    }), &lastPaint);
    for (gint64 deadline = g_get_monotonic_time() + 3000000; g_get_monotonic_time() < deadline;) {
        while (g_main_context_pending(nullptr))
            g_main_context_iteration(nullptr, FALSE);
        if (lastPaint && g_get_monotonic_time() - lastPaint > 200000)
            break;
        g_usleep(10000);
    }
    g_signal_handler_disconnect(gtk_widget_get_frame_clock(window), quiet);
    GdkWindow* gdkWindow = gtk_widget_get_window(window);
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(gdkWindow));
    auto put = [&](GdkEventType type) {
        GdkEvent* event = gdk_event_new(type);
        event->any.window = GDK_WINDOW(g_object_ref(gdkWindow));
        if (type == GDK_KEY_PRESS) {
            event->key.keyval = GDK_KEY_Return;
            gdk_event_set_device(event, gdk_seat_get_keyboard(seat));
        }
        gdk_event_put(event);
        gdk_event_free(event);
    };

    // The window may still draw during the wait (on Wayland the compositor's focus can come
    // late): the waiter counts what the frame clock painted, whatever that is.
    long painted = 0;
    gulong counting = g_signal_connect(gtk_widget_get_frame_clock(window), "after-paint",
                                       G_CALLBACK(+[](GdkFrameClock*, gpointer frames) { ++*static_cast<long*>(frames); }),
                                       &painted);
    backend::gtk::ExchangeWaiter waiter(GTK_WINDOW(window), seen.closed);
    waiter.begin();
    put(GDK_KEY_PRESS);
    std::vector<pollfd> none;
    EXPECT_TRUE(waiter.wait(none, std::chrono::milliseconds(200)));
    put(GDK_DELETE);
    EXPECT_FALSE(waiter.wait(none, std::chrono::milliseconds(5000))) << "the close request did not end the wait";
    EXPECT_EQ(waiter.end(), std::optional<long>(painted));
    g_signal_handler_disconnect(gtk_widget_get_frame_clock(window), counting);
    EXPECT_EQ(seen.keys, 0);
    EXPECT_EQ(seen.deletes, 1);

    put(GDK_KEY_PRESS);
    while (g_main_context_pending(nullptr))
        g_main_context_iteration(nullptr, FALSE);
    EXPECT_EQ(seen.keys, 1);
    gtk_widget_destroy(window);
}

// The top-level window of process `pid` on `display`; None when there is none.
Window windowOf(Display* display, pid_t pid)
{
    Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    if (pidAtom == None)
        return None;
    std::vector<Window> pending{DefaultRootWindow(display)};
    while (!pending.empty()) {
        Window window = pending.back();
        pending.pop_back();
        Atom type;
        int format;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        bool found = false;
        if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data)
                == Success
            && data) {
            found = count == 1 && static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data)) == pid;
            XFree(data);
        }
        if (found)
            return window;
        Window root, parent, *children = nullptr;
        unsigned int n = 0;
        if (XQueryTree(display, window, &root, &parent, &children, &n)) {
            pending.insert(pending.end(), children, children + n);
            XFree(children);
        }
    }
    return None;
}

// Sends the window of `pid` the window manager's message `protocol` (WM_PROTOCOLS). Answers the
// window, None when it was not found.
Window sendProtocol(Display* display, pid_t pid, const char* protocol)
{
    Window window = windowOf(display, pid);
    if (window == None)
        return None;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, protocol, False));
    event.xclient.data.l[1] = CurrentTime;
    event.xclient.data.l[2] = static_cast<long>(window);
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    return window;
}

// Pings the window of `pid` as a window manager does to tell whether a program still responds:
// true when the answer comes back within `limit`.
bool answersPing(pid_t pid, std::chrono::milliseconds limit)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    // The answer goes to the root window, for whoever manages the windows there.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    Window window = sendProtocol(display, pid, "_NET_WM_PING");
    bool answered = false;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (window != None && !answered && std::chrono::steady_clock::now() < deadline) {
        while (!answered && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            answered = event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == ping
                && static_cast<Window>(event.xclient.data.l[2]) == window;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    XCloseDisplay(display);
    return answered;
}

// Asks the display to close the window of process `pid`, as a window manager's close button
// does. False when no such window was found.
bool closeWindowOf(pid_t pid)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    bool sent = sendProtocol(display, pid, "WM_DELETE_WINDOW") != None;
    XCloseDisplay(display);
    return sent;
}

class DesktopSecure : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!scenario::haveDisplay())
            GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
        scenario::writeFile(dir_.path() + "/contacts.vcf", scenario::kOneContact);
    }
    Transcript run(const std::string& script, const std::string& server, std::vector<std::string> more = {},
                   scenario::ScenarioOptions options = {})
    {
        std::vector<std::string> args{"--scale", "1", "--movie-seconds", "0.5", "--open-urls", "record", "--server", server,
                                      "--udid", "window-udid", "--contacts", dir_.path() + "/contacts.vcf"};
        args.insert(args.end(), more.begin(), more.end());
        options.desktop = true;
        if (options.timeoutSeconds == 90)
            options.timeoutSeconds = 60;
        return scenario::runScenario(script, args, options);
    }
    scenario::TempDir dir_{"street-desktop-secure"};
    scenario::TestAuthority authority_;
};

// The entry, a tab, the session cookie and the post over TLS, the post's same-origin 307
// repeated; the reply comes after 5 s, and meanwhile the page beneath keeps moving on screen
// while the tap sound that the page put off for 1 s waits for the post to end.
TEST_F(DesktopSecure, EveryRequestTravelsOverTlsAndTheWindowDrawsWhileThePostWaits)
{
    scenario::TlsDemoServer tls(authority_, {"--invite-redirect", "307", "/postback/invite_postback.php?repeated=1",
                                             "--invite-delay", "5"});
    ASSERT_TRUE(tls.server.started());
    std::string base = tls.baseURL();
    auto t = run("wait 4\ntap Street\nwait 1\nnavigate " + base + "/live.php\nwait 1\n" + scenario::openRecruitScript(base, "1.5") + "navigate " + base
                     + "/commands.php?invokeTapSound=true&invokeSoundDelay=1&stopLoad=true\nwait 0.3\n"
                       "toolbar Send Invites\nwait 1.5\nstate\n",
                 tls.serverArgument(), {"--ca-file", authority_.certificateFile()});
    ASSERT_EQ(t.exitCode, 0) << t.dump();

    // The first attempt, refused by WebKit and allowed by the window, is never seen: one start,
    // one decision for each address.
    EXPECT_EQ(t.count("load-fail"), 0u) << t.dump();
    auto decisions = t.events("decide");
    ASSERT_GE(decisions.size(), 2u) << t.dump();
    EXPECT_TRUE(decisions[0]["url"].get<std::string>().starts_with(base + "/points.php?")) << decisions[0];
    EXPECT_EQ(decisions[1]["url"], base + "/home.php?showHomeBg=true");
    EXPECT_EQ(t.events("load-start")[0]["url"], decisions[0]["url"]);
    EXPECT_EQ(t.events("load-start")[1]["url"], base + "/missions.php?showMissionsBg=true") << t.dump();
    for (const auto& line : decisions)
        EXPECT_TRUE(line["url"].get<std::string>().starts_with(base + "/")) << line;

    std::string player = "Racer " + street::Util::md5("window-udid:BrightPlume27k:45").substr(0, 4);
    EXPECT_EQ(tls.server.requestsStartingWith("page "), (std::vector<std::string>{"page home.php: " + player, "page missions.php: " + player}));
    EXPECT_EQ(tls.server.requestsStartingWith("POST "), (std::vector<std::string>{"POST /postback/invite_postback.php 307",
                                                                     "POST /postback/invite_postback.php?repeated=1 200"}));
    EXPECT_EQ(tls.server.requestsStartingWith("invite: 1"), std::vector<std::string>{"invite: 1 invitation(s) from udid window-udid"});

    // The post's line is written when it has ended: the window drew all along.
    const json* post = t.first("post");
    ASSERT_NE(post, nullptr) << t.dump();
    EXPECT_EQ((*post)["url"], base + "/postback/invite_postback.php");
    EXPECT_GT((*post)["framesDrawn"].get<long>(), 100) << *post;
    const json* asked = t.last("decide");
    const json* sound = t.first("sound");
    ASSERT_TRUE(asked && sound) << t.dump();
    EXPECT_GE((*post)["t"].get<double>() - (*asked)["t"].get<double>(), 5.0);
    EXPECT_GE((*sound)["t"].get<double>(), (*post)["t"].get<double>()) << "a kit timer fired during the post";
    EXPECT_EQ((*t.last("alert"))["title"], "Invites Sent") << t.dump();
}

TEST_F(DesktopSecure, WithoutTheAuthorityFileTheFirstLoadFailsAsUntrusted)
{
    scenario::TlsDemoServer tls(authority_);
    ASSERT_TRUE(tls.server.started());
    auto t = run("wait 2\nstate\n", tls.serverArgument());
    ASSERT_EQ(t.exitCode, 0) << t.dump();
    ASSERT_EQ(t.count("load-fail"), 1u) << t.dump();
    EXPECT_EQ((*t.first("load-fail"))["code"], -1202);
    ASSERT_EQ(t.count("alert"), 1u) << t.dump();
    EXPECT_EQ((*t.first("alert"))["title"], "Unknown Error");
    EXPECT_NE((*t.first("alert"))["message"].get<std::string>().find("The certificate for this server is invalid."),
              std::string::npos);
    EXPECT_TRUE(tls.server.requestLog().empty()) << tls.server.requestLog().front();
}

TEST_F(DesktopSecure, ThePostIsNotRedirectedToAnotherOrigin)
{
    scenario::TlsDemoServer elsewhere(authority_);
    ASSERT_TRUE(elsewhere.server.started());
    scenario::TlsDemoServer tls(authority_, {"--invite-redirect", "307", elsewhere.baseURL() + "/postback/invite_postback.php"});
    ASSERT_TRUE(tls.server.started());
    auto t = run("wait 4\n" + scenario::openRecruitScript(tls.baseURL(), "1.5") + "toolbar Send Invites\nwait 0.5\nstate\n", tls.serverArgument(),
                 {"--ca-file", authority_.certificateFile()});
    ASSERT_EQ(t.exitCode, 0) << t.dump();
    ASSERT_NE(t.last("alert"), nullptr) << t.dump();
    EXPECT_EQ((*t.last("alert"))["title"], "Fail");
    EXPECT_EQ((*t.last("alert"))["message"], "Unknown error occurred.  Please try again later.");
    EXPECT_EQ(tls.server.requestsStartingWith("POST "), std::vector<std::string>{"POST /postback/invite_postback.php 307"});
    EXPECT_TRUE(elsewhere.server.requestLog().empty()) << elsewhere.server.requestLog().front();
}

// A page that asks for a load (here a file to save) while the post waits: the game hears of it,
// and refuses it, only once the post has ended.
TEST_F(DesktopSecure, WhatThePageDoesDuringThePostReachesTheGameAfterIt)
{
    scenario::DemoServer server({"/usr/bin/python3", STREET_TESTS_DIR "/tools/hostile_server.py"}, {"--invite", "slow"});
    ASSERT_TRUE(server.started());
    std::string base = server.baseURL();
    auto t = run("wait 4\nnavigate " + base + "/download-in-post.php\nwait 1\n" + scenario::openRecruitScript(base, "1.5")
                     + "toolbar Send Invites\nwait 1.5\nstate\n",
                 server.hostPort());
    ASSERT_EQ(t.exitCode, 0) << t.dump();
    const json* post = t.first("post");
    const json* failed = t.last("load-fail");
    ASSERT_TRUE(post && failed) << t.dump();
    EXPECT_EQ((*failed)["url"], base + "/attachment.php");
    EXPECT_EQ((*failed)["code"], -3102);
    size_t seen = 0;
    for (const char* ev : {"decide", "load-start"}) {
        for (const auto& line : t.events(ev)) {
            if (line["url"] == base + "/attachment.php") {
                ++seen;
                EXPECT_GE(line["t"].get<double>(), (*post)["t"].get<double>()) << ev << ": the page reached the game during the post";
            }
        }
    }
    EXPECT_GE(seen, 1u) << t.dump();
    auto alerts = t.events("alert");
    ASSERT_GE(alerts.size(), 2u) << t.dump();
    EXPECT_EQ(alerts[alerts.size() - 2]["title"], "Sent");
    EXPECT_EQ(alerts.back()["title"], "Unknown Error");
}

// While the server takes 30 s, the window answers the desktop's ping (no "not responding"
// dialog), and closing it ends the run at once, and cleanly.
TEST_F(DesktopSecure, ThePostingWindowAnswersPingsAndClosingItEndsTheRun)
{
    // On Wayland the compositor's ping is answered inside GDK, out of a test's reach (and sway
    // tells no one); the close request still has to be read and acted on during the post.
    const bool wayland = scenario::onWayland();
    if (wayland && !scenario::swayWindows())
        GTEST_SKIP() << "on Wayland, needs sway to ask for the close (SWAYSOCK; tools/with-wayland sets it)";
    scenario::TlsDemoServer tls(authority_, {"--invite-delay", "30"});
    ASSERT_TRUE(tls.server.started());
    std::atomic<pid_t> client{0};
    std::atomic<bool> pinged{false}, closed{false}, done{false};
    std::thread closer([&] {
        while (!done && tls.server.requestsStartingWith("invite: replying").empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (done)
            return;
        if (wayland) {
            // Sway asks the window to close (xdg_toplevel.close), as its close binding does.
            closed = scenario::swayCommand(client, "kill");
        } else {
            pinged = answersPing(client, std::chrono::milliseconds(2000));
            closed = closeWindowOf(client);
        }
    });
    scenario::ScenarioOptions options;
    options.whileRunning = [&](pid_t pid) { client = pid; };
    options.timeoutSeconds = 25;
    auto t = run("wait 4\n" + scenario::openRecruitScript(tls.baseURL(), "1.5") + "toolbar Send Invites\nwait 30\n", tls.serverArgument(),
                 {"--ca-file", authority_.certificateFile()}, options);
    done = true;
    closer.join();
    if (!wayland) {
        EXPECT_TRUE(pinged) << "the window did not answer the ping during the post";
    }
    EXPECT_TRUE(closed) << "the client's window was not found";
    EXPECT_FALSE(t.timedOut) << t.dump();
    EXPECT_EQ(t.exitCode, 0) << t.dump();
    EXPECT_EQ(t.count("post"), 1u) << t.dump();
    EXPECT_TRUE(t.malformedLines.empty());
}

} // namespace
