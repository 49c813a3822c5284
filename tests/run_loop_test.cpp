// The run loop's two clocks: ordering and deadlines on the virtual one, timers and fd watches
// on the real one.

#include "kit/RunLoop.h"
#include "kit/Timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <poll.h>
#include <unistd.h>

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

TEST(RealRunLoop, FiresATimerAnFdWatchAndWaitsAtLeastAsLongAsAsked)
{
    RunLoop::resetMain(RunLoop::Clock::Real);
    auto& loop = RunLoop::main();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    bool timerFired = false;
    std::string received;
    // The timer's write makes the watch ready on a later turn.
    auto timer = kit::Timer::scheduledTimer(0.02, [&] { timerFired = ::write(fds[1], "hi", 2) == 2; });
    auto watch = loop.addWatch(fds[0], POLLIN, [&](short revents) {
        char buffer[8];
        if (revents & POLLIN)
            received.append(buffer, static_cast<size_t>(std::max<ssize_t>(0, ::read(fds[0], buffer, sizeof buffer))));
    });
    auto start = loop.now();
    EXPECT_TRUE(loop.runUntil([&] { return received == "hi"; }, RunLoop::toMicros(10)));
    EXPECT_TRUE(timerFired);
    EXPECT_GE(loop.now() - start, 20'000);
    loop.removeWatch(watch);
    ::close(fds[0]);
    ::close(fds[1]);

    start = loop.now();
    loop.runFor(RunLoop::toMicros(0.03));
    EXPECT_GE(loop.now() - start, 30'000);
    RunLoop::resetMain(RunLoop::Clock::Virtual);
}

} // namespace
