#include "app/ScreenState.h"

#include "app/ConfigSettings.h"
#include "app/MainAppDelegate.h"
#include "app/MainViewController.h"
#include "app/WebViewDelegate.h"
#include "kit/AlertView.h"
#include "kit/Application.h"
#include "kit/FocusModel.h"
#include "kit/UserDefaults.h"

#include <cmath>

namespace street {

namespace {

using nlohmann::json;

double rounded(double alpha) { return std::round(alpha * 1000.0) / 1000.0; }

json textOrNull(const std::optional<std::string>& text) { return text ? json(*text) : json(nullptr); }

json frameOf(const kit::View& view)
{
    auto f = view.frame();
    return json::array({f.origin.x, f.origin.y, f.size.width, f.size.height});
}

json layer(const std::shared_ptr<kit::ImageView>& view)
{
    if (!view)
        return nullptr;
    return {{"image", view->image() ? json(view->image()->name()) : json(nullptr)},
            {"alpha", rounded(view->alpha())},
            {"hidden", view->isHidden()}};
}

size_t indexIn(const kit::View& view)
{
    if (!view.superview())
        return SIZE_MAX;
    const auto& siblings = view.superview()->subviews();
    for (size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == &view)
            return i;
    return SIZE_MAX;
}

json pageFlags(const WebViewDelegate::PageState& s)
{
    return {{"firstLoad", s.firstLoad},
            {"started", s.started},
            {"loading", s.loading},
            {"showTabBar", s.showTabBar},
            {"introAnimationCompleted", s.introAnimationCompleted},
            {"introSequenceCompleted", s.introSequenceCompleted},
            {"isUnableToReachInternet", s.isUnableToReachInternet},
            {"unableToReachInternetDeferred", s.unableToReachInternetDeferred},
            {"secondImageViewShown", s.secondImageViewShown},
            {"showWebViewDelayed", s.showWebViewDelayed},
            {"lastPageLoadedWasLanding", s.lastPageLoadedWasLanding},
            {"bgToLoad", textOrNull(s.bgToLoad)},
            {"bgInterstitialToLoad", textOrNull(s.bgInterstitialToLoad)},
            {"pushNotificationDeferred", s.pushNotificationDeferred},
            {"btn0JS", textOrNull(s.btn0JS)},
            {"btn1JS", textOrNull(s.btn1JS)},
            {"errorMessageDeferred", textOrNull(s.errorMessageDeferred)},
            {"soundFileAIFDeferred", textOrNull(s.soundFileAIFDeferred)},
            {"soundFileCAFDeferred", textOrNull(s.soundFileCAFDeferred)},
            {"timerIndicator", static_cast<bool>(s.timerIndicator)}};
}

} // namespace

nlohmann::json ScreenState::snapshot()
{
    json state = json::object();
    auto& application = kit::Application::sharedApplication();
    auto* appDelegate = dynamic_cast<MainAppDelegate*>(application.delegate());
    auto controller = appDelegate ? appDelegate->viewController() : nullptr;
    auto page = controller ? controller->pageDelegate() : nullptr;

    if (auto tabBar = controller ? controller->mainTabBar() : nullptr) {
        json badges = json::array();
        for (const auto& item : tabBar->items())
            badges.push_back(textOrNull(item->badgeValue()));
        auto selected = tabBar->selectedIndex();
        state["tabBar"] = {{"hidden", tabBar->isHidden()},
                           {"alpha", rounded(tabBar->alpha())},
                           {"selected", selected ? json(*selected) : json(nullptr)},
                           {"badges", badges}};
    } else {
        state["tabBar"] = nullptr;
    }

    if (auto webView = controller ? controller->mainWebView() : nullptr) {
        state["webView"] = {{"inView", webView->superview() != nullptr},
                            {"hidden", webView->isHidden()},
                            {"alpha", rounded(webView->alpha())},
                            {"frame", frameOf(*webView)},
                            {"url", textOrNull(webView->url())}};
    } else {
        state["webView"] = nullptr;
    }

    if (page) {
        auto first = page->imageViewBg();
        auto second = page->secondImageViewBg();
        const char* rearmost = "imageViewBg";
        if (first && second && indexIn(*second) < indexIn(*first))
            rearmost = "secondImageViewBg";
        state["backgrounds"] = {{"imageViewBg", layer(first)}, {"secondImageViewBg", layer(second)}, {"rearmost", rearmost}};
    } else {
        state["backgrounds"] = nullptr;
    }

    if (auto indicator = controller ? controller->activityIndicatorView() : nullptr) {
        auto center = indicator->center();
        bool front = indicator->superview() && indicator->superview()->subviews().back().get() == indicator.get();
        state["indicator"] = {{"animating", indicator->isAnimating()}, {"center", json::array({center.x, center.y})}, {"front", front}};
    } else {
        state["indicator"] = nullptr;
    }

    json alerts = json::array();
    for (const auto& alert : kit::AlertView::visibleAlerts())
        alerts.push_back({{"title", textOrNull(alert->title())},
                          {"message", textOrNull(alert->message())},
                          {"buttons", alert->buttonTitles()},
                          {"tag", alert->tag()}});
    state["alerts"] = alerts;

    auto modal = kit::ViewController::frontmostModal();
    state["modal"] = modal ? json(modal->nibName()) : json(nullptr);

    state["settings"] = {{"soundEnabled", ConfigSettings::soundEnabled()},
                         {"introAnimationEnabled", ConfigSettings::introAnimationEnabled()},
                         {"nameString", textOrNull(kit::UserDefaults::standardUserDefaults().stringForKey("nameString"))}};
    state["iconBadge"] = application.applicationIconBadgeNumber();
    state["page"] = page ? pageFlags(page->state()) : json(nullptr);
    state["focus"] = kit::FocusModel::describe();
    return state;
}

} // namespace street
