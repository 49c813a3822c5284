#include "app/MainAppDelegate.h"

#include "app/ConfigSettings.h"
#include "app/MainViewController.h"
#include "app/WebViewDelegate.h"
#include "kit/AudioServices.h"
#include "kit/Bundle.h"
#include "kit/NotificationCenter.h"

namespace street {

MainAppDelegate::~MainAppDelegate()
{
    auto& center = kit::NotificationCenter::defaultCenter();
    center.removeObserver(this, kit::MoviePlayerContentPreloadDidFinishNotification);
    center.removeObserver(this, kit::MoviePlayerPlaybackDidFinishNotification);
}

void MainAppDelegate::applicationDidFinishLaunching(kit::Application& application)
{
    kit::AudioServices::AudioSessionInitialize();
    bool intro = ConfigSettings::introAnimationEnabled();
    if (intro) {
        const char* movie = "halvex_v1";
        if (!ConfigSettings::soundEnabled() || isVibrateModeOn())
            movie = "halvex_no_sound_v1";
        initAndPlayMovie(kit::Bundle::mainBundle().pathForResource(movie, "m4v"));
    }
    if (window_ && viewController_)
        window_->addSubview(viewController_->view());
    if (window_)
        window_->makeKeyAndVisible();
    // Without a movie player nothing would ever end the intro, and the page would never come
    // on screen: end it now, as when the intro is off.
    if (!intro || !moviePlayer_)
        moviePlayBackDidFinish();
    if (application.respondsToSetApplicationIconBadgeNumber())
        application.setApplicationIconBadgeNumber(0);
}

bool MainAppDelegate::isVibrateModeOn()
{
    auto route = kit::AudioServices::audioRoute();
    return !(route && !route->empty());
}

void MainAppDelegate::initAndPlayMovie(const std::optional<std::string>& path)
{
    auto player = kit::MoviePlayerController::initWithContentURL(path.value_or(""));
    if (!player)
        return;
    player->setMovieControlMode(kit::MovieControlMode::Hidden);
    auto& center = kit::NotificationCenter::defaultCenter();
    center.addObserver(this, kit::MoviePlayerContentPreloadDidFinishNotification, [this] { moviePreloadDidFinish(); });
    center.addObserver(this, kit::MoviePlayerPlaybackDidFinishNotification, [this] { moviePlayBackDidFinish(); });
    moviePlayer_ = std::move(player);
}

void MainAppDelegate::moviePreloadDidFinish()
{
    if (moviePlayer_)
        moviePlayer_->play();
}

void MainAppDelegate::moviePlayBackDidFinish()
{
    if (introEnded_)
        return;
    introEnded_ = true;
    if (viewController_) {
        auto webView = viewController_->mainWebView();
        if (auto* page = webView ? dynamic_cast<WebViewDelegate*>(webView->delegate()) : nullptr)
            page->completeIntroAnimations();
    }
    if (moviePlayer_) {
        auto& center = kit::NotificationCenter::defaultCenter();
        center.removeObserver(this, kit::MoviePlayerContentPreloadDidFinishNotification);
        center.removeObserver(this, kit::MoviePlayerPlaybackDidFinishNotification);
    }
}

void MainAppDelegate::didRegisterForRemoteNotificationsWithDeviceToken(kit::Application&, const std::vector<std::uint8_t>& token)
{
    if (viewController_)
        viewController_->setDeviceToken(token);
}

bool MainAppDelegate::setOutlet(const std::string& name, const std::shared_ptr<kit::Object>& target)
{
    if (name == "window")
        return kit::connectOutlet(window_, target);
    if (name == "viewController")
        return kit::connectOutlet(viewController_, target);
    return false;
}

} // namespace street
