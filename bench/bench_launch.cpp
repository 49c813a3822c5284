// Start-up of the headless client on the virtual clock: the time from process start to the
// entry request's decision, and the peak resident memory of such a run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Runs the client with a script that quits at once; returns the child's max RSS in KiB.
long runOnce(const std::string& script, const std::string& dataDir)
{
    std::vector<std::string> args = {STREET_CLIENT_BIN, "--headless", "--script", script, "--transcript", "/dev/null",
                                     "--data-dir", dataDir, "--udid", "bench", "--model", "Linux", "--system-version", "12"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss;
}

void BM_LaunchToEntryDecision(benchmark::State& state)
{
    // The script's first command runs after launch has decided on the entry request.
    char scriptPath[] = "/tmp/street-bench-XXXXXX";
    int fd = mkstemp(scriptPath);
    const char text[] = "quit\n";
    if (fd < 0 || write(fd, text, sizeof text - 1) < 0)
        state.SkipWithError("cannot write the script");
    close(fd);
    char dataDir[] = "/tmp/street-bench-data-XXXXXX";
    if (!mkdtemp(dataDir))
        state.SkipWithError("cannot make a data directory");
    long peak = 0;
    for (auto _ : state) {
        long rss = runOnce(scriptPath, dataDir);
        if (rss < 0)
            state.SkipWithError("cannot start the client");
        peak = std::max(peak, rss);
    }
    state.counters["peak_rss_KiB"] = static_cast<double>(peak);
    unlink(scriptPath);
    std::error_code ignored;
    std::filesystem::remove_all(dataDir, ignored);
}
BENCHMARK(BM_LaunchToEntryDecision)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
