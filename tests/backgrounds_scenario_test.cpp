// Background swaps after the first page: the new picture laid underneath at full strength, the
// layer in front faded out in 0.1 s.

#include "support/Timeline.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;
using timeline::command;
using timeline::expectAt;
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

} // namespace
