#include "shell/Launch.h"

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
#include "kit/Platform.h"
#include "kit/RunLoop.h"
#include "kit/URLConnection.h"
#include "kit/UserDefaults.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace shell {

namespace {

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

std::string deviceIdentifier(const Options& options)
{
    if (options.udid)
        return *options.udid;
    std::string id = kit::DeviceIdentity::identifierFromMachineId();
    return id.empty() ? kit::DeviceIdentity::identifierForMachineId("unknown") : id;
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

kit::RunLoop::Clock runLoopClock(ClockKind clock)
{
    return clock == ClockKind::Virtual ? kit::RunLoop::Clock::Virtual : kit::RunLoop::Clock::Real;
}

void configureKit(const Options& options, const AppHooks& hooks, bool fetchesPages)
{
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
    std::optional<std::string> server = options.server;
    if (fetchesPages && hooks.demoServer)
        if (auto demo = hooks.demoServer())
            server = std::move(demo);
    if (server && hooks.setServer)
        hooks.setServer(*server);
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
}

bool openTranscript(const Options& options, std::unique_ptr<TranscriptWriter>& transcript)
{
    if (!options.transcript)
        return true;
    std::string error;
    transcript = TranscriptWriter::open(*options.transcript, &error);
    if (!transcript)
        std::fprintf(stderr, "street-client: %s\n", error.c_str());
    return transcript != nullptr;
}

bool launch(const AppHooks& hooks)
{
    kit::InterfaceLoader::registerKitClasses();
    if (hooks.registerClasses)
        hooks.registerClasses();
    return kit::ApplicationMain(hooks.mainInterface);
}

void finishKit(kit::PlatformSession& session)
{
    // The platform saves the user defaults when the application ends; then everything the
    // application holds goes, while the run loop and the kit it relies on are still here.
    kit::UserDefaults::resetStandardUserDefaults();
    kit::URLConnection::clearQueuedReplies();
    session.end();
}

} // namespace shell
