// The page developers' subcommands, start to exit: `explain` of one command URL, and
// `check-page` of a 1 MiB page with 5,000 links; and, in process, what they do beyond starting.
#include "tools/PageLinks.h"
#include "tools/PageSandbox.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Runs the client with these arguments, its output thrown away; false when it could not run.
bool runClient(std::vector<std::string> args)
{
    args.insert(args.begin(), STREET_CLIENT_BIN);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    // 0 or 1 (warnings); anything else means it did not explain.
    return WIFEXITED(status) && WEXITSTATUS(status) <= 1;
}

const std::string commandURL = "http://127.0.0.1:8642/fight.php?setTab1Badge=3&invokeVibrate=true"
                               "&invokeAlertTwoBtnTitle=Race&invokeAlertTwoBtnBody=Go%3F&invokeAlertTwoBtn1Name=No"
                               "&invokeAlertTwoBtn2Name=Yes&invokeAlertTwoBtn1JS=a()&invokeAlertTwoBtn2JS=b()"
                               "&changeBgAfterLoad=bg_other.jpg&stopload=true";

void BM_ExplainStartToExit(benchmark::State& state)
{
    for (auto _ : state)
        if (!runClient({"explain", commandURL}))
            state.SkipWithError("explain did not run");
}
BENCHMARK(BM_ExplainStartToExit)->Unit(benchmark::kMillisecond)->UseRealTime();

// For comparison: the same process start with nothing to do.
void BM_VersionStartToExit(benchmark::State& state)
{
    for (auto _ : state)
        if (!runClient({"--version"}))
            state.SkipWithError("the client did not run");
}
BENCHMARK(BM_VersionStartToExit)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExplainInProcess(benchmark::State& state)
{
    street::tools::PageSandbox sandbox;
    for (auto _ : state)
        benchmark::DoNotOptimize(sandbox.explain(commandURL, street::Explanation::Phase::Started).text());
}
BENCHMARK(BM_ExplainInProcess)->Unit(benchmark::kMicrosecond);

// About 1 MiB: 5,000 links, one in ten with a command, the rest plain pages, with text between.
std::string largePage()
{
    std::string html = "<!DOCTYPE html>\n<html><head><title>Large</title></head><body>\n<ul>\n";
    const std::string filler(122, 'x');
    for (int i = 0; i < 5000; ++i) {
        std::string href = i % 10 == 0 ? "/commands.php?setTab1Badge=" + std::to_string(i) + "&stopLoad=true"
                                        : "/cars.php?showCarsBg=true&car=" + std::to_string(i);
        html += "<li><a href=\"" + href + "\">Link " + std::to_string(i) + "</a> <span>" + filler + "</span></li>\n";
    }
    html += "</ul>\n</body></html>\n";
    return html;
}

void BM_CheckPageLarge(benchmark::State& state)
{
    char path[] = "/tmp/street-bench-page-XXXXXX";
    int fd = mkstemp(path);
    std::string page = largePage();
    if (fd < 0 || write(fd, page.data(), page.size()) != static_cast<ssize_t>(page.size()))
        state.SkipWithError("cannot write the page");
    close(fd);
    for (auto _ : state)
        if (!runClient({"check-page", path}))
            state.SkipWithError("check-page did not run");
    state.counters["page_KiB"] = static_cast<double>(page.size()) / 1024.0;
    unlink(path);
}
BENCHMARK(BM_CheckPageLarge)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PageLinksLarge(benchmark::State& state)
{
    std::string page = largePage();
    for (auto _ : state)
        benchmark::DoNotOptimize(street::tools::PageLinks::find(page, "http://127.0.0.1:8642/large.html"));
}
BENCHMARK(BM_PageLinksLarge)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
