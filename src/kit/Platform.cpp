#include "kit/Platform.h"

#include "kit/AddressBook.h"
#include "kit/AlertView.h"
#include "kit/Application.h"
#include "kit/AudioServices.h"
#include "kit/CertificateAuthorities.h"
#include "kit/CookieJar.h"
#include "kit/Events.h"
#include "kit/FocusModel.h"
#include "kit/MoviePlayerController.h"
#include "kit/NotificationCenter.h"
#include "kit/URLConnection.h"
#include "kit/WebView.h"

namespace kit {

void Platform::reset(RunLoop::Clock clock, Network network)
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
    if (network == Network::Reset) {
        CookieJar::resetShared();
        CertificateAuthorities::reset();
    }
    RunLoop::resetMain(clock);
}

} // namespace kit
