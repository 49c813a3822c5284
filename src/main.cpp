// Process entry: wires the application's classes to the backend and hands over control.
#include "app/GameServer.h"
#include "app/MainAppDelegate.h"
#include "app/MainViewController.h"
#include "app/RecruitState.h"
#include "app/ScreenState.h"
#include "backend/headless/Runner.h"
#ifdef STREET_DESKTOP
#include "backend/gtk/Runner.h"
#endif
#include "kit/Bundle.h"
#include "kit/Object.h"
#include "tools/Subcommands.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (auto status = street::tools::runSubcommand(argc, argv))
        return *status;
#ifdef STREET_DESKTOP
    constexpr bool desktop = true;
#else
    constexpr bool desktop = false;
#endif
    auto parsed = backend::headless::parseCommandLine(argc, argv, desktop);
    if (!parsed.options) {
        std::fputs(parsed.message.c_str(), parsed.exitCode == 0 ? stdout : stderr);
        return parsed.exitCode;
    }

    backend::headless::AppHooks hooks;
    hooks.mainInterface = "MainWindow";
    hooks.defaultResourceDirectory = kit::Bundle::installedResourceDirectory(STREET_RESOURCES_DIR);
    hooks.registerClasses = [] {
        kit::ClassRegistry::registerClass("MainAppDelegate", [] { return std::make_shared<street::MainAppDelegate>(); });
        kit::ClassRegistry::registerClass("MainViewController", [] { return std::make_shared<street::MainViewController>(); });
        street::registerRecruitClasses();
    };
    hooks.setServer = [](const std::string& host) { street::GameServer::setHost(host); };
    hooks.setTrustedHosts = [](const std::vector<std::string>& hosts) { street::GameServer::setTrustedHosts(hosts); };
    hooks.snapshot = [] {
        auto state = street::ScreenState::snapshot();
        state["recruit"] = street::recruitStateJson();
        return state;
    };
#ifdef STREET_DESKTOP
    if (!parsed.options->headless)
        return backend::gtk::run(*parsed.options, hooks);
#endif
    return backend::headless::run(*parsed.options, hooks);
}
