#pragma once

#include "backend/headless/Runner.h"
#include "backend/headless/Script.h"

namespace backend::headless {

// Plays a scenario script's commands against the running application: the user's taps and
// presses, the page's navigations, the network's answers and the platform's notifications.
// Input that no person could give at that moment is not delivered but written as `ignored`.
class ScriptPlayer {
public:
    ScriptPlayer(const AppHooks& hooks, ClockKind clock) : hooks_(hooks), clock_(clock) {}
    virtual ~ScriptPlayer() = default;

    // Plays one command, then lets the run loop turn once. False when the script asks to quit.
    bool play(const ScriptCommand& command);

    // One run-loop turn: what is due now runs (real clock: ready fds too, without waiting).
    void turn();

protected:
    // A backend with a screen plays the user's input through its widgets instead.
    virtual void perform(const ScriptCommand& command);
    void ignored(const ScriptCommand& command);

private:
    const AppHooks& hooks_;
    ClockKind clock_;
};

} // namespace backend::headless
