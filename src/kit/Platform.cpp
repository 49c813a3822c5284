#include "kit/Platform.h"

#include "kit/AlertView.h"
#include "kit/Application.h"
#include "kit/AudioServices.h"
#include "kit/CertificateAuthorities.h"
#include "kit/CookieJar.h"
#include "kit/Events.h"
#include "kit/FocusModel.h"
#include "kit/NotificationCenter.h"
#include "kit/URLConnection.h"

namespace kit {

namespace {

void resetProcess(RunLoop::Clock clock, Platform::Network network)
{
    setEventSink(nullptr);
    FocusModel::setObserver(nullptr);
    FocusModel::setPageTakesKeys(false);
    AlertView::setPresenter(nullptr);
    AlertView::dismissAll();
    URLConnection::setWaiter(nullptr);
    Application::reset();
    NotificationCenter::defaultCenter().reset();
    AudioServices::reset();
    AudioServices::setPlayer(nullptr);
    WebView::setEngineFactory(nullptr);
    MoviePlayerController::setPeerFactory(nullptr);
    AddressBook::setSource(nullptr);
    if (network == Platform::Network::Reset) {
        CookieJar::resetShared();
        CertificateAuthorities::reset();
    }
    RunLoop::resetMain(clock);
}

} // namespace

PlatformSession::PlatformSession(Platform platform)
    : network_(platform.network)
{
    resetProcess(platform.clock, platform.network);
    if (platform.runLoopDriver)
        RunLoop::main().setDriver(platform.runLoopDriver(RunLoop::main()));
    WebView::setEngineFactory(std::move(platform.engines));
    MoviePlayerController::setPeerFactory(std::move(platform.movies));
    AddressBook::setSource(std::move(platform.addressBook));
    setEventSink(platform.events);
    AlertView::setPresenter(platform.alerts);
}

void PlatformSession::end()
{
    if (std::exchange(ended_, true))
        return;
    resetProcess(RunLoop::Clock::Virtual, network_);
}

} // namespace kit
