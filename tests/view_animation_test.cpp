// Animation blocks of kit::View on the virtual clock: alpha moves linearly from the value it has
// when the change is made, changes outside a block land at once, and the did-stop callback runs
// when the block's time is up, never before. And the slide of a modal screen.

#include "kit/Application.h"
#include "kit/ModalTransition.h"
#include "kit/RunLoop.h"
#include "kit/View.h"
#include "kit/ViewController.h"
#include "kit/Window.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using kit::RunLoop;
using kit::View;

class ViewAnimation : public ::testing::Test {
protected:
    void SetUp() override { RunLoop::resetMain(RunLoop::Clock::Virtual); }
    void TearDown() override { RunLoop::resetMain(RunLoop::Clock::Virtual); }

    static void wait(double seconds) { RunLoop::main().advanceSeconds(seconds); }
    static void animateAlpha(View& view, double to, double seconds, std::function<void()> onStop = {})
    {
        View::beginAnimations();
        View::setAnimationDuration(seconds);
        if (onStop)
            View::setAnimationDidStop(std::move(onStop));
        view.setAlpha(to);
        View::commitAnimations();
    }
};

TEST_F(ViewAnimation, AlphaMovesLinearlyAndDidStopRunsOnceWhenTheBlockEnds)
{
    struct Case {
        double from, to, duration;
        std::vector<std::pair<double, double>> samples; // elapsed seconds, expected alpha
    };
    const Case cases[] = {
        {1.0, 0.0, 0.3, {{0.0, 1.0}, {0.1, 2.0 / 3}, {0.15, 0.5}, {0.299999, 1.0 - 0.299999 / 0.3}, {0.3, 0.0}, {1.0, 0.0}}},
        {0.0, 1.0, 0.6, {{0.0, 0.0}, {0.3, 0.5}, {0.45, 0.75}, {0.599, 0.599 / 0.6}, {0.6, 1.0}}},
        {0.2, 0.8, 0.1, {{0.05, 0.5}, {0.099999, 0.2 + 0.6 * 0.99999}, {0.1, 0.8}}},
        {0.5, 0.5, 0.2, {{0.1, 0.5}, {0.2, 0.5}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << " over " << c.duration);
        RunLoop::resetMain(RunLoop::Clock::Virtual);
        View view;
        view.setAlpha(c.from);
        int stops = 0;
        double alphaAtStop = -1;
        animateAlpha(view, c.to, c.duration, [&] { ++stops, alphaAtStop = view.alpha(); });
        double elapsed = 0;
        for (const auto& [at, expected] : c.samples) {
            wait(at - elapsed);
            elapsed = at;
            EXPECT_NEAR(view.alpha(), expected, 1e-6) << "at " << at;
            EXPECT_EQ(stops, at < c.duration ? 0 : 1) << "at " << at;
        }
        wait(5);
        EXPECT_EQ(stops, 1);
        EXPECT_DOUBLE_EQ(alphaAtStop, c.to) << "stopped before the fade reached its end value";
    }
}

TEST_F(ViewAnimation, ChangesOutsideABlockLandAtOnceAndEndAFadeWhereItStands)
{
    View view;
    view.setAlpha(0.25);
    EXPECT_DOUBLE_EQ(view.alpha(), 0.25);
    EXPECT_FALSE(view.isAnimatingAlpha());
    animateAlpha(view, 1.0, 1.0);
    wait(0.5);
    EXPECT_TRUE(view.isAnimatingAlpha());
    view.setAlpha(0.0);
    EXPECT_DOUBLE_EQ(view.alpha(), 0.0);
    EXPECT_FALSE(view.isAnimatingAlpha());
    wait(0.6);
    EXPECT_DOUBLE_EQ(view.alpha(), 0.0);

    // A change after the commit is not part of the block.
    View::beginAnimations();
    View::setAnimationDuration(0.3);
    View::commitAnimations();
    view.setAlpha(1.0);
    EXPECT_DOUBLE_EQ(view.alpha(), 1.0);
    EXPECT_FALSE(view.isAnimatingAlpha());
}

TEST_F(ViewAnimation, NewChangeMidAnimationStartsFromTheCurrentValue)
{
    View view;
    view.setAlpha(1.0);
    animateAlpha(view, 0.0, 1.0);
    wait(0.25);
    EXPECT_NEAR(view.alpha(), 0.75, 1e-9);
    // Reversing: 0.75 -> 1.0 over 0.5 s; the first block's end time no longer drives the value.
    animateAlpha(view, 1.0, 0.5);
    EXPECT_NEAR(view.alpha(), 0.75, 1e-9);
    for (double expected : {0.875, 1.0, 1.0}) {
        wait(0.25);
        EXPECT_NEAR(view.alpha(), expected, 1e-9);
    }
}

TEST_F(ViewAnimation, ABlockAnimatesEveryViewChangedInItAndNestedChangesBelongToTheInnermost)
{
    View a, b, inner;
    a.setAlpha(0.0);
    b.setAlpha(1.0);
    inner.setAlpha(0.0);
    std::vector<int> stops;
    View::beginAnimations();
    View::setAnimationDuration(1.0);
    View::setAnimationDidStop([&] { stops.push_back(1); });
    a.setAlpha(1.0);
    b.setAlpha(0.0);
    View::beginAnimations();
    View::setAnimationDuration(0.2);
    View::setAnimationDidStop([&] { stops.push_back(2); });
    inner.setAlpha(1.0);
    View::commitAnimations();
    View::commitAnimations();
    wait(0.1);
    EXPECT_NEAR(inner.alpha(), 0.5, 1e-9);
    EXPECT_NEAR(a.alpha(), 0.1, 1e-9);
    EXPECT_NEAR(b.alpha(), 0.9, 1e-9);
    wait(0.1);
    EXPECT_EQ(stops, std::vector<int>{2});
    wait(0.8);
    EXPECT_EQ(stops, (std::vector<int>{2, 1}));
    EXPECT_DOUBLE_EQ(a.alpha(), 1.0);
    EXPECT_DOUBLE_EQ(b.alpha(), 0.0);
}

// A modal screen is in the window, or gone, at once; only the drawing slides, on the run loop's
// clock: up from below the bottom edge (480) to the application frame (20), down again as a
// picture when dismissed, from wherever it was drawn.
TEST_F(ViewAnimation, AModalScreenSlidesOnTheRunLoopsClockWhileItsPresenceIsImmediate)
{
    kit::Application::reset();
    auto window = std::make_shared<kit::Window>(kit::Rect(0, 0, 320, 480));
    window->makeKeyAndVisible();
    auto main = std::make_shared<kit::ViewController>();
    auto screen = std::make_shared<kit::ViewController>();
    using kit::ModalTransition;
    auto drawnY = [&] {
        auto origin = ModalTransition::drawnOrigin(*screen->view());
        return origin ? origin->y : -1;
    };

    main->presentModalViewController(screen, true);
    EXPECT_TRUE(screen->view()->isDescendantOfView(*window));
    // Seconds since presenting, and where it is drawn: eased in and out, 0.3 s in all.
    const std::pair<double, double> rising[] = {{0, 480}, {0.075, 480 - 460 * (0.5 - 0.5 * std::cos(M_PI / 4))}, {0.15, 250},
                                                 {0.299999, 20.0000001}, {0.3, 20}, {1, 20}};
    double elapsed = 0;
    for (const auto& [at, y] : rising) {
        wait(at - elapsed);
        elapsed = at;
        EXPECT_EQ(ModalTransition::isSliding(), at < 0.3) << at;
        EXPECT_NEAR(drawnY(), y, 1e-3) << at;
    }
    EXPECT_FALSE(ModalTransition::drawnOrigin(*main->view())) << "not a presented screen";

    // Dismissed halfway up: gone from the window at once, its picture sinks from 250.
    screen->dismissModalViewControllerAnimated(true);
    wait(0);
    main->presentModalViewController(screen, true);
    wait(0.15);
    main->dismissModalViewControllerAnimated(true);
    EXPECT_FALSE(screen->view()->superview());
    EXPECT_FALSE(ModalTransition::drawnOrigin(*screen->view()));
    auto leaving = ModalTransition::leaving();
    ASSERT_EQ(leaving.size(), 2u);  // the first dismissal's picture is still on its way too
    EXPECT_NEAR(leaving[0].origin.y, 20 + 460 * 0.5, 1e-3);
    EXPECT_EQ(leaving[1].view, screen->view().get());
    EXPECT_NEAR(leaving[1].origin.y, 250, 1e-3);
    wait(0.15);
    leaving = ModalTransition::leaving();
    ASSERT_EQ(leaving.size(), 1u);
    EXPECT_NEAR(leaving[0].origin.y, 250 + 230 * 0.5, 1e-3);
    EXPECT_TRUE(ModalTransition::isSliding());
    wait(0.149999);
    EXPECT_EQ(ModalTransition::leaving().size(), 1u);
    wait(0.000001);
    EXPECT_TRUE(ModalTransition::leaving().empty());
    EXPECT_FALSE(ModalTransition::isSliding());

    // Without animation nothing slides; a replaced run loop forgets what the old one had.
    main->presentModalViewController(screen, false);
    EXPECT_EQ(drawnY(), 20);
    EXPECT_FALSE(ModalTransition::isSliding());
    main->dismissModalViewControllerAnimated(false);
    EXPECT_TRUE(ModalTransition::leaving().empty());
    main->presentModalViewController(screen, true);
    main->dismissModalViewControllerAnimated(true);
    RunLoop::resetMain(RunLoop::Clock::Virtual);
    EXPECT_TRUE(ModalTransition::leaving().empty());
    kit::Application::reset();
}

} // namespace
