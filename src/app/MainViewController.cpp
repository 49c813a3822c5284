#include "app/MainViewController.h"

#include "app/GameServer.h"
#include "app/Util.h"
#include "app/WebViewDelegate.h"
#include "kit/Device.h"
#include "kit/URL.h"

namespace street {

std::string MainViewController::entryURL(const std::string& scheme, const std::string& host, const std::string& udid, const std::string& model,
                                         const std::string& systemVersion)
{
    std::string signature = Util::md5(udid + ":" + signatureSalt + ":" + std::to_string(fpts));
    std::string path = std::string("/points.php?version=") + clientVersion + versionSuffix + "&udid=" + udid
        + "&pf=" + signature + "&fpts=" + std::to_string(fpts) + "&model=" + model + "&sv=" + systemVersion;
    return kit::URL::URLWithSchemeHostPath(scheme, host, path);
}

const char* MainViewController::pageForTitle(const std::optional<std::string>& title)
{
    if (title == "Street")
        return "missions.php?showMissionsBg=true";
    if (title == "Race")
        return "fight.php?showAttackBg=true";
    if (title == "Cars")
        return "cars.php?showCarsBg=true";
    if (title == "Recruit")
        return "group.php?showGroupBg=true";
    return "home.php?showHomeBg=true";
}

void MainViewController::viewDidLoad()
{
    kit::ViewController::viewDidLoad();
    if (mainTabBar_ && !mainTabBar_->items().empty())
        mainTabBar_->setSelectedItem(mainTabBar_->items().front().get());

    auto secondImageViewBg = std::make_shared<kit::ImageView>(kit::Rect(0, 0, 320, 480));
    secondImageViewBg->setAlpha(0.0);

    const auto& device = kit::Device::currentDevice();
    std::string url = entryURL(GameServer::scheme(), GameServer::host(), device.uniqueIdentifier(), device.model(), device.systemVersion());

    if (mainTabBar_)
        mainTabBar_->setHidden(true);

    mainWebView_ = std::make_shared<kit::WebView>(kit::Rect(0, 0, 320, 480));
    mainWebView_->setHidden(true);
    mainWebView_->setBackgroundColor(kit::Color::clearColor());
    mainWebView_->setOpaque(false);
    mainWebView_->setAlpha(0.0);
    mainWebView_->setDetectsPhoneNumbers(false);

    pageDelegate_ = std::make_shared<WebViewDelegate>();
    pageDelegate_->setParentTabBar(mainTabBar_);
    pageDelegate_->setActivityIndicatorView(activityIndicatorView_);
    if (activityIndicatorView_)
        activityIndicatorView_->stopAnimating();
    pageDelegate_->setImageViewBg(imageViewBg_);
    pageDelegate_->setSecondImageViewBg(secondImageViewBg);
    pageDelegate_->setParentWebView(mainWebView_);
    pageDelegate_->setParentMainViewController(this);

    mainWebView_->setDelegate(pageDelegate_.get());
    mainWebView_->loadRequest(kit::URLRequest::requestWithURL(url));

    auto mainView = view();
    mainView->addSubview(secondImageViewBg);
    mainView->sendSubviewToBack(*secondImageViewBg);
    if (activityIndicatorView_)
        mainView->bringSubviewToFront(*activityIndicatorView_);
}

void MainViewController::didSelectItem(kit::TabBar&, kit::TabBarItem& item)
{
    std::string suffix;
    if (deviceToken_) {
        suffix = "&dt=" + Util::base64EncodingWithLineLength(std::span<const std::uint8_t>(*deviceToken_));
        deviceToken_.reset();
    }
    std::string text = GameServer::baseURL() + "/" + pageForTitle(item.title()) + suffix;
    if (auto url = kit::URL::URLWithString(text); url && mainWebView_)
        mainWebView_->loadRequest(kit::URLRequest::requestWithURL(*url));
}

bool MainViewController::setOutlet(const std::string& name, const std::shared_ptr<kit::Object>& target)
{
    if (name == "mainTabBar")
        return kit::connectOutlet(mainTabBar_, target);
    if (name == "imageViewBg")
        return kit::connectOutlet(imageViewBg_, target);
    if (name == "activityIndicatorView")
        return kit::connectOutlet(activityIndicatorView_, target);
    return kit::ViewController::setOutlet(name, target);
}

} // namespace street
