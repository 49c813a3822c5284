// The signed entry request to its first page (the redirect to home.php included) over https
// against the same over http, on loopback, side by side, in two spans:
//  - BM_EntryToFirstPage: the exchanges alone, each load from a fresh engine, so that every
//    https load pays for its own handshake and certificate check;
//  - BM_LaunchToFirstPage: what a player waits for, the client started headless until its
//    transcript reports the first page finished.
// Each https row's "vs_http" is its mean time over the http row's.
#include "app/MainViewController.h"
#include "backend/headless/HttpEngine.h"
#include "kit/CertificateAuthorities.h"
#include "kit/RunLoop.h"
#include "kit/WebView.h"
#include "support/Certificates.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

class Ended : public kit::WebViewDelegate {
public:
    int finished = 0, failed = 0;
    void webViewDidFinishLoad(kit::WebView&) override { ++finished; }
    void didFailLoadWithError(kit::WebView&, const kit::Error&) override { ++failed; }
};

struct Servers {
    scenario::TestAuthority authority;
    scenario::DemoServer plain;
    scenario::TlsDemoServer secure{authority};
};

// Made once, and stopped when the run ends.
Servers& servers()
{
    static Servers made;
    return made;
}

double httpMeanMs = 0;
double httpLaunchMs = 0;

// Starts the client against `server` and answers the milliseconds until its transcript reports
// the first page finished; negative when it did not.
double launchToFirstPage(const std::string& server, const std::string& caFile, const std::string& dataDir)
{
    std::vector<std::string> args{STREET_CLIENT_BIN, "--headless", "--clock", "real", "--engine", "http", "--server", server,
                                  "--transcript", "-", "--data-dir", dataDir, "--resources", STREET_RESOURCES_DIR,
                                  "--udid", "bench-udid", "--model", "Linux", "--system-version", "12", "--ca-file", caFile};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    auto started = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    double elapsed = -1;
    if (spawned == 0) {
        std::FILE* transcript = fdopen(out[0], "r");
        char line[8192];
        while (transcript && std::fgets(line, sizeof line, transcript)) {
            if (std::string(line).find("\"ev\":\"load-finish\"") != std::string::npos) {
                elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
                break;
            }
        }
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        if (transcript)
            std::fclose(transcript);
    } else {
        close(out[0]);
    }
    return elapsed;
}

void BM_LaunchToFirstPage(benchmark::State& state)
{
    bool https = state.range(0) == 1;
    auto& s = servers();
    if (!s.plain.started() || !s.secure.server.started()) {
        state.SkipWithError("the demo servers did not start");
        return;
    }
    scenario::TempDir data("street-bench-tls");
    std::string server = https ? s.secure.serverArgument() : s.plain.hostPort();
    double total = 0;
    for (auto _ : state) {
        double ms = launchToFirstPage(server, s.authority.certificateFile(), data.path());
        if (ms < 0) {
            state.SkipWithError("the first page did not load");
            break;
        }
        state.SetIterationTime(ms / 1000);
        total += ms;
    }
    double mean = state.iterations() ? total / static_cast<double>(state.iterations()) : 0;
    if (!https)
        httpLaunchMs = mean;
    else if (httpLaunchMs > 0)
        state.counters["vs_http"] = mean / httpLaunchMs;
}
BENCHMARK(BM_LaunchToFirstPage)->ArgName("https")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_EntryToFirstPage(benchmark::State& state)
{
    bool https = state.range(0) == 1;
    auto& s = servers();
    if (!s.plain.started() || !s.secure.server.started()) {
        state.SkipWithError("the demo servers did not start");
        return;
    }
    std::string error;
    if (!kit::CertificateAuthorities::setFile(s.authority.certificateFile(), &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    kit::RunLoop::resetMain(kit::RunLoop::Clock::Real);
    kit::WebView::setEngineFactory([](kit::WebView& view) { return std::make_unique<backend::headless::HttpEngine>(view); });
    std::string url = street::MainViewController::entryURL(https ? "https" : "http",
                                                           https ? s.secure.server.hostPort() : s.plain.hostPort(),
                                                           "bench-udid", "Linux", "12");
    double total = 0;
    for (auto _ : state) {
        auto started = std::chrono::steady_clock::now();
        Ended ended;
        kit::WebView view(kit::Rect{0, 0, 320, 480});
        view.setDelegate(&ended);
        view.loadRequest(kit::URLRequest::requestWithURL(url));
        kit::RunLoop::main().runUntil([&] { return ended.finished + ended.failed > 0; }, kit::RunLoop::toMicros(10));
        if (ended.finished != 1) {
            state.SkipWithError("the first page did not load");
            break;
        }
        total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    }
    double mean = state.iterations() ? total / static_cast<double>(state.iterations()) : 0;
    if (!https)
        httpMeanMs = mean;
    else if (httpMeanMs > 0)
        state.counters["vs_http"] = mean / httpMeanMs;
    kit::WebView::setEngineFactory(nullptr);
    kit::RunLoop::resetMain(kit::RunLoop::Clock::Virtual);
    kit::CertificateAuthorities::reset();
}
BENCHMARK(BM_EntryToFirstPage)->ArgName("https")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
