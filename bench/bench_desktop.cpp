// The desktop client's start-up beside a bare WebKitGTK window of the same size loading the same
// page (bare_window), timed by one outside observer: this program, an X11 client on the same
// display, sees each window's MapNotify. Both run with the same WebKit sandbox setting, intro
// off, against a local demo server, in 10 alternating pairs (client, bare, client, ...), and the
// medians and the ratio client/bare are printed:
//   mapped       start to the window's MapNotify (the one whose _NET_WM_PID is the program's, or
//                else the first top-level created and mapped after the start)
//   first frame  start to the window's first frame drawn (the program says so; the client's
//                transcript {"ev":"window","event":"first-frame"} when it has one)
//   page loaded  start to WebKit's load finished of the first page (the client's transcript
//                load-finish; the bare window's "loaded")
//   RSS, PSS     from /proc/PID/smaps_rollup, summed over the program and all of its descendants
//                (WebKit's web and network processes, the sandbox's), 3 s after the page loaded
//                (the game reveals its first page on a 2.4 s timer of its own)
// A separate run of the client with the intro on times start to the intro movie's first frame,
// against the bare window's median time to map. A web process that ends during a run fails the
// benchmark: a saving made by losing the page is none.
// Needs an X display and a session bus: ./dev bench runs under xvfb-run and dbus-run-session.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Last: Xlib's macros (None, Status, ...) are for this file only.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kPairs = 10;
constexpr double kSettleSeconds = 3;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The X11 observer: every window mapped on the root window, with the moment it was seen.
class MapWatch {
public:
    MapWatch()
    {
        display_ = XOpenDisplay(nullptr);
        if (!display_)
            return;
        // A window may be gone before its property is read; that is no error here.
        XSetErrorHandler(+[](Display*, XErrorEvent*) { return 0; });
        fcntl(ConnectionNumber(display_), F_SETFD, FD_CLOEXEC);
        pidAtom_ = XInternAtom(display_, "_NET_WM_PID", False);
        XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
        XSync(display_, False);
    }
    ~MapWatch()
    {
        if (display_)
            XCloseDisplay(display_);
    }
    MapWatch(const MapWatch&) = delete;
    MapWatch& operator=(const MapWatch&) = delete;

    bool ready() const { return display_ != nullptr; }
    int fd() const { return ConnectionNumber(display_); }

    // Forgets what was seen before a program starts.
    void reset()
    {
        XSync(display_, False);
        while (XPending(display_)) {
            XEvent event;
            XNextEvent(display_, &event);
        }
        created_.clear();
        byPid_.reset();
        firstNew_.reset();
    }

    // Reads what the server has sent.
    void read(pid_t pid)
    {
        while (XPending(display_)) {
            XEvent event;
            XNextEvent(display_, &event);
            auto now = Clock::now();
            if (event.type == CreateNotify && !event.xcreatewindow.override_redirect)
                created_.insert(event.xcreatewindow.window);
            if (event.type != MapNotify || event.xmap.override_redirect)
                continue;
            if (!byPid_ && pidOf(event.xmap.window) == pid)
                byPid_ = now;
            else if (!firstNew_ && created_.count(event.xmap.window))
                firstNew_ = now;
        }
    }

    // When the program's window mapped, and whether it was known by its pid.
    std::optional<Clock::time_point> mapped() const { return byPid_ ? byPid_ : firstNew_; }
    bool mappedByPid() const { return byPid_.has_value(); }

private:
    long pidOf(Window window)
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        long pid = -1;
        if (XGetWindowProperty(display_, window, pidAtom_, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                               &data) == Success &&
            data && format == 32 && count == 1)
            pid = *reinterpret_cast<long*>(data);
        if (data)
            XFree(data);
        return pid;
    }

    Display* display_ = nullptr;
    Atom pidAtom_ = None;
    std::set<Window> created_;
    std::optional<Clock::time_point> byPid_, firstNew_;
};

struct Process {
    int pid;
    std::string name;
    unsigned long long startTime;
};

