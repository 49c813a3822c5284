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
#include <filesystem>
#include <system_error>
#endif
#include "kit/Bundle.h"
#include "kit/Object.h"
#include "kit/URL.h"
#include "tools/Subcommands.h"

#include <cstdio>

#ifdef STREET_DESKTOP
// The window lives in a module beside the program (the build) or in the installed library
// directory, loaded only when a window is opened.
static int runDesktop(const shell::Options& options, const shell::AppHooks& hooks)
{
    std::error_code error;
    auto directory = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
    std::string tried;
    for (const auto& path : {directory / "street-desktop.so", directory / STREET_MODULE_FROM_BINDIR / "street-desktop.so"}) {
        if (!std::filesystem::exists(path, error))
            continue;
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto* entry = module ? reinterpret_cast<decltype(&street_desktop_run)>(dlsym(module, "street_desktop_run")) : nullptr;
        if (entry)
            return entry(&options, &hooks);
        const char* why = dlerror();
        tried = why ? why : "street_desktop_run not found";
        break;
    }
    std::fprintf(stderr, "street-client: the desktop window cannot be loaded (%s); use --headless to run without it\n",
                 tried.empty() ? "street-desktop.so not found" : tried.c_str());
    return 1;
}
#endif

int main(int argc, char** argv)
{
    if (auto status = street::tools::runSubcommand(argc, argv))
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

    shell::AppHooks hooks;
    hooks.mainInterface = "MainWindow";
    hooks.defaultResourceDirectory = kit::Bundle::installedResourceDirectory(STREET_RESOURCES_DIR);
    hooks.registerClasses = [] {
        kit::ClassRegistry::registerClass("MainAppDelegate", [] { return std::make_shared<street::MainAppDelegate>(); });
        kit::ClassRegistry::registerClass("MainViewController", [] { return std::make_shared<street::MainViewController>(); });
        street::registerRecruitClasses();
    };
    hooks.setServer = [](const std::string& server) {
        if (auto address = kit::URL::serverAddress(server))
            street::GameServer::setServer(address->scheme, address->authority);
    };
    hooks.setTrustedHosts = [](const std::vector<std::string>& hosts) { street::GameServer::setTrustedHosts(hosts); };
    hooks.snapshot = [] {
        auto state = street::ScreenState::snapshot();
        state["recruit"] = street::recruitStateJson();
        state["recruitTable"] = street::recruitTableStateJson();
        return state;
    };
#ifdef STREET_DESKTOP
    if (!parsed.options->headless)
        return runDesktop(*parsed.options, hooks);
#endif
    return backend::headless::run(*parsed.options, hooks);
}
