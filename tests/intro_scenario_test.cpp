// The end of the intro and the reveal of the first page, on the virtual clock: the movie (3 s by
// default) or no movie, the 2.4 s wait before the first page may appear, the 0.3 s fade-out of the
// start background followed by the 0.3 s fade-in of the page's background, the page and, when
// wanted, the tab bar. Every deadline is checked on both sides.

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
using timeline::run;
using timeline::stateAt;

TEST(IntroScenario, FirstPageFinishedDuringTheMovieIsRevealedByTwoFadesAfterTheIntroSequence)
{
    const auto t = run(R"(
wait 1
finish
wait 1.99
state
wait 0.01
state
wait 2.39
state
wait 0.01
state
wait 0.15
state
wait 0.15
state
wait 0.15
state
wait 0.15
state
)");

    auto play = t.events("movie");
    ASSERT_FALSE(play.empty()) << t.dump();
    EXPECT_EQ(play.back().value("event", ""), "play");
    EXPECT_DOUBLE_EQ(play.back().value("t", -1.0), 0.0);

    // Still in the movie: the page has finished, but nothing of it is on screen.
    json s = stateAt(t, 2.99);
    EXPECT_FALSE(s["webView"]["inView"].get<bool>());
    EXPECT_FALSE(s["page"]["introAnimationCompleted"].get<bool>());
    EXPECT_FALSE(s["page"]["loading"].get<bool>());
    EXPECT_TRUE(s["page"]["firstLoad"].get<bool>());

    // The movie has ended: start background at full strength at once, web view in place but
    // hidden and transparent, indicator in front of it.
    s = stateAt(t, 3.0);
    EXPECT_TRUE(s["page"]["introAnimationCompleted"].get<bool>());
    EXPECT_FALSE(s["page"]["introSequenceCompleted"].get<bool>());
    EXPECT_TRUE(s["webView"]["inView"].get<bool>());
    EXPECT_TRUE(s["webView"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 0.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 1.0);
    EXPECT_FALSE(s["backgrounds"]["imageViewBg"]["hidden"].get<bool>());
    EXPECT_TRUE(s["indicator"]["front"].get<bool>());

    s = stateAt(t, 5.39);
    EXPECT_TRUE(s["page"]["firstLoad"].get<bool>());
    EXPECT_FALSE(s["page"]["introSequenceCompleted"].get<bool>());
    EXPECT_TRUE(s["webView"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 1.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 0.0);

    // 2.4 s after the intro: the first page is shown; the fade-out of the start picture begins
    // with nothing underneath.
    s = stateAt(t, 5.4);
    EXPECT_FALSE(s["page"]["firstLoad"].get<bool>());
    EXPECT_TRUE(s["page"]["started"].get<bool>());
    EXPECT_TRUE(s["page"]["introSequenceCompleted"].get<bool>());
    EXPECT_TRUE(s["page"]["secondImageViewShown"].get<bool>());
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 0.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 1.0);
    EXPECT_EQ(s["backgrounds"]["secondImageViewBg"]["image"], "bg_default.jpg");
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 0.0);
    EXPECT_EQ(s["backgrounds"]["rearmost"], "secondImageViewBg");
    EXPECT_FALSE(s["indicator"]["animating"].get<bool>());
    EXPECT_EQ(s["indicator"]["center"], json::array({160, 230}));

    s = stateAt(t, 5.55);
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 0.5);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 0.0);
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 0.0);

    // Fade-out over: the page's background and the page come up together.
    s = stateAt(t, 5.7);
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 0.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 0.0);
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 0.0);

    s = stateAt(t, 5.85);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 0.5);
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 0.5);

    // The entry page does not want the tab bar: it stays hidden and the web view keeps its size.
    s = stateAt(t, 6.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 1.0);
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 1.0);
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_TRUE(s["tabBar"]["hidden"].get<bool>());
    EXPECT_EQ(s["webView"]["frame"], frame(0, 0, 320, 480));
    EXPECT_TRUE(t.events("alert").empty()) << t.dump();
}

