// The run loop's two clocks: ordering and deadlines on the virtual one, timers and fd watches
// on the real one.

#include "kit/RunLoop.h"
#include "kit/Timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <poll.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace {

using kit::RunLoop;

class VirtualRunLoop : public ::testing::Test {
protected:
    void SetUp() override { RunLoop::resetMain(RunLoop::Clock::Virtual); }
    void TearDown() override { RunLoop::resetMain(RunLoop::Clock::Virtual); }
    RunLoop& loop() { return RunLoop::main(); }
};

TEST_F(VirtualRunLoop, TasksRunInDueOrderAndEqualTimesInSchedulingOrder)
{
    std::vector<std::string> order;
    loop().schedule(300, [&] { order.push_back("c@300"); });
    loop().schedule(100, [&] { order.push_back("a@100"); });
    loop().schedule(300, [&] { order.push_back("d@300"); });
    loop().schedule(100, [&] { order.push_back("b@100"); });
    loop().post([&] { order.push_back("now"); });
    loop().advance(1000);
    EXPECT_EQ(order, (std::vector<std::string>{"now", "a@100", "b@100", "c@300", "d@300"}));
    EXPECT_EQ(loop().now(), 1000);
}

TEST_F(VirtualRunLoop, EachTaskSeesTheClockAtItsOwnDueTime)
{
    std::vector<RunLoop::Micros> seen;
    for (RunLoop::Micros due : {250, 40, 999})
        loop().schedule(due, [&] { seen.push_back(loop().now()); });
    loop().advance(5000);
    EXPECT_EQ(seen, (std::vector<RunLoop::Micros>{40, 250, 999}));
}

TEST_F(VirtualRunLoop, TaskScheduledByACallbackRunsWithinTheSameAdvanceWhenDue)
{
    std::vector<std::pair<std::string, RunLoop::Micros>> runs;
    loop().schedule(100, [&] {
        runs.emplace_back("outer", loop().now());
        loop().schedule(50, [&] { runs.emplace_back("inside window", loop().now()); });
        loop().schedule(500, [&] { runs.emplace_back("beyond window", loop().now()); });
        loop().post([&] { runs.emplace_back("posted", loop().now()); });
    });
    loop().advance(200);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0], std::make_pair(std::string("outer"), RunLoop::Micros(100)));
    EXPECT_EQ(runs[1], std::make_pair(std::string("posted"), RunLoop::Micros(100)));
    EXPECT_EQ(runs[2], std::make_pair(std::string("inside window"), RunLoop::Micros(150)));
    loop().advance(399);
    EXPECT_EQ(runs.size(), 3u);
    loop().advance(1);
    EXPECT_EQ(runs.size(), 4u);
}

TEST_F(VirtualRunLoop, TimerFiresExactlyAtItsDeadlineNotBefore)
{
    // Seconds are rounded to whole microseconds, so steps that add up to the interval in
    // decimal reach it exactly, whatever binary floating point makes of them.
    struct Case {
        double interval;
        std::vector<double> stepsBefore;  // still pending after these
        double lastStep;                  // fired after this one
    };
    const Case cases[] = {
        {2.0, {1.99}, 0.01},
        {2.0, {0.7, 0.7, 0.599999}, 0.000001},
        {0.3, {0.1, 0.1}, 0.1},
        {2.4, {2.3999994}, 0.0000006},  // 2.399999 + 0.000001 after rounding
        {0.06, {0.059}, 0.001},
    };
    for (const auto& c : cases) {
        RunLoop::resetMain(RunLoop::Clock::Virtual);
        bool fired = false;
        auto timer = kit::Timer::scheduledTimer(c.interval, [&] { fired = true; });
        for (double step : c.stepsBefore)
            RunLoop::main().advanceSeconds(step);
        EXPECT_FALSE(fired) << "interval " << c.interval;
        EXPECT_TRUE(timer->isValid());
        RunLoop::main().advanceSeconds(c.lastStep);
        EXPECT_TRUE(fired) << "interval " << c.interval;
        EXPECT_FALSE(timer->isValid());
    }
}

TEST_F(VirtualRunLoop, ToMicrosRoundsToTheNearestMicrosecondAndClampsNonsense)
{
    struct Case {
        double seconds;
        RunLoop::Micros micros;
    };
    const Case cases[] = {{1.99, 1'990'000}, {0.01, 10'000}, {0.0000004, 0}, {0.0000005, 1}, {0.0000015, 2},
                          {2.4, 2'400'000},  {0, 0},         {-1, 0},        {std::nan(""), 0}};
    for (const auto& c : cases)
        EXPECT_EQ(RunLoop::toMicros(c.seconds), c.micros) << c.seconds;
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
    // Invalidation is idempotent and harmless after firing.
    first->invalidate();
    second->invalidate();
}

TEST_F(VirtualRunLoop, CancelledTaskNeverRunsAndNextDueSkipsIt)
{
    bool ran = false;
    auto id = loop().schedule(10, [&] { ran = true; });
    loop().schedule(20, [] {});
    EXPECT_EQ(loop().nextDue(), 10);
    loop().cancel(id);
    EXPECT_FALSE(loop().isScheduled(id));
    EXPECT_EQ(loop().nextDue(), 20);
    loop().advance(100);
    EXPECT_FALSE(ran);
    EXPECT_EQ(loop().nextDue(), std::nullopt);
}

TEST(RealRunLoop, FiresATimerAndAnFdWatch)
{
    RunLoop::resetMain(RunLoop::Clock::Real);
    auto& loop = RunLoop::main();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);

    bool timerFired = false;
    std::string received;
    auto timer = kit::Timer::scheduledTimer(0.02, [&] {
        timerFired = true;
        // The write makes the watch ready on a later turn.
        ASSERT_EQ(::write(fds[1], "hi", 2), 2);
    });
    auto watch = loop.addWatch(fds[0], POLLIN, [&](short revents) {
        if (revents & POLLIN) {
            char buffer[8];
            auto n = ::read(fds[0], buffer, sizeof buffer);
            if (n > 0)
                received.append(buffer, static_cast<size_t>(n));
        }
    });
    auto start = loop.now();
    EXPECT_TRUE(loop.runUntil([&] { return received == "hi"; }, RunLoop::toMicros(10)));
    EXPECT_TRUE(timerFired);
    EXPECT_GE(loop.now() - start, 20'000);

    loop.removeWatch(watch);
    ::close(fds[0]);
    ::close(fds[1]);
    RunLoop::resetMain(RunLoop::Clock::Virtual);
}

TEST(RealRunLoop, RunForWaitsAtLeastItsDuration)
{
    RunLoop::resetMain(RunLoop::Clock::Real);
    auto& loop = RunLoop::main();
    auto start = loop.now();
    loop.runFor(RunLoop::toMicros(0.03));
    EXPECT_GE(loop.now() - start, 30'000);
    RunLoop::resetMain(RunLoop::Clock::Virtual);
}

} // namespace
