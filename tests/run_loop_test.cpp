// The run loop's virtual clock: ordering and deadlines. (The real clock, its timers and fd
// watches, runs every HTTP test.)

#include "kit/RunLoop.h"
#include "kit/Timer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using kit::RunLoop;
using Runs = std::vector<std::pair<std::string, RunLoop::Micros>>;

class VirtualRunLoop : public ::testing::Test {
protected:
    void SetUp() override { RunLoop::resetMain(RunLoop::Clock::Virtual); }
    void TearDown() override { RunLoop::resetMain(RunLoop::Clock::Virtual); }
    RunLoop& loop() { return RunLoop::main(); }
};

TEST_F(VirtualRunLoop, TasksRunInDueOrderAtTheirOwnTimesIncludingThoseScheduledOnTheWay)
{
    Runs runs;
    auto note = [&](std::string name) { return [&, name] { runs.emplace_back(name, loop().now()); }; };
    auto cancelled = loop().schedule(10, note("cancelled"));
    loop().schedule(300, note("c"));
    EXPECT_EQ(loop().nextDue(), 10);
    loop().cancel(cancelled);
    EXPECT_FALSE(loop().isScheduled(cancelled));
    EXPECT_EQ(loop().nextDue(), 300);
    loop().schedule(100, [&] {
        runs.emplace_back("a", loop().now());
        loop().schedule(50, note("inside window"));
        loop().schedule(900, note("beyond window"));
        loop().post(note("posted"));
    });
    loop().schedule(300, note("d")); // equal times: in scheduling order
    loop().schedule(100, note("b"));
    loop().post(note("now"));
    loop().advance(999);
    EXPECT_EQ(runs, (Runs{{"now", 0}, {"a", 100}, {"b", 100}, {"posted", 100}, {"inside window", 150}, {"c", 300}, {"d", 300}}));
    EXPECT_EQ(loop().now(), 999);
    loop().advance(1);
    EXPECT_EQ(runs.back(), (Runs::value_type{"beyond window", 1000}));
    EXPECT_EQ(loop().nextDue(), std::nullopt);
}

TEST_F(VirtualRunLoop, TimerFiresExactlyAtItsDeadlineNotBefore)
{
    // Seconds are rounded to whole microseconds, so steps that add up to the interval in decimal
    // reach it exactly, whatever binary floating point makes of them.
    const std::tuple<double, std::vector<double>, double> cases[] = { // interval, steps still short of it, the last step
        {2.0, {1.99}, 0.01}, {2.0, {0.7, 0.7, 0.599999}, 0.000001}, {0.3, {0.1, 0.1}, 0.1},
        {2.4, {2.3999994}, 0.0000006}, // 2.399999 + 0.000001 after rounding
        {0.06, {0.059}, 0.001},
    };
    for (const auto& [interval, before, last] : cases) {
        RunLoop::resetMain(RunLoop::Clock::Virtual);
        bool fired = false;
        auto timer = kit::Timer::scheduledTimer(interval, [&] { fired = true; });
        for (double step : before)
            RunLoop::main().advanceSeconds(step);
        EXPECT_FALSE(fired) << "interval " << interval;
        EXPECT_TRUE(timer->isValid());
        RunLoop::main().advanceSeconds(last);
        EXPECT_TRUE(fired) << "interval " << interval;
        EXPECT_FALSE(timer->isValid());
    }
    const std::pair<double, RunLoop::Micros> micros[] = {{1.99, 1'990'000}, {0.01, 10'000}, {0.0000004, 0}, {0.0000005, 1},
                                                         {0.0000015, 2}, {2.4, 2'400'000}, {0, 0}, {-1, 0}, {std::nan(""), 0}};
    for (const auto& [seconds, expected] : micros)
        EXPECT_EQ(RunLoop::toMicros(seconds), expected) << seconds;
}

TEST_F(VirtualRunLoop, InvalidatingATimerFromAnotherCallbackDueAtTheSameTimeStopsIt)
{
    bool secondFired = false;
    std::shared_ptr<kit::Timer> second;
    auto first = kit::Timer::scheduledTimer(1.0, [&] { second->invalidate(); });
    second = kit::Timer::scheduledTimer(1.0, [&] { secondFired = true; });
    loop().advanceSeconds(5);
    EXPECT_FALSE(secondFired);
    EXPECT_FALSE(second->isValid());
    first->invalidate(); // harmless after firing, and twice
    second->invalidate();
}

} // namespace
