// The soak run's figures: resident memory of the real client after 1,000, 5,000 and 10,000
// navigations on the virtual clock (soak-cycle.script played 1,000 times), and the time per
// navigation. Memory should be flat after the first thousand.
#include "SoakRun.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

void BM_Soak10kNavigations(benchmark::State& state)
{
    for (auto _ : state) {
        auto result = soak::run(STREET_CLIENT_BIN, STREET_RESOURCES_DIR, STREET_BENCH_DIR "/soak-cycle.script", 1000,
                                {1000, 5000, 10000});
        if (result.exitCode != 0 || result.samples.size() != 3) {
            state.SkipWithError(("the soak run failed: " + result.error).c_str());
            break;
        }
        state.SetIterationTime(result.seconds);
        for (const auto& sample : result.samples) {
            std::string at = std::to_string(sample.navigations / 1000) + "k";
            state.counters["rss_KiB_" + at] = static_cast<double>(sample.rssKiB);
            state.counters["peak_KiB_" + at] = static_cast<double>(sample.peakKiB);
        }
        state.counters["us_per_navigation"] = result.seconds * 1e6 / result.navigations;
        std::fprintf(stderr, "soak: resident KiB after 1k / 5k / 10k navigations: %ld / %ld / %ld (peak %ld)\n",
                     result.samples[0].rssKiB, result.samples[1].rssKiB, result.samples[2].rssKiB,
                     result.samples[2].peakKiB);
    }
}
BENCHMARK(BM_Soak10kNavigations)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