TEST(IntroScenario, IntroOffFadesTheStartBackgroundInAndStillWaitsBeforeTheFirstPage)
{
    const auto t = run(R"(
state
wait 0.3
state
wait 0.3
state
wait 0.4
finish
wait 1.39
state
wait 0.01
state
)",
                       Intro::Off);

    EXPECT_TRUE(t.events("movie").empty()) << t.dump();

    struct Sample {
        double at;
        double alpha;
    };
    for (const auto& sample : std::vector<Sample>{{0.0, 0.0}, {0.3, 0.5}, {0.6, 1.0}, {2.39, 1.0}}) {
        SCOPED_TRACE(testing::Message() << "t=" << sample.at);
        json s = stateAt(t, sample.at);
        EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), sample.alpha);
        EXPECT_FALSE(s["backgrounds"]["imageViewBg"]["hidden"].get<bool>());
        EXPECT_TRUE(s["page"]["introAnimationCompleted"].get<bool>());
        EXPECT_TRUE(s["webView"]["inView"].get<bool>());
    }

    // Finished at 1.0 s, yet not shown before 2.4 s after the intro ended (at launch).
    json s = stateAt(t, 2.39);
    EXPECT_TRUE(s["webView"]["hidden"].get<bool>());
    EXPECT_TRUE(s["page"]["firstLoad"].get<bool>());
    s = stateAt(t, 2.4);
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_FALSE(s["page"]["firstLoad"].get<bool>());
    EXPECT_TRUE(s["page"]["introSequenceCompleted"].get<bool>());
}

TEST(IntroScenario, IntroSwitchedOffDuringTheMovieFadesTheStartBackgroundIn)
{
    const auto t = run("wait 1\nnavigate " + kBase + "options.php?setIntroAnimationEnabled=off&stopLoad=true\n" +
                       R"(
wait 2
state
wait 0.3
state
wait 0.3
state
)");

    ASSERT_FALSE(t.events("movie").empty()) << t.dump();
    json s = stateAt(t, 3.0);
    EXPECT_FALSE(s["settings"]["introAnimationEnabled"].get<bool>());
    EXPECT_TRUE(s["page"]["introAnimationCompleted"].get<bool>());
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 0.0);
    EXPECT_DOUBLE_EQ(alphaOf(stateAt(t, 3.3), "imageViewBg"), 0.5);
    EXPECT_DOUBLE_EQ(alphaOf(stateAt(t, 3.6), "imageViewBg"), 1.0);
}

TEST(IntroScenario, FirstPageStillLoadingAtTheEndOfTheIntroSequenceStartsTheIndicator)
{
    struct Case {
        Intro intro;
        double sequenceEnd;
    };
    for (const auto& c : std::vector<Case>{{Intro::On, 5.4}, {Intro::Off, 2.4}}) {
        SCOPED_TRACE(c.intro == Intro::On ? "intro on" : "intro off");
        const double before = c.sequenceEnd - 0.01;
        std::string script = "wait " + std::to_string(before) + "\nstate\nwait 0.01\nstate\nwait 1\nfinish\nstate\n";
        const auto t = run(script, c.intro);

        json s = stateAt(t, before);
        EXPECT_FALSE(s["indicator"]["animating"].get<bool>());
        EXPECT_FALSE(s["page"]["introSequenceCompleted"].get<bool>());

        s = stateAt(t, c.sequenceEnd);
        EXPECT_TRUE(s["indicator"]["animating"].get<bool>());
        EXPECT_TRUE(s["page"]["introSequenceCompleted"].get<bool>());
        EXPECT_TRUE(s["webView"]["hidden"].get<bool>());

        // The load finishes later: the indicator stops and the page is shown by the first-page fade.
        s = stateAt(t, c.sequenceEnd + 1);
        EXPECT_FALSE(s["indicator"]["animating"].get<bool>());
        EXPECT_FALSE(s["page"]["firstLoad"].get<bool>());
        EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
        EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 0.0);
        EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 1.0);
        EXPECT_EQ(s["backgrounds"]["secondImageViewBg"]["image"], "bg_default.jpg");
    }
}

TEST(IntroScenario, FirstPageThatWantsTheTabBarFadesItInWithThePage)
{
    const auto t = run("wait 0.5\nfinish\nnavigate " + kBase + "home.php?showHomeBg=true\n" + R"(
wait 0.5
finish
wait 1.4
state
wait 0.29
state
wait 0.01
state
wait 0.15
state
wait 0.15
state
)",
                       Intro::Off);

    // Before the first page is shown, home.php only marks the tab bar as wanted.
    json s = stateAt(t, 2.4);
    EXPECT_TRUE(s["page"]["showTabBar"].get<bool>());
    EXPECT_TRUE(s["tabBar"]["hidden"].get<bool>());
    EXPECT_EQ(s["tabBar"]["selected"], 0);
    EXPECT_EQ(s["webView"]["frame"], frame(0, 0, 320, 480));

    s = stateAt(t, 2.69);
    EXPECT_TRUE(s["tabBar"]["hidden"].get<bool>());

    s = stateAt(t, 2.7);
    EXPECT_FALSE(s["tabBar"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(s["tabBar"]["alpha"].get<double>(), 0.0);
    EXPECT_EQ(s["webView"]["frame"], frame(0, 0, 320, 410));

    s = stateAt(t, 2.85);
    EXPECT_DOUBLE_EQ(s["tabBar"]["alpha"].get<double>(), 0.5);
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 0.5);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 0.5);

    s = stateAt(t, 3.0);
    EXPECT_DOUBLE_EQ(s["tabBar"]["alpha"].get<double>(), 1.0);
    EXPECT_FALSE(s["tabBar"]["hidden"].get<bool>());
    EXPECT_EQ(s["webView"]["frame"], frame(0, 0, 320, 410));
}

