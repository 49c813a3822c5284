#include "backend/headless/Runner.h"

#include "backend/headless/HeadlessMoviePlayer.h"
#include "backend/headless/HttpEngine.h"
#include "backend/headless/ScriptPlayer.h"
#include "backend/headless/ScriptedEngine.h"
#include "kit/Events.h"
#include "kit/MoviePlayerController.h"
#include "kit/RunLoop.h"
#include "kit/WebView.h"
#include "shell/Launch.h"
#include "shell/Recorder.h"

#include <csignal>
#include <cstdio>
#include <optional>

namespace backend::headless {

using shell::AppHooks;
using shell::ClockKind;
using shell::Engine;
using shell::Options;
using shell::Script;
using shell::TranscriptWriter;

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

// Without a script the real-clock loop runs until SIGINT or SIGTERM. The handlers are in place
// before the client launches, so a signal that arrives as soon as the first load shows still
// ends the loop cleanly; they do not restart poll(), so a signal ends the wait at once.
class StopOnSignal {
public:
    StopOnSignal()
    {
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigemptyset(&action.sa_mask);
        stopRequested = 0;
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~StopOnSignal()
    {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
    }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

    void run()
    {
        while (!stopRequested)
            kit::RunLoop::main().runOnce(kit::RunLoop::toMicros(1.0));
    }

private:
    struct sigaction oldInt_ {}, oldTerm_ {};
};

} // namespace

int run(const Options& options, const AppHooks& hooks)
{
    std::optional<Script::Parsed> script;
    if (!shell::loadScript(options, script))
        return 2;
    ClockKind clock = options.clock.value_or(options.script ? ClockKind::Virtual : ClockKind::Real);
    Engine engine = options.engine.value_or(clock == ClockKind::Virtual ? Engine::Scripted : Engine::Http);
    if (engine == Engine::Http && clock == ClockKind::Virtual) {
        std::fprintf(stderr, "street-client: --engine http fetches pages in real time: use it with --clock real\n");
        return 2;
    }
    std::unique_ptr<TranscriptWriter> transcript;
    if (!shell::openTranscript(options, transcript))
        return 2;
    std::unique_ptr<shell::Recorder> recorder;
    if (!shell::Recorder::openFor(options, transcript.get(), recorder))
        return 2;
    // A reader that went away must not end the run.
    std::signal(SIGPIPE, SIG_IGN);

    kit::Platform platform;
    platform.clock = shell::runLoopClock(clock);
    std::optional<double> movieSeconds;
    if (!options.movieScripted)
        movieSeconds = options.movieSeconds;
    platform.movies = [movieSeconds](kit::MoviePlayerController& controller) {
        return std::make_unique<HeadlessMoviePlayer>(controller, movieSeconds);
    };
    if (engine == Engine::Scripted)
        platform.engines = [](kit::WebView& view) { return std::make_unique<ScriptedEngine>(view); };
    else
        platform.engines = [](kit::WebView& view) { return std::make_unique<HttpEngine>(view); };
    platform.events = shell::Recorder::sink(recorder.get(), transcript.get());
    kit::PlatformSession session(std::move(platform));
    shell::configureKit(options, recorder ? recorder->watching(hooks) : hooks, engine == Engine::Http);
    if (recorder)
        recorder->begin(shell::Recorder::Movie::ByItself);
    std::optional<StopOnSignal> stopOnSignal;
    if (!script && clock == ClockKind::Real)
        stopOnSignal.emplace();
    // Without its main interface there is no game to play: a broken install says so by its status.
    if (!shell::launch(hooks)) {
        shell::finishKit(session);
        return 1;
    }

    ScriptPlayer player(hooks, clock);
    player.setRecorder(recorder.get());
    player.turn();
    if (script) {
        for (const auto& command : script->commands)
            if (!player.play(command))
                break;
    } else if (stopOnSignal) {
        stopOnSignal->run();
    }

    if (recorder)
        recorder->end();
    shell::finishKit(session);
    return 0;
}

} // namespace backend::headless
