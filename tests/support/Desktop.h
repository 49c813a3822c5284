#pragma once

// Runs of the client in its window: a suite shares one demo server and is skipped without a
// display (./dev test runs the suite under xvfb-run and a private session bus).

#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace scenario {

inline bool haveDisplay() { return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"); }

class DesktopSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new DemoServer(); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override
    {
        if (!haveDisplay())
            GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
        ASSERT_TRUE(server_->started());
    }
    static inline DemoServer* server_ = nullptr;
};

// Runs `script` in the window at scale 1 against the server at `hostPort`, outside links only
// recorded and the intro movie cut to `movieSeconds`; the run must end cleanly.
inline Transcript runInWindow(const std::string& script, const std::string& hostPort, const std::string& movieSeconds,
                              const std::vector<std::string>& args = {})
{
    std::vector<std::string> all{"--scale", "1", "--movie-seconds", movieSeconds, "--open-urls", "record", "--server",
                                 hostPort};
    all.insert(all.end(), args.begin(), args.end());
    ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 60;
    auto transcript = runScenario(script, all, options);
    EXPECT_EQ(transcript.exitCode, 0) << transcript.stderrText << transcript.dump();
    return transcript;
}

// The first widget of a `state` line's window whose `field` is `value`, or null.
inline const nlohmann::json* widget(const nlohmann::json& state, const std::string& field, const std::string& value)
{
    for (const auto& w : state["window"]["widgets"])
        if (w[field] == value)
            return &w;
    return nullptr;
}

} // namespace scenario
