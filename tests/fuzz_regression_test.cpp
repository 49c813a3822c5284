// Faults the fuzz targets found, each kept as the smallest case that showed it. (The inputs
// themselves are replayed from fuzz/regressions/ by the fuzz_replay tests.)
#include "kit/RunLoop.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// A script may wait up to the longest interval many times over: virtual time stops at its end
// instead of wrapping round (signed overflow), and what falls due there still runs, in order.
TEST(FuzzRegression, VirtualTimeHoldsAtItsEndInsteadOfWrapping)
{
    kit::RunLoop loop(kit::RunLoop::Clock::Virtual);
    std::vector<int> fired;
    loop.schedule(kit::RunLoop::toMicros(1.0e300), [&] { fired.push_back(1); });
    for (int i = 0; i < 12; ++i) {
        auto before = loop.now();
        loop.advanceSeconds(1.0e12);
        ASSERT_GE(loop.now(), before) << "after wait " << i;
    }
    EXPECT_EQ(loop.now(), std::numeric_limits<kit::RunLoop::Micros>::max());
    loop.schedule(kit::RunLoop::toMicros(5.0), [&] { fired.push_back(2); });
    loop.advanceSeconds(10.0);
    EXPECT_EQ(fired, (std::vector<int>{1, 2}));
}

} // namespace
