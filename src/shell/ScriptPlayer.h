#pragma once

#include "shell/Options.h"
#include "shell/Script.h"

namespace kit {
class WebView;
}

namespace shell {

class Recorder;

// Plays a scenario script's commands against the running application: the user's taps and
// presses, the page's navigations, the network's answers and the platform's notifications.
// Input that no person could give at that moment is not delivered but written as `ignored`.
class ScriptPlayer {
public:
    ScriptPlayer(const AppHooks& hooks, ClockKind clock) : hooks_(hooks), clock_(clock) {}
    virtual ~ScriptPlayer() = default;

    // Plays one command, then lets the run loop turn once. False when the script asks to quit.
    bool play(const ScriptCommand& command);

    // Every command played is shown to the recorder first (none: not recording).
    void setRecorder(Recorder* recorder) { recorder_ = recorder; }

    // One run-loop turn: what is due now runs (real clock: ready fds too, without waiting).
    void turn();

protected:
    // A backend with a screen plays the user's input through its widgets instead.
    // Every command but the network's answers and the movie's progress, which only a backend
    // that fakes them can play (here they are ignored).
    virtual void perform(const ScriptCommand& command);
    void ignored(const ScriptCommand& command);
    static kit::WebView* applicationWebView();

private:
    const AppHooks& hooks_;
    ClockKind clock_;
    Recorder* recorder_ = nullptr;
};

} // namespace shell
