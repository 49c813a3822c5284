#pragma once

#include "kit/Application.h"
#include "kit/MoviePlayerController.h"
#include "kit/Window.h"

#include <memory>
#include <optional>
#include <string>

namespace street {

class MainViewController;

// Launch: audio, the intro movie, the main screen in the window, the end of the intro, the
// icon badge and the push token.
class MainAppDelegate : public kit::Object, public kit::ApplicationDelegate {
public:
    ~MainAppDelegate() override;

    const std::shared_ptr<kit::Window>& window() const { return window_; }
    void setWindow(std::shared_ptr<kit::Window> window) { window_ = std::move(window); }
    const std::shared_ptr<MainViewController>& viewController() const { return viewController_; }
    void setViewController(std::shared_ptr<MainViewController> controller) { viewController_ = std::move(controller); }
    const std::shared_ptr<kit::MoviePlayerController>& moviePlayer() const { return moviePlayer_; }
    void setMoviePlayer(std::shared_ptr<kit::MoviePlayerController> player) { moviePlayer_ = std::move(player); }

    void applicationDidFinishLaunching(kit::Application& application) override;
    bool isVibrateModeOn();
    void initAndPlayMovie(const std::optional<std::string>& path);
    void moviePreloadDidFinish();
    void moviePlayBackDidFinish();
    void didRegisterForRemoteNotificationsWithDeviceToken(kit::Application&, const std::vector<std::uint8_t>& token) override;
    void didFailToRegisterForRemoteNotificationsWithError(kit::Application&, const kit::Error&) override {}

    bool setOutlet(const std::string& name, const std::shared_ptr<kit::Object>& target) override;

private:
    std::shared_ptr<kit::Window> window_;
    std::shared_ptr<MainViewController> viewController_;
    std::shared_ptr<kit::MoviePlayerController> moviePlayer_;
    bool introEnded_ = false;
};

} // namespace street
