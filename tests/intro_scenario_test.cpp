// The end of the intro and the reveal of the first page, on the virtual clock: the movie (3 s by
// default) or none, the 2.4 s wait before the first page may appear, the 0.3 s fade-out of the
// start background, then the 0.3 s fade-in of the page's background, the page and, when wanted,
// the tab bar. Deadlines are checked on both sides.

#include "support/Timeline.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;
using timeline::expectAt;
using timeline::frame;
using timeline::Intro;
using timeline::kBase;
using timeline::run;

const std::string kFirst = "/backgrounds/imageViewBg/alpha", kSecond = "/backgrounds/secondImageViewBg/alpha";

TEST(IntroScenario, FirstPageFinishedDuringTheMovieIsRevealedByTwoFadesAfterTheIntroSequence)
{
    const auto t = run("wait 1\nfinish\nwait 1.99\nstate\nwait 0.01\nstate\nwait 2.39\nstate\nwait 0.01\nstate\n"
                       "wait 0.15\nstate\nwait 0.15\nstate\nwait 0.15\nstate\nwait 0.15\nstate\n");
    EXPECT_EQ(timeline::fieldOf(t, "movie", "event"), (std::vector<json>{"prepare", "play"}));
    EXPECT_EQ(t.first("movie")->value("t", -1.0), 0.0);

    // The page has finished, but nothing of it is on screen before the movie ends.
    expectAt(t, 2.99, {{"/webView/inView", false}, {"/page/introAnimationCompleted", false}, {"/page/loading", false},
                       {"/page/firstLoad", true}});
    // Movie over: start picture at full strength, web view in place but hidden, indicator in front.
    expectAt(t, 3.0, {{"/page/introAnimationCompleted", true}, {"/page/introSequenceCompleted", false}, {"/webView/inView", true},
                      {"/webView/hidden", true}, {"/webView/alpha", 0.0}, {kFirst, 1.0}, {"/backgrounds/imageViewBg/hidden", false},
                      {"/indicator/front", true}});
    expectAt(t, 5.39, {{"/page/firstLoad", true}, {"/page/introSequenceCompleted", false}, {"/webView/hidden", true}, {kFirst, 1.0},
                       {kSecond, 0.0}});
    // 2.4 s after the intro the first page is shown and the start picture begins to fade out.
    expectAt(t, 5.4, {{"/page/firstLoad", false}, {"/page/started", true}, {"/page/introSequenceCompleted", true},
                      {"/page/secondImageViewShown", true}, {"/webView/hidden", false}, {"/webView/alpha", 0.0}, {kFirst, 1.0},
                      {"/backgrounds/secondImageViewBg/image", "bg_default.jpg"}, {kSecond, 0.0},
                      {"/backgrounds/rearmost", "secondImageViewBg"}, {"/indicator/animating", false},
                      {"/indicator/center", {160, 230}}});
    expectAt(t, 5.55, {{kFirst, 0.5}, {kSecond, 0.0}, {"/webView/alpha", 0.0}});
    expectAt(t, 5.7, {{kFirst, 0.0}, {kSecond, 0.0}, {"/webView/alpha", 0.0}});
    expectAt(t, 5.85, {{kSecond, 0.5}, {"/webView/alpha", 0.5}});
    // The entry page does not want the tab bar: it stays hidden and the web view keeps its size.
    expectAt(t, 6.0, {{kSecond, 1.0}, {"/webView/alpha", 1.0}, {"/webView/hidden", false}, {"/tabBar/hidden", true},
                      {"/webView/frame", frame(0, 0, 320, 480)}});
    EXPECT_EQ(t.count("alert"), 0u) << t.dump();
}

TEST(IntroScenario, WithoutTheIntroTheStartPictureFadesInAndTheFirstPageStillWaits)
{
    const auto t = run("state\nwait 0.3\nstate\nwait 0.3\nstate\nwait 0.4\nfinish\nwait 1.39\nstate\nwait 0.01\nstate\n", Intro::Off);
    EXPECT_EQ(t.count("movie"), 0u) << t.dump();
    for (auto [at, alpha] : std::vector<std::pair<double, double>>{{0.0, 0.0}, {0.3, 0.5}, {0.6, 1.0}, {2.39, 1.0}})
        expectAt(t, at, {{kFirst, alpha}, {"/backgrounds/imageViewBg/hidden", false}, {"/page/introAnimationCompleted", true},
                         {"/webView/inView", true}});
    // Finished at 1.0 s, yet not shown before 2.4 s after the intro ended (at launch).
    expectAt(t, 2.39, {{"/webView/hidden", true}, {"/page/firstLoad", true}});
    expectAt(t, 2.4, {{"/webView/hidden", false}, {"/page/firstLoad", false}, {"/page/introSequenceCompleted", true}});

    // Switched off by a page during the movie: the start picture fades in when the movie ends.
    const auto off = run("wait 1\n" + timeline::command("setIntroAnimationEnabled=off") + "wait 2\nstate\nwait 0.3\nstate\nwait 0.3\nstate\n");
    EXPECT_EQ(off.count("movie"), 2u) << off.dump();
    expectAt(off, 3.0, {{"/settings/introAnimationEnabled", false}, {"/page/introAnimationCompleted", true}, {kFirst, 0.0}});
    expectAt(off, 3.3, {{kFirst, 0.5}});
    expectAt(off, 3.6, {{kFirst, 1.0}});
}

