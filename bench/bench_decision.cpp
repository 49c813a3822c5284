// One full decision of the command bridge (commands, page table, tab bar, load state) for a
// typical command URL and for a very long one.
#include "app/MainViewController.h"
#include "app/WebViewDelegate.h"
#include "kit/Bundle.h"
#include "kit/RunLoop.h"

#include <benchmark/benchmark.h>

namespace {

struct Screen {
    std::shared_ptr<kit::TabBar> tabBar = std::make_shared<kit::TabBar>();
    std::shared_ptr<kit::WebView> webView = std::make_shared<kit::WebView>(kit::Rect(0, 0, 320, 480));
    std::shared_ptr<street::WebViewDelegate> page;

    Screen()
    {
        kit::RunLoop::resetMain(kit::RunLoop::Clock::Virtual);
        kit::Bundle::setResourceDirectory(STREET_RESOURCES_DIR);
        std::vector<std::shared_ptr<kit::TabBarItem>> items;
        for (const char* title : {"Home", "Street", "Race", "Cars", "Recruit"})
            items.push_back(std::make_shared<kit::TabBarItem>(title));
        tabBar->setItems(items);
        page = std::make_shared<street::WebViewDelegate>();
        page->setParentTabBar(tabBar);
        page->setParentWebView(webView);
    }
};

std::string typicalURL()
{
    // About 300 bytes, 12 pairs, the page name near the end of the table.
    std::string url = "http://127.0.0.1:8642/settings.php?uid=1234567&session=abcdef0123456789abcdef0123456789"
                      "&setTab1Badge=3&setTab2Badge=&showTabBar=true&changeBgAfterLoad=bg_other.jpg"
                      "&ref=home&lang=en&ts=1700000000&view=full&token=QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo%3D"
                      "&sig=0123456789ABCDEF0123456789ABCDEF&last=1";
    return url;
}

// A load that a game page starts, so that its commands run.
kit::URLRequest gamePageLoad(std::string url)
{
    kit::URLRequest request = kit::URLRequest::requestWithURL(std::move(url));
    request.navigation.startingDocument = "http://127.0.0.1:8642/home.php";
    return request;
}

void BM_DecisionTypical(benchmark::State& state)
{
    Screen screen;
    kit::URLRequest request = gamePageLoad(typicalURL());
    for (auto _ : state)
        benchmark::DoNotOptimize(screen.page->shouldStartLoadWithRequest(*screen.webView, request, kit::NavigationType::LinkClicked));
    state.SetLabel(std::to_string(request.url.size()) + " bytes");
}
BENCHMARK(BM_DecisionTypical);

void BM_DecisionLong(benchmark::State& state)
{
    Screen screen;
    std::string url = typicalURL();
    url.reserve(static_cast<size_t>(state.range(0)) + 64);
    for (int i = 0; url.size() < static_cast<size_t>(state.range(0)); ++i)
        url += "&p" + std::to_string(i) + "=value" + std::to_string(i);
    kit::URLRequest request = gamePageLoad(url);
    for (auto _ : state)
        benchmark::DoNotOptimize(screen.page->shouldStartLoadWithRequest(*screen.webView, request, kit::NavigationType::LinkClicked));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(url.size()));
}
BENCHMARK(BM_DecisionLong)->RangeMultiplier(4)->Range(1 << 10, 1 << 16);

} // namespace

BENCHMARK_MAIN();
