#pragma once

#include "backend/headless/ScriptPlayer.h"

namespace backend::gtk {

class AlertViewPeer;
class WindowPeer;

// Plays scenario scripts in the window on the real clock. The user's input goes through the
// widgets (a tab's button is clicked, an alert's button pressed, a key sent to the window), so
// a script proves the wiring a person's click or key press takes.
class ScriptPlayer : public headless::ScriptPlayer {
public:
    ScriptPlayer(const headless::AppHooks& hooks, WindowPeer& window, AlertViewPeer& alerts, const bool& closed)
        : headless::ScriptPlayer(hooks, headless::ClockKind::Real)
        , hooks_(hooks)
        , window_(window)
        , alerts_(alerts)
        , closed_(closed)
    {
    }

protected:
    void perform(const headless::ScriptCommand& command) override;

private:
    // False when the window cannot take keys.
    bool sendKey(const kit::KeyPress& key);

    const headless::AppHooks& hooks_;
    WindowPeer& window_;
    AlertViewPeer& alerts_;
    const bool& closed_;
};

} // namespace backend::gtk
