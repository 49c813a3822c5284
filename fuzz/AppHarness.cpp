#include "AppHarness.h"
#include "FuzzSupport.h"

#include "app/GameServer.h"
#include "app/MainAppDelegate.h"
#include "app/MainViewController.h"
#include "app/RecruitState.h"
#include "app/ScreenState.h"
#include "backend/headless/HeadlessMoviePlayer.h"
#include "backend/headless/ScriptPlayer.h"
#include "backend/headless/ScriptedEngine.h"
#include "kit/AddressBook.h"
#include "kit/AlertView.h"
#include "kit/Application.h"
#include "kit/AudioServices.h"
#include "kit/Bundle.h"
#include "kit/Device.h"
#include "kit/Events.h"
#include "kit/InterfaceLoader.h"
#include "kit/MoviePlayerController.h"
#include "kit/NotificationCenter.h"
#include "kit/Platform.h"
#include "kit/Object.h"
#include "kit/RunLoop.h"
#include "kit/UserDefaults.h"
#include "kit/ViewController.h"
#include "kit/WebView.h"
#include "shell/Launch.h"
#include "shell/TranscriptWriter.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fuzz {

namespace {

using shell::ScriptCommand;
using Kind = ScriptCommand::Kind;

// Two people, so that the Recruit screen has rows to tick.
constexpr const char* contacts = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Able;Alice;;;\r\nFN:Alice Able\r\n"
                                 "TEL;TYPE=CELL:+1 555 0100\r\nEMAIL:alice@example.com\r\nEND:VCARD\r\n"
                                 "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Baker;Bob;;;\r\nFN:Bob Baker\r\n"
                                 "TEL;TYPE=HOME:555 0101\r\nEND:VCARD\r\n";

struct State {
    shell::AppHooks hooks;
    std::unique_ptr<shell::TranscriptWriter> transcript;
    std::unique_ptr<kit::PlatformSession> session;
    std::unique_ptr<backend::headless::ScriptPlayer> player;
};

State& globals()
{
    static State s;
    return s;
}

} // namespace

std::uint64_t inputHash(std::string_view bytes)
{
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

AppHarness& AppHarness::instance()
{
    static AppHarness harness;
    return harness;
}

AppHarness::AppHarness()
    : dataDir_(scratchDirectory(""))
{
    auto& s = globals();
    std::ofstream(dataDir_ + "/contacts.vcf") << contacts;

    s.hooks.mainInterface = "MainWindow";
    s.hooks.defaultResourceDirectory = STREET_RESOURCES_DIR;
    s.hooks.snapshot = [] {
        auto snapshot = street::ScreenState::snapshot();
        snapshot["recruit"] = street::recruitStateJson();
        return snapshot;
    };

    s.hooks.registerClasses = [] {
        kit::ClassRegistry::registerClass("MainAppDelegate", [] { return std::make_shared<street::MainAppDelegate>(); });
        kit::ClassRegistry::registerClass("MainViewController", [] { return std::make_shared<street::MainViewController>(); });
        street::registerRecruitClasses();
    };

    // As a run's command line would set it up.
    shell::Options options;
    options.resources = STREET_RESOURCES_DIR;
    options.dataDir = dataDir_;
    options.contacts = dataDir_ + "/contacts.vcf";
    options.udid = "fuzz-device";
    options.model = "Linux";
    options.systemVersion = "12";
    // The transcript is written for real (its JSON must survive any page text), then thrown away
    // unless STREET_FUZZ_TRANSCRIPT names a file for it (to see what a crashing input did).
    const char* transcript = std::getenv("STREET_FUZZ_TRANSCRIPT");
    s.transcript = shell::TranscriptWriter::open(transcript && *transcript ? transcript : "/dev/null", nullptr);
    kit::Platform platform;
    platform.movies = [](kit::MoviePlayerController& controller) {
        return std::make_unique<backend::headless::HeadlessMoviePlayer>(controller, 3.0);
    };
    platform.engines = [](kit::WebView& view) { return std::make_unique<backend::headless::ScriptedEngine>(view); };
    platform.events = s.transcript.get();
    s.session = std::make_unique<kit::PlatformSession>(std::move(platform));
    shell::configureKit(options, s.hooks);
    // Nothing listens there unless a harness says otherwise: an invite post fails at once.
    street::GameServer::setHost("127.0.0.1:9");

    shell::launch(s.hooks);

    s.player = std::make_unique<backend::headless::ScriptPlayer>(s.hooks, shell::ClockKind::Virtual);
    s.player->turn();
}

AppHarness::~AppHarness()
{
    // As the runner ends a run: save the defaults, drop what the application holds while the
    // run loop is still there, then remove the data directory.
    shell::finishKit(*globals().session);
    globals().session.reset();
    globals().player.reset();
    globals().transcript.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dataDir_, ignored);
}

void AppHarness::play(ScriptCommand command) { globals().player->play(command); }

namespace {
ScriptCommand command(Kind kind, std::string text = {})
{
    ScriptCommand c;
    c.kind = kind;
    c.source = text;
    c.text = std::move(text);
    return c;
}
} // namespace

void AppHarness::navigate(std::string url) { play(command(Kind::Navigate, std::move(url))); }

void AppHarness::wait(double seconds)
{
    auto c = command(Kind::Wait);
    c.seconds = seconds;
    play(c);
}

void AppHarness::press(size_t index)
{
    auto c = command(Kind::Press);
    c.index = index;
    play(c);
}

void AppHarness::type(std::string text) { play(command(Kind::Type, std::move(text))); }
void AppHarness::finish() { play(command(Kind::Finish)); }

void AppHarness::fail(int code, std::string description)
{
    auto c = command(Kind::Fail);
    c.code = code;
    c.description = std::move(description);
    play(c);
}

void AppHarness::toolbar(std::string title) { play(command(Kind::Toolbar, std::move(title))); }

void AppHarness::row(int section, int row)
{
    auto c = command(Kind::Row);
    c.section = section;
    c.row = row;
    play(c);
}

void AppHarness::state() { play(command(Kind::State)); }

void AppHarness::answerAlerts(size_t keep)
{
    while (alertCount() > keep) {
        auto alert = kit::AlertView::frontmost();
        if (alert->buttonTitles().empty())
            kit::AlertView::dismissAll();
        else
            press(0);
    }
}

size_t AppHarness::alertCount() const { return kit::AlertView::visibleAlerts().size(); }
bool AppHarness::modalShown() const { return kit::ViewController::frontmostModal() != nullptr; }

void AppHarness::setServer(const std::string& hostPort) { street::GameServer::setHost(hostPort); }

} // namespace fuzz
