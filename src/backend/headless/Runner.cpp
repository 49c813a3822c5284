#include "backend/headless/Runner.h"

#include "backend/headless/HeadlessMoviePlayer.h"
#include "backend/headless/HttpEngine.h"
#include "backend/headless/Script.h"
#include "backend/headless/ScriptPlayer.h"
#include "backend/headless/ScriptedEngine.h"
#include "backend/headless/TranscriptWriter.h"
#include "kit/AddressBook.h"
#include "kit/AlertView.h"
#include "kit/Application.h"
#include "kit/AudioServices.h"
#include "kit/Bundle.h"
#include "kit/CertificateAuthorities.h"
#include "kit/CookieJar.h"
#include "kit/Device.h"
#include "kit/Events.h"
#include "kit/InterfaceLoader.h"
#include "kit/MoviePlayerController.h"
#include "kit/NotificationCenter.h"
#include "kit/RunLoop.h"
#include "kit/UserDefaults.h"
#include "kit/WebView.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

namespace backend::headless {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

std::optional<std::string> readScript(const std::string& path)
{
    std::ostringstream text;
    if (path == "-") {
        text << std::cin.rdbuf();
        return text.str();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    text << in.rdbuf();
    return text.str();
}

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

std::string deviceIdentifier(const Options& options)
{
    if (options.udid)
        return *options.udid;
    std::string id = kit::DeviceIdentity::identifierFromMachineId();
    return id.empty() ? kit::DeviceIdentity::identifierForMachineId("unknown") : id;
}

// Process-wide kit state back to what a fresh process has, so that a run in a process that
// has run before (tests) starts alike.
void resetKitState()
{
    kit::setEventSink(nullptr);
    kit::AlertView::dismissAll();
    kit::Application::reset();
    kit::NotificationCenter::defaultCenter().reset();
    kit::AudioServices::reset();
    kit::CookieJar::resetShared();
    kit::CertificateAuthorities::reset();
}

} // namespace

bool loadScript(const Options& options, std::optional<Script::Parsed>& script)
{
    // The whole script is read and checked before anything runs.
    if (!options.script)
        return true;
    auto text = readScript(*options.script);
    if (!text) {
        std::fprintf(stderr, "street-client: cannot read the script %s: %s\n", options.script->c_str(),
                     std::strerror(errno));
        return false;
    }
    script = Script::parse(*text);
    if (script->errorLine) {
        std::fprintf(stderr, "street-client: script line %d: %s\n", *script->errorLine, script->error.c_str());
        return false;
    }
    return true;
}

void configureKit(const Options& options, const AppHooks& hooks, ClockKind clock)
{
    resetKitState();
    kit::RunLoop::resetMain(clock == ClockKind::Virtual ? kit::RunLoop::Clock::Virtual : kit::RunLoop::Clock::Real);
    kit::Bundle::setResourceDirectory(options.resources.value_or(hooks.defaultResourceDirectory));
    if (options.dataDir)
        kit::UserDefaults::setDataDirectory(*options.dataDir);
    // The pages and the invite post share one cookie jar, whose lasting cookies are kept beside
    // the user defaults.
    kit::CookieJar::shared().setFile(kit::UserDefaults::dataDirectory() + "/cookies.txt");
    if (options.contacts)
        kit::AddressBook::setPath(*options.contacts);
    if (options.caFile) {
        std::string error;
        if (!kit::CertificateAuthorities::setFile(*options.caFile, &error))
            std::fprintf(stderr, "street-client: %s\n", error.c_str());
    }

    auto& device = kit::Device::currentDevice();
    device.setUniqueIdentifier(deviceIdentifier(options));
    device.setModel(options.model.value_or(kit::DeviceIdentity::model()));
    device.setSystemVersion(options.systemVersion.value_or(kit::DeviceIdentity::systemVersion()));
    if (options.server && hooks.setServer)
        hooks.setServer(*options.server);
    if (hooks.setTrustedHosts)
        hooks.setTrustedHosts(options.trustedHosts);

    auto& application = kit::Application::sharedApplication();
    application.setOffersPushRegistration(options.push);
    application.setOffersIconBadge(options.iconBadge);
    // Headless, an outside link goes nowhere: the kit's open-url event is the record of it.
    application.setURLOpener([](const std::string&) { return true; });
    // The script delivers the registration's outcome (`token`, `push-fail`).
    application.setPushRegistrar([](int) {});

    std::optional<std::string> route = options.audioRoute.value_or("Speaker");
    if (route->empty() || *route == "none")
        route.reset();
    kit::AudioServices::setAudioRoute(route);
    kit::AudioServices::setPlayer(nullptr);

    double movieSeconds = options.movieSeconds;
    kit::MoviePlayerController::setPeerFactory([movieSeconds](kit::MoviePlayerController& controller) {
        return std::make_unique<HeadlessMoviePlayer>(controller, movieSeconds);
    });
}

void launch(const AppHooks& hooks)
{
    kit::InterfaceLoader::registerKitClasses();
    if (hooks.registerClasses)
        hooks.registerClasses();
    kit::ApplicationMain(hooks.mainInterface);
}

void finishKit()
{
    // The platform saves the user defaults when the application ends; then everything the
    // application holds goes, while the run loop and the kit it relies on are still here.
    kit::UserDefaults::resetStandardUserDefaults();
    kit::setEventSink(nullptr);
    resetKitState();
    kit::RunLoop::resetMain(kit::RunLoop::Clock::Virtual);
}

int run(const Options& options, const AppHooks& hooks)
{
    std::optional<Script::Parsed> script;
    if (!loadScript(options, script))
        return 2;
    ClockKind clock = options.clock.value_or(options.script ? ClockKind::Virtual : ClockKind::Real);
    Engine engine = options.engine.value_or(clock == ClockKind::Virtual ? Engine::Scripted : Engine::Http);
    if (engine == Engine::Http && clock == ClockKind::Virtual) {
        std::fprintf(stderr, "street-client: --engine http fetches pages in real time: use it with --clock real\n");
        return 2;
    }
    std::unique_ptr<TranscriptWriter> transcript;
    if (options.transcript) {
        std::string error;
        transcript = TranscriptWriter::open(*options.transcript, &error);
        if (!transcript) {
            std::fprintf(stderr, "street-client: %s\n", error.c_str());
            return 2;
        }
    }
    // A reader that went away must not end the run.
    std::signal(SIGPIPE, SIG_IGN);

    configureKit(options, hooks, clock);
    if (engine == Engine::Scripted)
        kit::WebView::setEngineFactory([](kit::WebView& view) { return std::make_unique<ScriptedEngine>(view); });
    else
        kit::WebView::setEngineFactory([](kit::WebView& view) { return std::make_unique<HttpEngine>(view); });
    kit::setEventSink(transcript.get());
    std::optional<StopOnSignal> stopOnSignal;
    if (!script && clock == ClockKind::Real)
        stopOnSignal.emplace();
    launch(hooks);

    ScriptPlayer player(hooks, clock);
    player.turn();
    if (script) {
        for (const auto& command : script->commands)
            if (!player.play(command))
                break;
    } else if (stopOnSignal) {
        stopOnSignal->run();
    }

    finishKit();
    return 0;
}

} // namespace backend::headless
