// The desktop client's start-up beside a bare WebKitGTK window of the same size loading the same
// page, in one run: process start to window mapped, process start to the first page loaded
// (intro off, against a local demo server) and to the page shown, and the resident memory of the
// program and all of its processes (WebKit's web and network processes) once the page shows.
// The game reveals its first page on a 2.4 s timer of its own after the intro, so the bare
// window's first paint compares with the page loaded, and the page shown comes 2.4 s later by
// design. Needs a display: ./dev bench runs under xvfb-run.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

// A program started with its standard output on a pipe; ended with SIGTERM when dropped.
class Child {
public:
    explicit Child(std::vector<std::string> args)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        started = Clock::now();
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~Child()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }

    // The next line that contains `text`, or none within the time limit.
    std::optional<std::string> waitFor(const std::string& text, double seconds = 30)
    {
        auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            for (auto newline = buffer_.find('\n'); newline != std::string::npos; newline = buffer_.find('\n')) {
                std::string line = buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                if (line.find(text) != std::string::npos)
                    return line;
            }
            int left = static_cast<int>(std::chrono::duration<double, std::milli>(deadline - Clock::now()).count());
            pollfd p {out_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0)
                return std::nullopt;
            char chunk[4096];
            ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0)
                return std::nullopt;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    // Resident memory of this process and all of its descendants, in MiB.
    double treeRssMiB() const
    {
        std::multimap<int, int> children;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            int pid = std::atoi(entry.path().filename().c_str());
            std::ifstream stat(entry.path() / "stat");
            std::string text;
            if (pid <= 0 || !std::getline(stat, text))
                continue;
            auto close = text.rfind(')');
            int ppid = 0;
            char state = 0;
            if (close != std::string::npos && std::sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid) == 2)
                children.emplace(ppid, pid);
        }
        double kib = 0;
        std::vector<int> todo {pid_};
        while (!todo.empty()) {
            int pid = todo.back();
            todo.pop_back();
            std::ifstream status("/proc/" + std::to_string(pid) + "/status");
            for (std::string line; std::getline(status, line);)
                if (line.rfind("VmRSS:", 0) == 0)
                    kib += std::atof(line.c_str() + 6);
            for (auto [it, end] = children.equal_range(pid); it != end; ++it)
                todo.push_back(it->second);
        }
        return kib / 1024;
    }

    bool running() const { return pid_ > 0 && out_ >= 0; }
    Clock::time_point started;

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

struct Setup {
    std::unique_ptr<Child> server;
    std::string hostPort, dataDir, firstURL;
};

Setup& setup()
{
    static Setup s = [] {
        Setup s;
        s.server = std::make_unique<Child>(std::vector<std::string>{STREET_DEMO_SERVER_BIN, "--port", "0"});
        if (auto line = s.server->waitFor("listening on", 10))
            s.hostPort = line->substr(line->rfind(' ') + 1);
        char dir[] = "/tmp/street-bench-desktop-XXXXXX";
        if (mkdtemp(dir)) {
            s.dataDir = dir;
            std::ofstream(s.dataDir + "/defaults.json") << R"({"introAnimationEnabled": false})";
        }
        return s;
    }();
    return s;
}

bool haveDisplay(benchmark::State& state)
{
    if (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"))
        return true;
    state.SkipWithError("needs a display (./dev bench runs under xvfb-run)");
    return false;
}

void report(benchmark::State& state, double mapped, double page, double rss, int runs)
{
    state.counters["mapped_ms"] = mapped / runs;
    state.counters["page_loaded_ms"] = page / runs;
    state.counters["rss_MiB"] = rss / runs;
}

void BM_DesktopClient(benchmark::State& state)
{
    if (!haveDisplay(state))
        return;
    Setup& s = setup();
    double mapped = 0, page = 0, shownSum = 0, rss = 0;
    int runs = 0;
    for (auto _ : state) {
        Child client({STREET_CLIENT_BIN, "--scale", "1", "--server", s.hostPort, "--data-dir", s.dataDir, "--open-urls",
                      "record", "--icon-badge", "no", "--transcript", "/dev/stdout"});
        auto decided = client.waitFor("\"ev\":\"decide\"");
        auto map = client.waitFor("\"mapped\"");
        double mappedAt = msSince(client.started);
        auto loaded = client.waitFor("\"load-finish\"");
        double loadedAt = msSince(client.started);
        auto shown = client.waitFor("\"page-shown\"");
        double shownAt = msSince(client.started);
        if (!decided || !map || !loaded || !shown) {
            state.SkipWithError("the client did not show its first page");
            return;
        }
        if (s.firstURL.empty())
            s.firstURL = nlohmann::json::parse(*decided)["url"];
        mapped += mappedAt;
        page += loadedAt;
        shownSum += shownAt;
        rss += client.treeRssMiB();
        ++runs;
    }
    report(state, mapped, page, rss, runs);
    state.counters["page_shown_ms"] = shownSum / runs;
}

void BM_BareWebKitWindow(benchmark::State& state)
{
    if (!haveDisplay(state))
        return;
    Setup& s = setup();
    if (s.firstURL.empty()) {
        state.SkipWithError("runs after BM_DesktopClient, to load the page the client loaded");
        return;
    }
    double mapped = 0, page = 0, rss = 0;
    int runs = 0;
    for (auto _ : state) {
        Child bare({STREET_BARE_WINDOW_BIN, s.firstURL});
        auto map = bare.waitFor("mapped");
        double mappedAt = msSince(bare.started);
        auto painted = bare.waitFor("painted");
        double paintedAt = msSince(bare.started);
        if (!map || !painted) {
            state.SkipWithError("the bare window did not paint its page");
            return;
        }
        mapped += mappedAt;
        page += paintedAt;
        rss += bare.treeRssMiB();
        ++runs;
    }
    report(state, mapped, page, rss, runs);
}

} // namespace

BENCHMARK(BM_DesktopClient)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BareWebKitWindow)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_MAIN();
