// Process entry: wires the application's classes to the backend and hands over control.
#include "app/GameServer.h"
#include "app/MainAppDelegate.h"
#include "app/MainViewController.h"
#include "app/RecruitState.h"
#include "app/ScreenState.h"
#include "backend/headless/Runner.h"
#ifdef STREET_DESKTOP
#include "backend/gtk/Runner.h"
#include <dlfcn.h>
#endif
#include "kit/Bundle.h"
#include "kit/Object.h"
#include "kit/ServerChoice.h"
#include "kit/URL.h"
#include "shell/DemoServerProcess.h"
#include "tools/Subcommands.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// The game server this build was made with (STREET_GAME_SERVER), else the built-in demo address.
constexpr bool kNamesNoServer = sizeof(STREET_GAME_SERVER) == 1;
const char* const kCompiledInServer = kNamesNoServer ? street::GameServer::defaultHost : STREET_GAME_SERVER;

// Where the program's own files are. Run from its build tree: the source tree's resources and
// the module and demo server built beside it. Anywhere else: under its own prefix, where
// `cmake --install` put them (the paths from its bindir are the build's); nothing else, so an
// install without its files says so instead of borrowing a build's.
struct Layout {
    fs::path resources;
    fs::path module;
    fs::path demoServer;
};

Layout layout()
{
    std::error_code error;
    fs::path directory = fs::read_symlink("/proc/self/exe", error).parent_path();
    if (!error && fs::equivalent(directory, STREET_BUILD_DIR, error))
        return {STREET_SOURCE_RESOURCES_DIR, directory / "street-desktop.so", STREET_BUILT_DEMO_SERVER};
    Layout installed;
    installed.resources = (directory / STREET_DATA_FROM_BINDIR).lexically_normal();
#ifdef STREET_DESKTOP
    installed.module = (directory / STREET_MODULE_FROM_BINDIR / "street-desktop.so").lexically_normal();
#endif
    installed.demoServer = (directory / STREET_DEMO_SERVER_FROM_BINDIR / "demo-server").lexically_normal();
    return installed;
}

// Puts the game server in force (see kit::ServerChoice) and answers 0, or the exit status after
// saying why it cannot. `source` gets where the server came from.
int chooseServer(const std::optional<std::string>& commandLine, std::string& server, kit::ServerChoice::Source& source)
{
    auto outcome = kit::ServerChoice::resolve(kit::ServerChoice::fromProcess(commandLine, kCompiledInServer));
    for (const auto& warning : outcome.warnings)
        std::fprintf(stderr, "street-client: %s\n", warning.c_str());
    if (!outcome.error.empty()) {
        std::fprintf(stderr, "street-client: %s\n", outcome.error.c_str());
        return outcome.exitCode;
    }
    if (auto address = kit::URL::serverAddress(outcome.server))
        street::GameServer::setServer(address->scheme, address->authority);
    server = outcome.server;
    source = outcome.source;
    return 0;
}

// Nothing answers at the built-in demo address: the demo server, started for this run, stands in
// for it. None (after saying why) when it cannot start; the client then tries the address itself
// and finds nothing there, as it would have.
std::optional<std::string> startDemoServer(const fs::path& program, std::unique_ptr<shell::DemoServerProcess>& demo)
{
    int port = kit::URL::serverAddress(street::GameServer::defaultHost)->origin.port;
    if (shell::DemoServerProcess::loopbackAnswers(port, std::chrono::milliseconds(500)))
        return std::nullopt;
    std::string why;
    demo = shell::DemoServerProcess::start(program, std::chrono::seconds(5), why);
    if (!demo) {
        std::fprintf(stderr, "street-client: nothing answers at %s and the demo server cannot start: %s\n",
                     street::GameServer::defaultHost, why.c_str());
        return std::nullopt;
    }
    std::fprintf(stderr, "street-client: nothing answers at %s; playing the demo server started at %s\n",
                 street::GameServer::defaultHost, demo->hostPort().c_str());
    return demo->hostPort();
}

