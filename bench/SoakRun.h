#pragma once

// The soak run, shared by bench_soak (figures) and the soak test (bounds): the real client on
// the virtual clock plays the soak cycle (soak-cycle.script beside this file) many times, and
// its memory is read at chosen navigation counts while it runs.
//
// The transcript comes back through a pipe that is read here line by line, so the client can
// never be more than a pipe's worth of lines ahead of the count: a reading "after N navigations"
// is taken within a few dozen navigations of N. A tail of `state` lines, longer than a pipe
// holds, keeps the client alive for the last reading.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace soak {

struct Sample {
    int navigations = 0;  // counted when the reading was taken (at least the one asked for)
    long rssKiB = -1;     // VmRSS
    long peakKiB = -1;    // VmHWM: the most the process has held so far
};

struct Result {
    std::vector<Sample> samples;
    int exitCode = -1;     // 128 + signal when killed
    long maxRssKiB = -1;   // at exit
    int navigations = 0;   // decisions after the entry request's
    int ignored = 0;       // script lines no person could have played (should stay 0)
    int alerts = 0;
    int alertPresses = 0;
    double seconds = 0;
    std::string error;     // the client's standard error, or why it could not run
};

inline long statusField(pid_t pid, const char* field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
    return -1;
}

// The intro, the entry page, then `cycles` soak cycles (ten navigations each) and the tail.
inline std::string script(const std::string& cycleFile, int cycles)
{
    std::ifstream in(cycleFile);
    std::stringstream cycle;
    cycle << in.rdbuf();
    std::string text = "wait 6\nfinish\nwait 1\n";
    for (int i = 0; i < cycles; ++i)
        text += cycle.str();
    for (int i = 0; i < 200; ++i)
        text += "state\n";
    return text;
}

inline Result run(const std::string& client, const std::string& resources, const std::string& cycleFile, int cycles,
                  std::vector<int> sampleAt)
{
    Result result;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/street-soak-XXXXXX";
    if (!::mkdtemp(dir.data())) {
        result.error = "cannot make a temporary directory";
        return result;
    }
    std::ofstream(dir + "/soak.script") << script(cycleFile, cycles);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        result.error = "cannot make a pipe";
        return result;
    }
    std::vector<std::string> args = {client, "--headless", "--script", dir + "/soak.script", "--transcript", "-",
                                     "--resources", resources, "--data-dir", dir + "/data",
                                     "--contacts", dir + "/none.vcf", "--udid", "soak", "--model", "Linux",
                                     "--system-version", "12"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, (dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        result.error = std::string("cannot start the client: ") + std::strerror(spawned);
        return result;
    }

    int decisions = 0;
    size_t next = 0;
    std::string pending;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t begin = 0;
        for (size_t end; (end = pending.find('\n', begin)) != std::string::npos; begin = end + 1) {
            std::string_view line(pending.data() + begin, end - begin);
            if (line.find("\"ev\":\"decide\"") != std::string_view::npos)
                ++decisions;
            else if (line.find("\"ev\":\"ignored\"") != std::string_view::npos)
                ++result.ignored;
            else if (line.find("\"ev\":\"alert\"") != std::string_view::npos)
                ++result.alerts;
            else if (line.find("\"ev\":\"alert-press\"") != std::string_view::npos)
                ++result.alertPresses;
            int navigations = decisions - 1;
            if (next < sampleAt.size() && navigations >= sampleAt[next]) {
                result.samples.push_back({navigations, statusField(pid, "VmRSS:"), statusField(pid, "VmHWM:")});
                ++next;
            }
        }
        pending.erase(0, begin);
    }
    ::close(out[0]);

    int status = 0;
    rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) { }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.maxRssKiB = usage.ru_maxrss;
    result.navigations = decisions - 1;
    std::ifstream errors(dir + "/stderr");
    std::stringstream errorText;
    errorText << errors.rdbuf();
    result.error = errorText.str();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return result;
}

} // namespace soak
