#pragma once

// An X server of a test's own (Xvfb), so that what it counts and clicks is the client's alone
// and never another test's window on the shared display. For window tests only: it needs Xlib
// and the XTest extension.

#include "support/Scenario.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <utility>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace scenario {

class OwnDisplay {
public:
    struct TopLevel {
        Window id;
        pid_t pid;  // _NET_WM_PID, 0 when unset
        int x, y, width, height;
    };

    OwnDisplay()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> args{"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        // Xvfb writes the display's number once it listens.
        std::string number;
        pollfd wait{fds[0], POLLIN, 0};
        while (pid_ > 0 && ::poll(&wait, 1, 10000) > 0) {
            char c;
            if (::read(fds[0], &c, 1) != 1 || c == '\n')
                break;
            number += c;
        }
        ::close(fds[0]);
        if (number.empty())
            return;
        name_ = ":" + number;
        display_ = XOpenDisplay(name_.c_str());
        // Windows come and go between a query and the next: such errors mean nothing here.
        XSetErrorHandler(+[](Display*, XErrorEvent*) { return 0; });
    }
    ~OwnDisplay()
    {
        if (display_)
            XCloseDisplay(display_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    OwnDisplay(const OwnDisplay&) = delete;
    OwnDisplay& operator=(const OwnDisplay&) = delete;

    bool started() const { return display_ != nullptr; }
    // For DISPLAY.
    const std::string& name() const { return name_; }

    // The windows a window manager would manage: mapped children of the root that are not
    // popups (menus, tooltips and the like, which draw over their window).
    std::vector<TopLevel> topLevels()
    {
        std::vector<TopLevel> found;
        XSync(display_, False);
        Window root = DefaultRootWindow(display_), parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, root, &root, &parent, &children, &count))
            return found;
        Atom pidAtom = XInternAtom(display_, "_NET_WM_PID", False);
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display_, children[i], &attributes) || attributes.map_state != IsViewable
                || attributes.override_redirect)
                continue;
            TopLevel window{children[i], 0, attributes.x, attributes.y, attributes.width, attributes.height};
            Atom type;
            int format;
            unsigned long items, left;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display_, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                                   &left, &data) == Success && data && items == 1)
                window.pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
            if (data)
                XFree(data);
            found.push_back(window);
        }
        if (children)
            XFree(children);
        return found;
    }

    // The window's WM_CLASS: its instance name and its class, empty when it has none.
    std::pair<std::string, std::string> windowClass(Window window)
    {
        XClassHint hint{};
        if (!XGetClassHint(display_, window, &hint))
            return {};
        std::pair<std::string, std::string> names{hint.res_name ? hint.res_name : "", hint.res_class ? hint.res_class : ""};
        XFree(hint.res_name);
        XFree(hint.res_class);
        return names;
    }

    // A person's click at that point of the screen.
    void click(int x, int y)
    {
        XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        XFlush(display_);
    }

    // Gives the keyboard to a window, as a window manager would when the player picks it.
    void focus(Window window)
    {
        XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
        XFlush(display_);
    }

    // A person's key press: `keys` as the scripts write them ("Return", "Alt+4", "Shift+Tab"),
    // modifiers held down around the key. False when a name has no key on this keyboard.
    bool press(const std::string& keys)
    {
        std::vector<KeyCode> codes;
        size_t start = 0;
        for (;;) {
            size_t plus = keys.find('+', start + 1);
            std::string name = keys.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
            if (name == "Alt" || name == "Shift" || name == "Control" || name == "Ctrl" || name == "Super")
                name = name == "Ctrl" ? "Control_L" : name + "_L";
            KeySym symbol = XStringToKeysym(name.c_str());
            KeyCode code = symbol == NoSymbol ? 0 : XKeysymToKeycode(display_, symbol);
            if (!code)
                return false;
            codes.push_back(code);
            if (plus == std::string::npos)
                break;
            start = plus + 1;
        }
        for (KeyCode code : codes)
            XTestFakeKeyEvent(display_, code, True, CurrentTime);
        for (auto it = codes.rbegin(); it != codes.rend(); ++it)
            XTestFakeKeyEvent(display_, *it, False, CurrentTime);
        XFlush(display_);
        return true;
    }

private:
    pid_t pid_ = -1;
    std::string name_;
    Display* display_ = nullptr;
};

// A player with real keys on `display`: once a page's two-button alert shows, Tab then Return;
// once that press is seen, Alt+4. Each step waits for what the player would
// see and a moment for it to be drawn. `steps` counts the steps taken; `unpressed` names keys
// XTest could not press.
struct KeyedSession {
    Transcript transcript;
    int steps = 0;
    std::vector<std::string> unpressed;
};

inline KeyedSession answerAnAlertByKeys(OwnDisplay& display, const std::string& script, const std::vector<std::string>& args)
{
    KeyedSession session;
    pid_t client = 0;
    std::optional<std::chrono::steady_clock::time_point> seen;
    ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 60;
    options.environment = {{"DISPLAY", display.name()}, {"XAUTHORITY", ""}};
    options.whileRunning = [&](pid_t pid) { client = pid; };
    options.watchTranscript = [&](const std::vector<nlohmann::json>& lines) {
        const char* awaited = session.steps == 0 ? "alert" : session.steps == 1 ? "alert-press" : nullptr;
        if (!awaited)
            return;
        bool shown = std::any_of(lines.begin(), lines.end(), [&](const auto& line) { return line.value("ev", "") == awaited; });
        if (!shown)
            return;
        if (!seen)
            seen = std::chrono::steady_clock::now();
        if (std::chrono::steady_clock::now() - *seen < std::chrono::milliseconds(400))
            return;
        for (const auto& window : display.topLevels())
            if (window.pid == client)
                display.focus(window.id);
        for (const char* keys : session.steps == 0 ? std::vector<const char*>{"Tab", "Return"} : std::vector<const char*>{"Alt+4"})
            if (!display.press(keys))
                session.unpressed.push_back(keys);
        seen.reset();
        ++session.steps;
    };
    session.transcript = runScenario(script, args, options);
    return session;
}

} // namespace scenario