// The program and all of its descendants now.
std::vector<Process> processTree(int root)
{
    std::multimap<int, Process> children;
    std::map<int, Process> all;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        int pid = std::atoi(entry.path().filename().c_str());
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        if (pid <= 0 || !std::getline(stat, text))
            continue;
        auto open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        Process process {pid, text.substr(open + 1, close - open - 1), 0};
        // After the name: the state, the parent, and the start time 19 fields on (it tells a
        // process from a later one given the same pid).
        int ppid = 0;
        char state = 0;
        unsigned long long skip = 0;
        const char* rest = text.c_str() + close + 1;
        if (std::sscanf(rest, " %c %d", &state, &ppid) != 2)
            continue;
        for (int field = 0; field < 19 && rest; ++field)
            rest = std::strchr(rest + 1, ' ');
        if (rest && std::sscanf(rest, " %llu", &skip) == 1)
            process.startTime = skip;
        all.emplace(pid, process);
        children.emplace(ppid, process);
    }
    std::vector<Process> tree;
    if (auto it = all.find(root); it != all.end())
        tree.push_back(it->second);
    for (size_t i = 0; i < tree.size(); ++i)
        for (auto [it, end] = children.equal_range(tree[i].pid); it != end; ++it)
            tree.push_back(it->second);
    return tree;
}

bool stillRunning(const Process& process)
{
    auto now = processTree(process.pid);
    return !now.empty() && now.front().startTime == process.startTime;
}

bool isWebProcess(const Process& process) { return process.name.rfind("WebKitWebProces", 0) == 0; }

struct Memory {
    double rssMiB = 0, pssMiB = 0;
    int processes = 0, unreadable = 0;
};

Memory treeMemory(const std::vector<Process>& tree)
{
    Memory memory;
    for (const auto& process : tree) {
        std::ifstream rollup("/proc/" + std::to_string(process.pid) + "/smaps_rollup");
        bool read = false;
        for (std::string line; std::getline(rollup, line);) {
            if (line.rfind("Rss:", 0) == 0) {
                memory.rssMiB += std::atof(line.c_str() + 4) / 1024;
                read = true;
            } else if (line.rfind("Pss:", 0) == 0) {
                memory.pssMiB += std::atof(line.c_str() + 4) / 1024;
            }
        }
        ++memory.processes;
        if (!read)
            ++memory.unreadable;
    }
    return memory;
}