TEST(IntroScenario, FirstPageStillLoadingAtTheEndOfTheIntroSequenceStartsTheIndicator)
{
    for (auto [intro, end] : std::vector<std::pair<Intro, double>>{{Intro::On, 5.4}, {Intro::Off, 2.4}}) {
        SCOPED_TRACE(intro == Intro::On ? "intro on" : "intro off");
        const auto t = run("wait " + std::to_string(end - 0.01) + "\nstate\nwait 0.01\nstate\nwait 1\nfinish\nstate\n", intro);
        expectAt(t, end - 0.01, {{"/indicator/animating", false}, {"/page/introSequenceCompleted", false}});
        expectAt(t, end, {{"/indicator/animating", true}, {"/page/introSequenceCompleted", true}, {"/webView/hidden", true}});
        // Finished later: the indicator stops and the page comes by the first-page fade.
        expectAt(t, end + 1, {{"/indicator/animating", false}, {"/page/firstLoad", false}, {"/webView/hidden", false},
                              {"/webView/alpha", 0.0}, {kFirst, 1.0}, {"/backgrounds/secondImageViewBg/image", "bg_default.jpg"}});
    }
}

TEST(IntroScenario, FirstPageThatWantsTheTabBarFadesItInWithThePage)
{
    const auto t = run("wait 0.5\nfinish\nnavigate " + kBase + "home.php?showHomeBg=true\nwait 0.5\nfinish\nwait 1.4\nstate\n"
                       "wait 0.29\nstate\nwait 0.01\nstate\nwait 0.15\nstate\nwait 0.15\nstate\n", Intro::Off);
    // Before the first page is shown, home.php only marks the tab bar as wanted.
    expectAt(t, 2.4, {{"/page/showTabBar", true}, {"/tabBar/hidden", true}, {"/tabBar/selected", 0},
                      {"/webView/frame", frame(0, 0, 320, 480)}});
    expectAt(t, 2.69, {{"/tabBar/hidden", true}});
    expectAt(t, 2.7, {{"/tabBar/hidden", false}, {"/tabBar/alpha", 0.0}, {"/webView/frame", frame(0, 0, 320, 410)}});
    expectAt(t, 2.85, {{"/tabBar/alpha", 0.5}, {"/webView/alpha", 0.5}, {kSecond, 0.5}});
    expectAt(t, 3.0, {{"/tabBar/alpha", 1.0}, {"/tabBar/hidden", false}, {"/webView/frame", frame(0, 0, 320, 410)}});
}

TEST(IntroScenario, InstantBackgroundChangeBeforeTheFirstPageTakesTheFirstPagePath)
{
    // While the first page is pending, a swap from the start picture fades it out slowly and then
    // fades the new picture in together with the web view.
    const auto t = run("wait 1\n" + timeline::command("changeBgInstant=bg_bank.jpg") +
                           "state\nwait 0.15\nstate\nwait 0.15\nstate\nwait 0.15\nstate\nwait 0.15\nstate\n"
                           "wait 0.4\nfinish\nwait 0.4\nstate\nwait 0.6\nstate\nnavigate " + kBase +
                           "cars.php?showCarsBg=true\nwait 0.5\nfinish\nstate\n",
                       Intro::Off);
    expectAt(t, 1.0, {{"/backgrounds/secondImageViewBg/image", "bg_bank.jpg"}, {kSecond, 0.0}, {kFirst, 1.0},
                      {"/page/secondImageViewShown", true}, {"/webView/hidden", true}});
    expectAt(t, 1.15, {{kFirst, 0.5}});
    expectAt(t, 1.3, {{kFirst, 0.0}, {"/webView/hidden", false}});
    expectAt(t, 1.45, {{kSecond, 0.5}, {"/webView/alpha", 0.5}});
    expectAt(t, 1.6, {{kSecond, 1.0}, {"/webView/alpha", 1.0}});
    // The first page then finds the second layer showing: the ordinary 0.1 s swap, and the page
    // (transparent at first) still fades in over 0.3 s instead of staying invisible.
    expectAt(t, 2.4, {{"/page/firstLoad", false}, {"/page/secondImageViewShown", false},
                      {"/backgrounds/imageViewBg/image", "bg_default.jpg"}, {"/backgrounds/rearmost", "imageViewBg"}, {kFirst, 1.0},
                      {"/webView/hidden", false}, {"/webView/alpha", 0.0}});
    expectAt(t, 3.0, {{kSecond, 0.0}, {"/webView/alpha", 1.0}});
    expectAt(t, 3.5, {{"/webView/alpha", 1.0}});
}

} // namespace