#ifdef STREET_DESKTOP
// The window lives in a module, loaded only when a window is opened.
int runDesktop(const fs::path& path, const shell::Options& options, const shell::AppHooks& hooks)
{
    std::error_code error;
    std::string why = path.string() + " not found";
    if (fs::exists(path, error)) {
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto* entry = module ? reinterpret_cast<decltype(&street_desktop_run)>(dlsym(module, "street_desktop_run")) : nullptr;
        if (entry)
            return entry(&options, &hooks);
        const char* said = dlerror();
        why = said ? said : "street_desktop_run not found";
    }
    std::fprintf(stderr, "street-client: the desktop window cannot be loaded (%s); use --headless to run without it\n",
                 why.c_str());
    return 1;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    std::string server;
    auto source = kit::ServerChoice::Source::CompiledIn;
    auto chooser = [&](const std::optional<std::string>& commandLine) { return chooseServer(commandLine, server, source); };
    if (auto status = street::tools::runSubcommand(argc, argv, chooser))
        return *status;
#ifdef STREET_DESKTOP
    constexpr bool desktop = true;
#else
    constexpr bool desktop = false;
#endif
    auto parsed = shell::parseCommandLine(argc, argv, desktop);
    if (!parsed.options) {
        std::fputs(parsed.message.c_str(), parsed.exitCode == 0 ? stdout : stderr);
        return parsed.exitCode;
    }
    shell::Options& options = *parsed.options;
    if (int status = chooser(options.server))
        return status;
    options.server = server;

    Layout files = layout();
    shell::AppHooks hooks;
    hooks.mainInterface = "MainWindow";
    hooks.defaultResourceDirectory = files.resources.string();
    // A program without its resources has no game to show: one line, before anything opens.
    std::string resources = options.resources.value_or(hooks.defaultResourceDirectory);
    std::error_code error;
    if (!fs::is_directory(resources, error)) {
        std::fprintf(stderr, "street-client: the resource folder %s is missing%s\n", resources.c_str(),
                     options.resources ? "" : ": this installation is incomplete");
        return 1;
    }
    kit::Bundle::setResourceDirectory(resources);
    if (!kit::Bundle::mainBundle().pathForResource(hooks.mainInterface, "json")) {
        std::fprintf(stderr, "street-client: interface file %s: not found among the resources in %s\n",
                     hooks.mainInterface.c_str(), resources.c_str());
        return 1;
    }
    hooks.registerClasses = [] {
        kit::ClassRegistry::registerClass("MainAppDelegate", [] { return std::make_shared<street::MainAppDelegate>(); });
        kit::ClassRegistry::registerClass("MainViewController", [] { return std::make_shared<street::MainViewController>(); });
        street::registerRecruitClasses();
    };
    hooks.setServer = [](const std::string& server) {
        if (auto address = kit::URL::serverAddress(server))
            street::GameServer::setServer(address->scheme, address->authority);
    };
    // Only the build's own demo address is ever stood in for, and only when no one named a server.
    std::unique_ptr<shell::DemoServerProcess> demo;
    if (kNamesNoServer && source == kit::ServerChoice::Source::CompiledIn)
        hooks.demoServer = [&demo, program = files.demoServer] { return startDemoServer(program, demo); };
    hooks.setTrustedHosts = [](const std::vector<std::string>& hosts) { street::GameServer::setTrustedHosts(hosts); };
    hooks.snapshot = [] {
        auto state = street::ScreenState::snapshot();
        state["recruit"] = street::recruitStateJson();
        state["recruitTable"] = street::recruitTableStateJson();
        return state;
    };
#ifdef STREET_DESKTOP
    if (!options.headless)
        return runDesktop(files.module, options, hooks);
#endif
    return backend::headless::run(options, hooks);
}