// A program started with its standard output on a pipe, every line it prints kept with the moment
// it came; ended with SIGTERM, and waited for with its descendants, when dropped.
class Launch {
public:
    Launch(MapWatch& watch, std::vector<std::string> args) : watch_(watch)
    {
        // The observer sees X11 windows only.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "GDK_BACKEND=", 12) != 0)
                env.emplace_back(*e);
        env.emplace_back("GDK_BACKEND=x11");
        std::vector<char*> envp, argv;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        watch_.reset();
        started = Clock::now();
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~Launch() { stop(); }
    Launch(const Launch&) = delete;
    Launch& operator=(const Launch&) = delete;

    struct Line {
        Clock::time_point at;
        std::string text;
    };

    // Reads the program's lines and the display's events until `done` holds, the program closes
    // its output, or the time is up; whether `done` held.
    bool until(const std::function<bool()>& done, double seconds)
    {
        auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        for (;;) {
            watch_.read(pid_);
            if (done())
                return true;
            int left = static_cast<int>(std::ceil(msBetween(Clock::now(), deadline)));
            if (left <= 0 || pid_ <= 0)
                return false;
            pollfd fds[2] {{out_, POLLIN, 0}, {watch_.fd(), POLLIN, 0}};
            int count = out_ >= 0 ? 2 : 1;
            pollfd* first = out_ >= 0 ? fds : fds + 1;
            if (poll(first, static_cast<nfds_t>(count), left) < 0)
                return false;
            if (out_ >= 0 && (fds[0].revents & (POLLIN | POLLHUP)) && !readLines()) {
                close(out_);
                out_ = -1;
                watch_.read(pid_);
                return done();
            }
        }
    }

    // Waits for the time to pass, still reading.
    void idle(double seconds)
    {
        until([] { return false; }, seconds);
    }

    // The first line that passes `test`, and when it came.
    const Line* first(const std::function<bool(const std::string&)>& test) const
    {
        for (const auto& line : lines_)
            if (test(line.text))
                return &line;
        return nullptr;
    }
    std::optional<double> msTo(const std::function<bool(const std::string&)>& test) const
    {
        if (auto* line = first(test))
            return msBetween(started, line->at);
        return std::nullopt;
    }
    std::optional<double> msToMapped() const
    {
        if (auto at = watch_.mapped())
            return msBetween(started, *at);
        return std::nullopt;
    }

    // Memory now, noting the web processes it finds so that an end of one is seen.
    Memory memory()
    {
        auto tree = processTree(pid_);
        for (const auto& process : tree)
            if (isWebProcess(process))
                webProcesses_.push_back(process);
        return treeMemory(tree);
    }
    // The web processes seen by memory() that have since ended.
    int webProcessesEnded() const
    {
        return static_cast<int>(std::count_if(webProcesses_.begin(), webProcesses_.end(),
                                              [](const Process& p) { return !stillRunning(p); }));
    }
    int webProcessesSeen() const { return static_cast<int>(webProcesses_.size()); }

    void stop()
    {
        if (pid_ > 0) {
            auto tree = processTree(pid_);
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            // The next program starts on a machine its predecessor has left.
            auto deadline = Clock::now() + std::chrono::seconds(5);
            while (tree.size() > 1 && Clock::now() < deadline && std::any_of(tree.begin() + 1, tree.end(), stillRunning))
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (out_ >= 0)
            close(out_);
        out_ = -1;
    }

    Clock::time_point started;

private:
    bool readLines()
    {
        char chunk[4096];
        ssize_t n = read(out_, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        auto now = Clock::now();
        buffer_.append(chunk, static_cast<size_t>(n));
        for (auto newline = buffer_.find('\n'); newline != std::string::npos; newline = buffer_.find('\n')) {
            lines_.push_back({now, buffer_.substr(0, newline)});
            buffer_.erase(0, newline + 1);
        }
        return true;
    }

    MapWatch& watch_;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
    std::vector<Line> lines_;
    std::vector<Process> webProcesses_;
};

// A transcript line's event: {"ev": ev, ...} and, when `event` is given, "event": event.
std::function<bool(const std::string&)> transcript(std::string ev, std::string event = {})
{
    return [ev = std::move(ev), event = std::move(event)](const std::string& line) {
        auto json = nlohmann::json::parse(line, nullptr, false);
        if (!json.is_object() || json.value("ev", "") != ev)
            return false;
        return event.empty() || (json.contains("event") && json["event"] == event);
    };
}

std::function<bool(const std::string&)> said(std::string word)
{
    return [word = std::move(word)](const std::string& line) { return line == word; };
}

// The client's transcript says a page's web process ended: the load it had fails with the view's
// own code, or (when the client has it) the process's end is an event of its own.
bool webProcessGone(const std::string& line)
{
    auto json = nlohmann::json::parse(line, nullptr, false);
    if (!json.is_object())
        return false;
    std::string ev = json.value("ev", "");
    if (ev == "load-fail")
        return json.contains("code") && json["code"] == -3900;
    return ev == "web-process" && json.value("event", "") == "terminated";
}

struct Setup {
    std::unique_ptr<Launch> server;
    std::string hostPort, introOff, introOn, firstURL;
};

Setup& setup(MapWatch& watch)
{
    static Setup s = [&watch] {
        Setup s;
        s.server = std::make_unique<Launch>(watch, std::vector<std::string>{STREET_DEMO_SERVER_BIN, "--port", "0"});
        const Launch::Line* listening = nullptr;
        s.server->until([&] { return (listening = s.server->first([](const std::string& line) {
                                          return line.find("listening on") != std::string::npos;
                                      })) != nullptr; },
                        10);
        if (listening)
            s.hostPort = listening->text.substr(listening->text.rfind(' ') + 1);
        for (auto [dir, intro] : {std::pair{&s.introOff, false}, std::pair{&s.introOn, true}}) {
            char name[] = "/tmp/street-bench-desktop-XXXXXX";
            if (mkdtemp(name)) {
                *dir = name;
                std::ofstream(*dir + "/defaults.json")
                    << R"({"introAnimationEnabled": )" << (intro ? "true" : "false") << "}";
            }
        }
        return s;
    }();
    return s;
}

MapWatch* observer(benchmark::State& state)
{
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("needs an X display (./dev bench runs under xvfb-run)");
        return nullptr;
    }
    static MapWatch watch;
    if (!watch.ready()) {
        state.SkipWithError("cannot open the X display");
        return nullptr;
    }
    return &watch;
}

std::vector<std::string> clientArgs(const Setup& s, const std::string& dataDir)
{
    return {STREET_CLIENT_BIN, "--scale", "1", "--server", s.hostPort, "--data-dir", dataDir, "--open-urls", "record",
            "--icon-badge", "no", "--transcript", "/dev/stdout"};
}

std::optional<double> median(std::vector<double> values)
{
    if (values.empty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

struct Measures {
    std::vector<double> mapped, firstFrame, loaded, rss, pss;
};

std::string cell(std::optional<double> value, const char* unit)
{
    if (!value)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.0f %s", *value, unit);
    return text;
}

std::string ratioCell(std::optional<double> a, std::optional<double> b)
{
    if (!a || !b || *b <= 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f x", *a / *b);
    return text;
}

std::optional<double> barePairsMapped; // for the intro run's comparison

void BM_DesktopClientBesideBareWindow(benchmark::State& state)
{
    MapWatch* watch = observer(state);
    if (!watch)
        return;
    Setup& s = setup(*watch);
    if (s.hostPort.empty() || s.introOff.empty()) {
        state.SkipWithError("the demo server did not start");
        return;
    }
    Measures client, bare;
    int mappedByPid = 0, unreadable = 0;
    for (auto _ : state) {
        for (int pair = 0; pair < kPairs; ++pair) {
            {
                Launch run(*watch, clientArgs(s, s.introOff));
                auto loaded = transcript("load-finish");
                bool ok = run.until([&] { return run.first(loaded) || run.first(webProcessGone); }, 30);
                if (!ok || run.first(webProcessGone) || !run.msToMapped()) {
                    state.SkipWithError(run.first(webProcessGone) ? "a web process of the client ended"
                                                                  : "the client did not map and load its first page");
                    return;
                }
                run.idle(kSettleSeconds);
                Memory memory = run.memory();
                run.idle(0.2);
                bool ended = run.first(webProcessGone) || run.webProcessesEnded() > 0;
                if (ended || run.webProcessesSeen() == 0) {
                    state.SkipWithError(ended ? "a web process of the client ended" : "the client has no web process");
                    return;
                }
                if (s.firstURL.empty())
                    s.firstURL = nlohmann::json::parse(run.first(loaded)->text).value("url", "");
                client.mapped.push_back(*run.msToMapped());
                if (auto frame = run.msTo(transcript("window", "first-frame")))
                    client.firstFrame.push_back(*frame);
                client.loaded.push_back(*run.msTo(loaded));
                client.rss.push_back(memory.rssMiB);
                client.pss.push_back(memory.pssMiB);
                mappedByPid += watch->mappedByPid();
                unreadable += memory.unreadable;
            }
            {
                Launch run(*watch, {STREET_BARE_WINDOW_BIN, s.firstURL});
                auto gone = said("web-process-terminated");
                bool ok = run.until([&] { return run.first(said("loaded")) || run.first(gone); }, 30);
                if (!ok || run.first(gone) || !run.msToMapped()) {
                    state.SkipWithError(run.first(gone) ? "a web process of the bare window ended"
                                                        : "the bare window did not map and load the page");
                    return;
                }
                run.idle(kSettleSeconds);
                Memory memory = run.memory();
                run.idle(0.2);
                bool ended = run.first(gone) || run.webProcessesEnded() > 0;
                if (ended || run.webProcessesSeen() == 0) {
                    state.SkipWithError(ended ? "a web process of the bare window ended"
                                              : "the bare window has no web process");
                    return;
                }
                bare.mapped.push_back(*run.msToMapped());
                if (auto frame = run.msTo(said("first-frame")))
                    bare.firstFrame.push_back(*frame);
                bare.loaded.push_back(*run.msTo(said("loaded")));
                bare.rss.push_back(memory.rssMiB);
                bare.pss.push_back(memory.pssMiB);
                mappedByPid += watch->mappedByPid();
                unreadable += memory.unreadable;
            }
        }
    }

    struct Row {
        const char* name;
        const char* counter;
        const char* unit;
        std::vector<double>& a;
        std::vector<double>& b;
    };
    Row rows[] {{"start to window mapped", "mapped_ms", "ms", client.mapped, bare.mapped},
                {"start to first frame drawn", "first_frame_ms", "ms", client.firstFrame, bare.firstFrame},
                {"start to first page loaded", "page_loaded_ms", "ms", client.loaded, bare.loaded},
                {"RSS, all processes", "rss_MiB", "MiB", client.rss, bare.rss},
                {"PSS, all processes", "pss_MiB", "MiB", client.pss, bare.pss}};
    std::printf("\nmedians of %d alternating pairs, memory %.0f s after the page loaded\n", kPairs, kSettleSeconds);
    std::printf("%-28s %10s %10s %8s\n", "measure", "client", "bare", "ratio");
    for (const auto& row : rows) {
        auto a = median(row.a), b = median(row.b);
        std::printf("%-28s %10s %10s %8s\n", row.name, cell(a, row.unit).c_str(), cell(b, row.unit).c_str(),
                    ratioCell(a, b).c_str());
        std::string counter = row.counter;
        if (a)
            state.counters["client_" + counter] = *a;
        if (b)
            state.counters["bare_" + counter] = *b;
        if (a && b && *b > 0)
            state.counters["ratio_" + counter] = *a / *b;
    }
    if (client.firstFrame.empty())
        std::printf("(the client's transcript has no {\"ev\":\"window\",\"event\":\"first-frame\"})\n");
    std::printf("windows known by _NET_WM_PID: %d of %d; processes whose memory was unreadable: %d\n", mappedByPid,
                2 * kPairs, unreadable);
    std::fflush(stdout);
    barePairsMapped = median(bare.mapped);
}

void BM_DesktopClientIntroMovie(benchmark::State& state)
{
    MapWatch* watch = observer(state);
    if (!watch)
        return;
    Setup& s = setup(*watch);
    if (s.hostPort.empty() || s.introOn.empty()) {
        state.SkipWithError("the demo server did not start");
        return;
    }
    std::vector<double> mapped, frame;
    for (auto _ : state) {
        for (int run = 0; run < kPairs; ++run) {
            Launch client(*watch, clientArgs(s, s.introOn));
            auto movieFrame = transcript("movie", "frame");
            bool ok = client.until([&] { return client.first(movieFrame) || client.first(webProcessGone); }, 30);
            if (!ok || client.first(webProcessGone) || !client.msToMapped()) {
                state.SkipWithError(client.first(webProcessGone) ? "a web process of the client ended"
                                                                 : "the client showed no frame of its intro movie");
                return;
            }
            mapped.push_back(*client.msToMapped());
            frame.push_back(*client.msTo(movieFrame));
        }
    }
    auto a = median(frame), m = median(mapped);
    std::printf("\nintro on, median of %d runs\n", kPairs);
    std::printf("%-40s %10s\n", "start to window mapped", cell(m, "ms").c_str());
    std::printf("%-40s %10s\n", "start to the movie's first frame", cell(a, "ms").c_str());
    std::printf("%-40s %10s\n", "  against the bare window's time to map", ratioCell(a, barePairsMapped).c_str());
    std::fflush(stdout);
    if (m)
        state.counters["client_mapped_ms"] = *m;
    if (a)
        state.counters["client_movie_frame_ms"] = *a;
    if (a && barePairsMapped)
        state.counters["ratio_movie_frame_to_bare_mapped"] = *a / *barePairsMapped;
}

} // namespace

BENCHMARK(BM_DesktopClientBesideBareWindow)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DesktopClientIntroMovie)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
