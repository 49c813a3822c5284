// Background swaps after the first page (a 0.1 s fade of the layer in front, the new picture laid
// underneath at full strength) and the tab bar's show and hide with the web view's height.

#include "support/Timeline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using nlohmann::json;
using timeline::alphaOf;
using timeline::frame;
using timeline::Intro;
using timeline::kBase;
using timeline::kFirstPageShownIntroOff;
using timeline::run;
using timeline::stateAt;

std::string instantBg(const std::string& name)
{
    return "navigate " + kBase + "x.php?changeBgInstant=" + name + "&stopLoad=true\n";
}

// After the first page the second layer shows; each swap lays the picture on the other layer,
// sends it to the back and fades the front one out.
struct Swap {
    std::string showing;  // the layer that shows afterwards
    std::string fading;   // the layer that fades out
    bool secondImageViewShown;
};
const Swap kToFirst{"imageViewBg", "secondImageViewBg", false};
const Swap kToSecond{"secondImageViewBg", "imageViewBg", true};

void expectSwap(const scenario::Transcript& t, double at, const Swap& swap, const json& picture)
{
    SCOPED_TRACE(testing::Message() << "swap at t=" << at << " to " << swap.showing);
    json s = stateAt(t, at);
    EXPECT_EQ(s["backgrounds"][swap.showing]["image"], picture);
    EXPECT_DOUBLE_EQ(alphaOf(s, swap.showing), 1.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, swap.fading), 1.0);
    EXPECT_EQ(s["backgrounds"]["rearmost"], swap.showing);
    EXPECT_EQ(s["page"]["secondImageViewShown"].get<bool>(), swap.secondImageViewShown);

    s = stateAt(t, at + 0.05);
    EXPECT_DOUBLE_EQ(alphaOf(s, swap.fading), 0.5);
    EXPECT_DOUBLE_EQ(alphaOf(s, swap.showing), 1.0);

    s = stateAt(t, at + 0.1);
    EXPECT_DOUBLE_EQ(alphaOf(s, swap.fading), 0.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, swap.showing), 1.0);
    EXPECT_EQ(s["backgrounds"][swap.showing]["image"], picture);
}

const std::string kSampleSwap = "state\nwait 0.05\nstate\nwait 0.05\nstate\nwait 0.1\n";

TEST(BackgroundsScenario, FinishedLoadsCrossFadeToTheirBackgroundsInATenthOfASecond)
{
    const auto t = run(kFirstPageShownIntroOff + "navigate " + kBase + "fight.php?showAttackBg=true\nwait 0.5\nfinish\n" +
                           kSampleSwap + "navigate " + kBase + "bank.php\nwait 0.3\nfinish\n" + kSampleSwap,
                       Intro::Off);

    json s = stateAt(t, 3.5);
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 1.0);
    expectSwap(t, 3.5, kToFirst, "bg_fight.jpg");
    expectSwap(t, 4.0, kToSecond, "bg_bank.jpg");
}

TEST(BackgroundsScenario, SameBackgroundTwiceFadesTwiceAndFlipsTheLayersBack)
{
    const auto t = run(kFirstPageShownIntroOff + instantBg("bg_bank.jpg") + kSampleSwap + instantBg("bg_bank.jpg") +
                           kSampleSwap,
                       Intro::Off);

    expectSwap(t, 3.0, kToFirst, "bg_bank.jpg");
    expectSwap(t, 3.2, kToSecond, "bg_bank.jpg");
    json s = stateAt(t, 3.3);
    EXPECT_EQ(s["backgrounds"]["imageViewBg"]["image"], "bg_bank.jpg");
    EXPECT_TRUE(s["page"]["secondImageViewShown"].get<bool>());
}

TEST(BackgroundsScenario, UnknownPictureLeavesTheLayerEmptyButStillSwaps)
{
    const auto t = run(kFirstPageShownIntroOff + instantBg("no_such_picture.jpg") + kSampleSwap, Intro::Off);
    expectSwap(t, 3.0, kToFirst, nullptr);
}

TEST(BackgroundsScenario, TabBarShowAndHideResizeTheWebViewOnlyWhenTheBarChanges)
{
    struct Step {
        std::string url;
        bool hidden;
        double height;
        bool showTabBarFlag;
    };
    const std::vector<Step> steps = {
        // Already hidden after the entry page: the web view keeps the size it was created with.
        {"x.php?hideTabBar=true&stopLoad=true", true, 480, false},
        {"x.php?showTabBar=true&stopLoad=true", false, 410, true},
        {"x.php?showTabBar=true&stopLoad=true", false, 410, true},
        {"x.php?hideTabBar=true&stopLoad=true", true, 460, false},
        {"x.php?hideTabBar=true&stopLoad=true", true, 460, false},
        {"cars.php?showCarsBg=true", false, 410, true},
        {"register.php", true, 460, false},
        {"missions.php?showMissionsBg=true", false, 410, true},
    };
    std::string script = kFirstPageShownIntroOff + "state\n";
    for (const auto& step : steps)
        script += "wait 0.1\nnavigate " + kBase + step.url + "\nstate\n";
    const auto t = run(script, Intro::Off);

    const double barAlpha = stateAt(t, 3.0)["tabBar"]["alpha"].get<double>();
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(steps[i].url + " (step " + std::to_string(i) + ")");
        json s = stateAt(t, 3.0 + 0.1 * static_cast<double>(i + 1));
        EXPECT_EQ(s["tabBar"]["hidden"].get<bool>(), steps[i].hidden);
        EXPECT_EQ(s["webView"]["frame"], frame(0, 0, 320, steps[i].height));
        EXPECT_EQ(s["page"]["showTabBar"].get<bool>(), steps[i].showTabBarFlag);
        EXPECT_DOUBLE_EQ(s["tabBar"]["alpha"].get<double>(), barAlpha) << "showing and hiding never fade";
    }
}

} // namespace
