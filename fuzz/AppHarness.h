#pragma once

// The whole client, started once per fuzzing process the way the headless runner starts it
// (scripted web engine, virtual clock, a throwaway data directory) and then kept: every input
// meets the state the inputs before it left behind, as a long session would.

#include "shell/Script.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kit {
class WebView;
}

namespace fuzz {

class AppHarness {
public:
    // Started on first use; torn down (data directory removed) when the process exits.
    static AppHarness& instance();

    // Plays one scenario command, as the runner does (the command, then one run-loop turn).
    void play(shell::ScriptCommand command);
    void navigate(std::string url);
    void wait(double seconds);
    void press(size_t index);
    void type(std::string text);
    void finish();
    void fail(int code, std::string description);
    void toolbar(std::string title);
    void row(int section, int row);
    void state();

    // Presses the first button of the frontmost alert until at most `keep` are left. An alert
    // without buttons (a page may ask for one) cannot be closed by anyone: it goes as if the
    // player had restarted the client.
    void answerAlerts(size_t keep);

    size_t alertCount() const;
    bool modalShown() const;

    const std::string& dataDirectory() const { return dataDir_; }
    // Where invite posts go: "127.0.0.1:PORT" (nothing needs to listen there).
    void setServer(const std::string& hostPort);

    AppHarness(const AppHarness&) = delete;
    AppHarness& operator=(const AppHarness&) = delete;

private:
    AppHarness();
    ~AppHarness();
    std::string dataDir_;
};

// A cheap, stable hash of an input: the harnesses derive their choices from it, so that an input
// alone decides what happens to it.
std::uint64_t inputHash(std::string_view bytes);

} // namespace fuzz
