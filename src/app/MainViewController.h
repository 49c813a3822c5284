#pragma once

#include "kit/ActivityIndicatorView.h"
#include "kit/ImageView.h"
#include "kit/TabBar.h"
#include "kit/ViewController.h"
#include "kit/WebView.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace street {

class WebViewDelegate;

// The one game screen: two background layers, the web view, the tab bar and the indicator.
// Starts the game with the signed entry request and loads each tab's page.
class MainViewController : public kit::ViewController, public kit::TabBarDelegate {
public:
    static constexpr const char* clientVersion = "1.53";
    static constexpr const char* versionSuffix = "";
    static constexpr int fpts = 45;
    static constexpr const char* signatureSalt = "BrightPlume27k";

    const std::shared_ptr<kit::TabBar>& mainTabBar() const { return mainTabBar_; }
    void setMainTabBar(std::shared_ptr<kit::TabBar> v) { mainTabBar_ = std::move(v); }
    const std::shared_ptr<kit::ImageView>& imageViewBg() const { return imageViewBg_; }
    void setImageViewBg(std::shared_ptr<kit::ImageView> v) { imageViewBg_ = std::move(v); }
    const std::shared_ptr<kit::WebView>& mainWebView() const { return mainWebView_; }
    void setMainWebView(std::shared_ptr<kit::WebView> v) { mainWebView_ = std::move(v); }
    const std::shared_ptr<kit::ActivityIndicatorView>& activityIndicatorView() const { return activityIndicatorView_; }
    void setActivityIndicatorView(std::shared_ptr<kit::ActivityIndicatorView> v) { activityIndicatorView_ = std::move(v); }
    const std::optional<std::vector<std::uint8_t>>& deviceToken() const { return deviceToken_; }
    void setDeviceToken(std::optional<std::vector<std::uint8_t>> token) { deviceToken_ = std::move(token); }

    // The page delegate, which lives as long as the process.
    const std::shared_ptr<WebViewDelegate>& pageDelegate() const { return pageDelegate_; }

    void viewDidLoad() override;
    void didSelectItem(kit::TabBar&, kit::TabBarItem& item) override;

    // The entry request's URL text for a device.
    static std::string entryURL(const std::string& scheme, const std::string& host, const std::string& udid,
                                const std::string& model, const std::string& systemVersion);
    // The page text for a tab item's title.
    static const char* pageForTitle(const std::optional<std::string>& title);

    bool setOutlet(const std::string& name, const std::shared_ptr<kit::Object>& target) override;

private:
    std::shared_ptr<kit::TabBar> mainTabBar_;
    std::shared_ptr<kit::ImageView> imageViewBg_;
    std::shared_ptr<kit::WebView> mainWebView_;
    std::shared_ptr<kit::ActivityIndicatorView> activityIndicatorView_;
    std::optional<std::vector<std::uint8_t>> deviceToken_;
    std::shared_ptr<WebViewDelegate> pageDelegate_;
};

} // namespace street
