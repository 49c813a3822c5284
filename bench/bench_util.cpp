#include "app/Util.h"

#include <random>

#include <benchmark/benchmark.h>

using street::Util;

namespace {

// A page command as the game server writes them: 300 bytes, twelve pairs, the wanted one
// second to last.
std::string commandUrl()
{
    const char* keys[] = {"showCarsBg", "hideTabBar", "badge0", "badge1", "badge2", "badge3",
        "alertTitle", "btn0Text", "btn0JS", "alertMsg", "playSound", "tapSoundDelay"};
    std::string url = "http://game.example.net/missions.php?";
    for (int i = 0; i < 12; ++i) {
        if (i)
            url += '&';
        url += keys[i];
        url += '=';
        url += i == 9 ? "%s" : "value" + std::to_string(i * 7919);
    }
    // The alert text fills the URL up to its length, with escapes as pages send them.
    std::string message;
    const std::string words = "You%20won%20the%20race%21%20Collect%20your%20cash%20at%20the%20bank.%20";
    while (message.size() + url.size() - 2 < 300)
        message += words[message.size() % words.size()];
    url.replace(url.find("%s"), 2, message);
    return url;
}

void BM_ExtractParamValCommandUrl(benchmark::State& state)
{
    const std::string url = commandUrl();
    for (auto _ : state)
        benchmark::DoNotOptimize(Util::extractParamVal("playSound", url));
    state.counters["url_bytes"] = static_cast<double>(url.size());
}
BENCHMARK(BM_ExtractParamValCommandUrl);

void BM_ExtractParamValLongUrl(benchmark::State& state)
{
    std::string url = "http://game.example.net/page.php?";
    for (int i = 0; url.size() < 64 * 1024 - 32; ++i)
        url += "k" + std::to_string(i) + "=v" + std::to_string(i) + "&";
    url += "target=found%21";
    for (auto _ : state)
        benchmark::DoNotOptimize(Util::extractParamVal("target", url));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * url.size()));
}
BENCHMARK(BM_ExtractParamValLongUrl);

void BM_Md5ShortText(benchmark::State& state)
{
    std::string text(64, 'a');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('a' + i % 26);
    for (auto _ : state)
        benchmark::DoNotOptimize(Util::md5(text));
}
BENCHMARK(BM_Md5ShortText);

void BM_Base64(benchmark::State& state)
{
    std::vector<std::uint8_t> data(static_cast<std::size_t>(state.range(0)));
    std::mt19937 rng(7);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(rng());
    for (auto _ : state)
        benchmark::DoNotOptimize(Util::base64EncodingWithLineLength(std::span<const std::uint8_t>(data)));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Base64)->Arg(32)->Arg(1 << 20);

}

BENCHMARK_MAIN();
