// The desktop's sound and intro movie: the time from a play request to the first samples handed
// to the sound server (target: under 30 ms), and from process start to the intro movie's first
// frame in the window (target: under 400 ms). Both need `pulseaudio` for a private null output;
// the movie needs a display (run under xvfb-run).
#include "backend/gtk/AudioOutput.h"
#include "backend/gtk/GLibRunLoopDriver.h"
#include "kit/AudioServices.h"
#include "kit/Platform.h"
#include "kit/RunLoop.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(std::vector<std::string> args, char** env)
{
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), env) == 0 ? pid : -1;
}

void stop(pid_t pid)
{
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

// A private PulseAudio with a null output; PULSE_SERVER points at it while it lives.
class SoundServer {
public:
    SoundServer()
    {
        char pattern[] = "/tmp/street-bench-sound-XXXXXX";
        dir_ = mkdtemp(pattern) ? pattern : "";
        std::filesystem::create_directories(dir_ + "/home");
        std::ofstream(dir_ + "/server.pa") << "load-module module-null-sink sink_name=out\n"
                                           << "load-module module-native-protocol-unix socket=" << dir_
                                           << "/native auth-anonymous=1\n";
        std::vector<std::string> env{"HOME=" + dir_ + "/home", "XDG_RUNTIME_DIR=" + dir_ + "/home", "PATH=/usr/bin:/bin"};
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_ = spawn({"pulseaudio", "-n", "-F", dir_ + "/server.pa", "--daemonize=no", "--exit-idle-time=-1",
                      "--use-pid-file=no", "--disable-shm=yes", "--log-target=file:" + dir_ + "/log.txt"},
                     envp.data());
        for (int i = 0; pid_ > 0 && i < 100 && !std::filesystem::exists(dir_ + "/native"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::setenv("PULSE_SERVER", ("unix:" + dir_ + "/native").c_str(), 1);
    }
    ~SoundServer()
    {
        ::unsetenv("PULSE_SERVER");
        stop(pid_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    bool started() const { return pid_ > 0 && std::filesystem::exists(dir_ + "/native"); }

private:
    std::string dir_;
    pid_t pid_ = -1;
};

void BM_TapToSoundStart(benchmark::State& state)
{
    SoundServer server;
    if (!server.started()) {
        state.SkipWithError("cannot start pulseaudio");
        return;
    }
    kit::Platform platform;
    platform.clock = kit::RunLoop::Clock::Real;
    platform.runLoopDriver = [](kit::RunLoop& loop) { return std::make_unique<backend::gtk::GLibRunLoopDriver>(loop); };
    kit::PlatformSession session(std::move(platform));
    auto& loop = kit::RunLoop::main();
    {
        backend::gtk::AudioOutput output;
        auto until = Clock::now() + std::chrono::seconds(2);
        while (!output.connected() && Clock::now() < until)
            loop.runOnce(kit::RunLoop::toMicros(0.01));
        kit::SystemSoundID tap = 0;
        if (!output.connected()
            || kit::AudioServices::createSystemSoundID(std::string(STREET_RESOURCES_DIR) + "/sounds/tap.aif", &tap) != 0) {
            state.SkipWithError("no sound server or no tap sound");
        } else {
            bool started = false;
            output.onFirstSamples = [&](kit::SystemSoundID) { started = true; };
            for (auto _ : state) {
                started = false;
                auto begin = Clock::now();
                kit::AudioServices::playSystemSound(tap);
                while (!started)
                    loop.runOnce(kit::RunLoop::toMicros(0.05));
                state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
            }
            // Let the sounds still playing end before the output goes.
            until = Clock::now() + std::chrono::seconds(5);
            while (output.playingCount() > 0 && Clock::now() < until)
                loop.runOnce(kit::RunLoop::toMicros(0.05));
        }
    }
}
BENCHMARK(BM_TapToSoundStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

// From spawning the client to the transcript's line for the movie's first drawn frame.
void BM_StartToFirstMovieFrame(benchmark::State& state)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        state.SkipWithError("needs a display (xvfb-run)");
        return;
    }
    SoundServer server;
    if (!server.started()) {
        state.SkipWithError("cannot start pulseaudio");
        return;
    }
    char pattern[] = "/tmp/street-bench-movie-XXXXXX";
    std::string dir = mkdtemp(pattern) ? pattern : "";
    std::ofstream(dir + "/script") << "wait 10\n";
    double fromLaunch = 0;
    for (auto _ : state) {
        std::string transcript = dir + "/transcript.jsonl";
        std::filesystem::remove(transcript);
        auto begin = Clock::now();
        pid_t client = spawn({STREET_CLIENT_BIN, "--script", dir + "/script", "--transcript", transcript, "--data-dir",
                              dir + "/data", "--resources", STREET_RESOURCES_DIR, "--server", "127.0.0.1:9",
                              "--scale", "1"},
                             environ);
        bool drawn = false;
        auto until = begin + std::chrono::seconds(10);
        std::string line;
        while (!drawn && Clock::now() < until) {
            std::ifstream in(transcript);
            while (!drawn && std::getline(in, line))
                drawn = line.find("\"event\":\"frame\"") != std::string::npos;
            if (!drawn)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
        // The transcript's clock starts at launch: the rest is the process and toolkit start-up.
        if (drawn)
            fromLaunch += std::atof(line.c_str() + line.find(':') + 1) * 1000;
        stop(client);
        if (!drawn) {
            state.SkipWithError("the movie showed no frame");
            break;
        }
    }
    state.counters["launch_to_frame_ms"] = benchmark::Counter(fromLaunch, benchmark::Counter::kAvgIterations);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}
BENCHMARK(BM_StartToFirstMovieFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

} // namespace

BENCHMARK_MAIN();
