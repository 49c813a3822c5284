// Ten thousand navigations (page commands, alerts, sounds, background changes, failed loads, the
// Recruit screen) through the real client on the virtual clock. Memory must stay flat once the
// first thousand have run; the ASan build runs the same script with leak detection at exit.
#include "../bench/SoakRun.h"

#include <gtest/gtest.h>

namespace {

TEST(Soak, TenThousandNavigationsKeepMemoryFlat)
{
    auto result = soak::run(STREET_CLIENT_BIN, STREET_RESOURCES_DIR, STREET_TESTS_DIR "/../bench/soak-cycle.script", 1000,
                            {1000, 10000});
    ASSERT_EQ(result.exitCode, 0) << result.error;
    EXPECT_EQ(result.navigations, 10000);
    EXPECT_EQ(result.ignored, 0) << "the soak script no longer plays as written";
    EXPECT_EQ(result.alerts, result.alertPresses) << "alerts are piling up";
    ASSERT_EQ(result.samples.size(), 2u);
    std::printf("soak: after %d navigations RSS %ld KiB (peak %ld), after %d RSS %ld KiB (peak %ld); %.2f s\n",
                result.samples[0].navigations, result.samples[0].rssKiB, result.samples[0].peakKiB,
                result.samples[1].navigations, result.samples[1].rssKiB, result.samples[1].peakKiB, result.seconds);
#if !defined(__SANITIZE_ADDRESS__)
    // (Under ASan freed memory sits in quarantine, so resident size says nothing there.)
    EXPECT_LT(result.samples[1].rssKiB - result.samples[0].rssKiB, 1024) << "resident memory grows with navigations";
    EXPECT_LT(result.samples[1].peakKiB - result.samples[0].peakKiB, 1024);
#endif
}

} // namespace
