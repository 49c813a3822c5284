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

// The first widget of a `state` line's window whose `field` is `value`, or null.
inline const nlohmann::json* widget(const nlohmann::json& state, const std::string& field, const std::string& value)
{
    for (const auto& w : state["window"]["widgets"])
        if (w[field] == value)
            return &w;
    return nullptr;
}

} // namespace scenario
