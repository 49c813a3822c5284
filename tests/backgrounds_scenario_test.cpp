// Background swaps after the first page (the new picture laid underneath at full strength, the
// layer in front faded out in 0.1 s) and the tab bar's show and hide with the web view's height.

#include "support/Timeline.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;
using timeline::command;
using timeline::expectAt;
using timeline::frame;
using timeline::Intro;
using timeline::kBase;
using timeline::kFirstPageShownIntroOff;
using timeline::run;

const std::string kSampleSwap = "state\nwait 0.05\nstate\nwait 0.05\nstate\nwait 0.1\n";

// A swap at `at` lays `picture` on `showing`, sends that layer to the back and fades the other out.
void expectSwap(const scenario::Transcript& t, double at, const std::string& showing, const json& picture)
{
    const std::string fading = showing == "imageViewBg" ? "secondImageViewBg" : "imageViewBg";
    const std::string in = "/backgrounds/" + showing, out = "/backgrounds/" + fading;
    SCOPED_TRACE("swap at " + std::to_string(at) + " to " + showing);
    expectAt(t, at, {{in + "/image", picture}, {in + "/alpha", 1.0}, {out + "/alpha", 1.0}, {"/backgrounds/rearmost", showing},
                     {"/page/secondImageViewShown", showing == "secondImageViewBg"}});
    expectAt(t, at + 0.05, {{in + "/alpha", 1.0}, {out + "/alpha", 0.5}});
    expectAt(t, at + 0.1, {{in + "/image", picture}, {in + "/alpha", 1.0}, {out + "/alpha", 0.0}});
}

TEST(BackgroundsScenario, FinishedLoadsAndPageCommandsCrossFadeToTheirPictures)
{
    const auto t = run(kFirstPageShownIntroOff + "navigate " + kBase + "fight.php?showAttackBg=true\nwait 0.5\nfinish\n" + kSampleSwap +
                           "navigate " + kBase + "bank.php\nwait 0.3\nfinish\n" + kSampleSwap +
                           // The same picture twice still fades twice; a missing one leaves its layer empty.
                           command("changeBgInstant=bg_bank.jpg") + kSampleSwap + command("changeBgInstant=bg_bank.jpg") +
                           kSampleSwap + command("changeBgInstant=no_such_picture.jpg") + kSampleSwap,
                       Intro::Off);
    expectAt(t, 3.5, {{"/webView/hidden", false}, {"/webView/alpha", 1.0}});
    expectSwap(t, 3.5, "imageViewBg", "bg_fight.jpg");
    expectSwap(t, 4.0, "secondImageViewBg", "bg_bank.jpg");
    expectSwap(t, 4.2, "imageViewBg", "bg_bank.jpg");
    expectSwap(t, 4.4, "secondImageViewBg", "bg_bank.jpg");
    expectSwap(t, 4.6, "imageViewBg", nullptr);
}

TEST(BackgroundsScenario, TabBarShowAndHideResizeTheWebViewOnlyWhenTheBarChanges)
{
    const std::vector<std::pair<std::string, bool>> steps = { // URL, hidden afterwards
        {"x.php?hideTabBar=true&stopLoad=true", true}, // already hidden: the size it was made with
        {"x.php?showTabBar=true&stopLoad=true", false}, {"x.php?showTabBar=true&stopLoad=true", false},
        {"x.php?hideTabBar=true&stopLoad=true", true},  {"x.php?hideTabBar=true&stopLoad=true", true},
        {"cars.php?showCarsBg=true", false},           {"register.php", true},
        {"missions.php?showMissionsBg=true", false},
    };
    std::string script = kFirstPageShownIntroOff + "state\n";
    for (const auto& [url, hidden] : steps)
        script += "wait 0.1\nnavigate " + kBase + url + "\nstate\n";
    const auto t = run(script, Intro::Off);
    const json barAlpha = timeline::stateAt(t, 3.0)["tabBar"]["alpha"];
    for (size_t i = 0; i < steps.size(); ++i) {
        const bool hidden = steps[i].second;
        SCOPED_TRACE(steps[i].first + " (step " + std::to_string(i) + ")");
        // Showing and hiding never fade the bar.
        expectAt(t, 3.0 + 0.1 * static_cast<double>(i + 1), {{"/tabBar/hidden", hidden}, {"/page/showTabBar", !hidden},
                  {"/webView/frame", frame(0, 0, 320, i == 0 ? 480 : hidden ? 460 : 410)}, {"/tabBar/alpha", barAlpha}});
    }
}

} // namespace
