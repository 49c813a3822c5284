#include "tools/PageSandbox.h"

#include "app/GameServer.h"
#include "app/WebViewDelegate.h"
#include "kit/Application.h"
#include "kit/Platform.h"
#include "kit/TabBar.h"
#include "kit/UserDefaults.h"
#include "kit/WebView.h"

#include <cstdlib>
#include <filesystem>

namespace street::tools {

namespace {

// A fresh kit for each page, as a game's first start has it; the command line's network
// settings (--ca-file) stay for the pages still to be fetched.
kit::Platform pagePlatform()
{
    kit::Platform platform;
    platform.network = kit::Platform::Network::Keep;
    return platform;
}

void offerEverything()
{
    auto& application = kit::Application::sharedApplication();
    application.setOffersPushRegistration(true);
    application.setOffersIconBadge(true);
    application.setURLOpener([](const std::string&) { return true; });
    application.setPushRegistrar([](int) {});
}

} // namespace

PageSandbox::PageSandbox()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "street-explain-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return;
    dataDir_ = pattern;
    previousDataDir_ = kit::UserDefaults::dataDirectory();
    kit::UserDefaults::setDataDirectory(dataDir_);
}

PageSandbox::~PageSandbox()
{
    if (dataDir_.empty())
        return;
    kit::UserDefaults::setDataDirectory(previousDataDir_);
    std::error_code ignored;
    std::filesystem::remove_all(dataDir_, ignored);
}

Explanation PageSandbox::explain(const std::string& url, Explanation::Phase phase,
                                 const std::optional<std::string>& startingDocument)
{
    Explanation explanation(url, phase);
    {
        kit::PlatformSession session(pagePlatform());
        offerEverything();
        auto tabBar = std::make_shared<kit::TabBar>();
        std::vector<std::shared_ptr<kit::TabBarItem>> items;
        for (int i = 0; i < 5; ++i)
            items.push_back(std::make_shared<kit::TabBarItem>());
        tabBar->setItems(std::move(items));
        auto webView = std::make_shared<kit::WebView>(kit::Rect(0, 0, 320, 480));
        auto page = std::make_shared<WebViewDelegate>();
        page->setParentTabBar(tabBar);
        page->setParentWebView(webView);
        if (phase == Explanation::Phase::Started) {
            // The way a real run gets there: the intro ends, the first page finishes loading and
            // the intro sequence shows it.
            page->completeIntroAnimations();
            page->webViewDidFinishLoad(*webView);
            page->completeIntroSequence();
        } else {
            // The entry request has hidden the tab bar by the time a page can ask for anything.
            tabBar->setHidden(true);
        }
        page->setDecisionObserver(&explanation);
        auto request = kit::URLRequest::requestWithURL(url);
        request.navigation.startingDocument = startingDocument.value_or(GameServer::baseURL() + "/");
        bool allowed = page->shouldStartLoadWithRequest(*webView, request, kit::NavigationType::LinkClicked);
        page->setDecisionObserver(nullptr);
        if (allowed && !kit::WebView::loadsURL(url))
            explanation.decided(false, "only http and https pages load (and the about:blank, about:srcdoc, data: and blob: "
                                       "documents of a page's own frames): the page table has applied, then the load is "
                                       "refused");
        explanation.finish(*page, *tabBar);
    }
    return explanation;
}

} // namespace street::tools
