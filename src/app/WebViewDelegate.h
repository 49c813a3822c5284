#pragma once

#include "app/DecisionObserver.h"
#include "kit/ActivityIndicatorView.h"
#include "kit/AlertView.h"
#include "kit/AudioServices.h"
#include "kit/ImageView.h"
#include "kit/TabBar.h"
#include "kit/Timer.h"
#include "kit/WebView.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace street {

class MainViewController;

// The page delegate: the command bridge every load passes, page alerts and sounds, the page-load
// lifecycle with its failure alerts, background swaps, the end of the intro and the tab bar.
// There is exactly one per process; its flags live in one PageState.
class WebViewDelegate : public kit::Object, public kit::WebViewDelegate, public kit::AlertViewDelegate {
public:
    struct PageState {
        std::optional<std::string> errorMessageDeferred;
        bool isUnableToReachInternet = false;
        bool unableToReachInternetDeferred = false;
        std::optional<std::string> soundFileCAFDeferred;
        std::optional<std::string> soundFileAIFDeferred;
        std::int32_t pushNotificationDeferred = 0;
        bool started = false;
        bool introSequenceCompleted = false;
        bool introAnimationCompleted = false;
        std::shared_ptr<kit::Timer> timerIndicator;
        std::optional<std::string> btn1JS;
        std::optional<std::string> btn0JS;
        std::optional<std::string> bgInterstitialToLoad;
        std::optional<std::string> bgToLoad = std::string("bg_default.jpg");
        bool lastPageLoadedWasLanding = false;
        bool loading = true;
        bool secondImageViewShown = false;
        bool showWebViewDelayed = false;
        bool firstLoad = true;
        bool showTabBar = false;
        kit::SystemSoundID tapSound = 0;
        kit::SystemSoundID soundToPlay = 0;
    };

    // init: creates the tap sound.
    WebViewDelegate();

    const std::shared_ptr<kit::TabBar>& parentTabBar() const { return parentTabBar_; }
    void setParentTabBar(std::shared_ptr<kit::TabBar> v) { parentTabBar_ = std::move(v); }
    const std::shared_ptr<kit::ImageView>& imageViewBg() const { return imageViewBg_; }
    void setImageViewBg(std::shared_ptr<kit::ImageView> v) { imageViewBg_ = std::move(v); }
    const std::shared_ptr<kit::ImageView>& secondImageViewBg() const { return secondImageViewBg_; }
    void setSecondImageViewBg(std::shared_ptr<kit::ImageView> v) { secondImageViewBg_ = std::move(v); }
    const std::shared_ptr<kit::ActivityIndicatorView>& activityIndicatorView() const { return activityIndicatorView_; }
    void setActivityIndicatorView(std::shared_ptr<kit::ActivityIndicatorView> v) { activityIndicatorView_ = std::move(v); }
    const std::shared_ptr<kit::WebView>& parentWebView() const { return parentWebView_; }
    void setParentWebView(std::shared_ptr<kit::WebView> v) { parentWebView_ = std::move(v); }
    // The main screen outlives its page delegate's every use; it is not owned here.
    MainViewController* parentMainViewController() const { return parentMainViewController_; }
    void setParentMainViewController(MainViewController* v) { parentMainViewController_ = v; }

    const PageState& state() const { return state_; }

    // Who hears how each load is decided (not owned; none by default).
    void setDecisionObserver(DecisionObserver* observer) { observer_ = observer; }
    // Every key word the command bridge and the page alerts look for, in the order they run.
    static std::span<const char* const> commandKeyWords();

    // The command bridge.
    bool shouldStartLoadWithRequest(kit::WebView&, const kit::URLRequest& request, kit::NavigationType) override;

    // Page alerts, vibration and sounds.
    void processAlertParameters(const std::string& url);
    void clickedButtonAtIndex(kit::AlertView&, int index) override;
    void playSoundDelayed();

    // The page-load lifecycle.
    void webViewDidStartLoad(kit::WebView& webView) override;
    void webViewDidFinishLoad(kit::WebView& webView) override;
    void webViewDidFinishLoadCore(kit::WebView& webView);
    void didFailLoadWithError(kit::WebView& webView, const kit::Error& error) override;
    void checkIfLoadFinished();
    void showWebView();
    void showIndicator();
    void hideIndicators();
    void unableToReachInternet();
    void showUnknownErrorAlert(const std::string& message);
    void processTransactionResponse(const std::string& text);

    // Backgrounds, the intro and the tab bar.
    void changeBg(const std::optional<std::string>& name);
    void hideTabBar();
    void showTabBar();
    void completeIntroAnimations();
    void completeIntroSequence();
    void fadeAnimationDone();

    // The store's product pages live under this https address.
    static constexpr const char* storeBaseAddress = "https://store.example.com";

private:
    struct PageRow;
    static const PageRow pageTable[];

    enum class OutsideLink { Opened, NotAURL, Refused };

    void runPageTable(const std::string& url, bool& refuse);
    // Whether the key word is in the URL and its command may run (mayRun).
    bool command(std::string_view url, std::string_view key);
    // Why the commands of the load being decided may not run: the host it leads to, and the host
    // of the document or redirect hop that led there (none: the client itself).
    struct Untrusted {
        std::string host;
        std::optional<std::string> from;
        bool targetForeign = false;
    };
    // None when the load's commands may run: its URL is the game's, and so is whatever led there
    // (the client itself, or a game page, through game pages only).
    static std::optional<Untrusted> untrustedSource(const kit::URLRequest& request);
    // False, with an ignored-command event, while an untrusted load is decided.
    bool mayRun(std::string_view key);
    std::string describe(const PageRow& row) const;
    std::string namedSoundEffect(const std::optional<std::string>& name, const char* type) const;
    OutsideLink openOutsideURL(const std::optional<std::string>& text);
    void openOutsideLinkCommand(std::string_view keyWord, const std::optional<std::string>& value, const std::string& link);
    std::shared_ptr<kit::AlertView> showAlert(std::optional<std::string> title, std::optional<std::string> message,
                                              std::optional<std::string> cancel, std::optional<std::string> other);
    // Tells the observer about a command; the effect text is only made when someone listens.
    template <class MakeEffect>
    void report(std::string_view keyWord, const std::optional<std::string>* value, MakeEffect makeEffect);
    bool answer(bool allow, const char* why);
    void presentRecruit();
    void playOrDeferNamedSound(const std::optional<std::string>& name, const char* type,
                               std::optional<std::string>& deferred, std::optional<std::string>& otherDeferred);
    void revealFirstPage(kit::ImageView* background);
    void selectTab(std::optional<size_t> index);

    std::shared_ptr<kit::TabBar> parentTabBar_;
    std::shared_ptr<kit::ImageView> imageViewBg_;
    std::shared_ptr<kit::ImageView> secondImageViewBg_;
    std::shared_ptr<kit::ActivityIndicatorView> activityIndicatorView_;
    std::shared_ptr<kit::WebView> parentWebView_;
    MainViewController* parentMainViewController_ = nullptr;
    DecisionObserver* observer_ = nullptr;
    PageState state_;
    // Set while a load whose commands may not run is decided.
    std::optional<Untrusted> untrusted_;
};

} // namespace street