TEST(IntroScenario, OnlyTheLastSoundAskedForDuringTheIntroPlaysWhenItEnds)
{
    const std::string page = kBase + "x.php?stopLoad=true&";
    const auto t = run("wait 0.5\nnavigate " + page + "invokeSoundAIF=horn\nwait 0.5\nnavigate " + page +
                       "invokeSoundCAF=engine\nwait 0.5\nnavigate " + page + "invokeSoundAIF=horn\n" +
                       "wait 0.5\nnavigate " + page + "invokeSoundCAF=engine\nwait 0.99\nstate\nwait 0.01\nstate\n");

    json s = stateAt(t, 2.99);
    EXPECT_EQ(s["page"]["soundFileCAFDeferred"], "engine");
    EXPECT_TRUE(s["page"]["soundFileAIFDeferred"].is_null());
    s = stateAt(t, 3.0);
    EXPECT_TRUE(s["page"]["soundFileCAFDeferred"].is_null());

    auto sounds = t.events("sound");
    ASSERT_EQ(sounds.size(), 1u) << t.dump();
    EXPECT_EQ(sounds[0].value("name", ""), "engine");
    EXPECT_EQ(sounds[0].value("type", ""), "caf");
    EXPECT_DOUBLE_EQ(sounds[0].value("t", -1.0), 3.0);
}

TEST(IntroScenario, InstantBackgroundChangeBeforeTheFirstPageTakesTheFirstPagePath)
{
    // While the first page is pending, any swap from the start picture fades it out slowly and
    // then fades in the new picture together with the web view.
    const auto t = run("wait 1\nnavigate " + kBase + "x.php?changeBgInstant=bg_bank.jpg&stopLoad=true\n" + R"(
state
wait 0.15
state
wait 0.15
state
wait 0.15
state
wait 0.15
state
wait 0.4
finish
wait 0.4
state
wait 0.6
state
)" + "navigate " + kBase + "cars.php?showCarsBg=true\nwait 0.5\nfinish\nstate\n",
                       Intro::Off);

    json s = stateAt(t, 1.0);
    EXPECT_EQ(s["backgrounds"]["secondImageViewBg"]["image"], "bg_bank.jpg");
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 0.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 1.0);
    EXPECT_TRUE(s["page"]["secondImageViewShown"].get<bool>());
    EXPECT_TRUE(s["webView"]["hidden"].get<bool>());

    EXPECT_DOUBLE_EQ(alphaOf(stateAt(t, 1.15), "imageViewBg"), 0.5);

    s = stateAt(t, 1.3);
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 0.0);
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());

    s = stateAt(t, 1.45);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 0.5);
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 0.5);

    s = stateAt(t, 1.6);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 1.0);
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 1.0);

    // The first page then finds the second layer showing: the swap is the ordinary 0.1 s one,
    // and the page (transparent at first) still fades in over 0.3 s instead of staying invisible.
    s = stateAt(t, 2.4);
    EXPECT_FALSE(s["page"]["firstLoad"].get<bool>());
    EXPECT_FALSE(s["page"]["secondImageViewShown"].get<bool>());
    EXPECT_EQ(s["backgrounds"]["imageViewBg"]["image"], "bg_default.jpg");
    EXPECT_EQ(s["backgrounds"]["rearmost"], "imageViewBg");
    EXPECT_DOUBLE_EQ(alphaOf(s, "imageViewBg"), 1.0);
    EXPECT_FALSE(s["webView"]["hidden"].get<bool>());
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 0.0);
    s = stateAt(t, 3.0);
    EXPECT_DOUBLE_EQ(alphaOf(s, "secondImageViewBg"), 0.0);
    EXPECT_DOUBLE_EQ(s["webView"]["alpha"].get<double>(), 1.0);
    // The next finished load shows the page as usual.
    EXPECT_DOUBLE_EQ(stateAt(t, 3.5)["webView"]["alpha"].get<double>(), 1.0);
}

} // namespace
