#pragma once

#include "backend/gtk/DesktopMoviePlayer.h"
#include "shell/ScriptPlayer.h"

namespace backend::gtk {

class AlertViewPeer;
class WindowPeer;

// Plays scenario scripts in the window on the real clock. The user's input goes through the
// widgets (a tab's button is clicked, an alert's button pressed, a key sent to the window), so
// a script proves the wiring a person's click or key press takes.
class ScriptPlayer : public shell::ScriptPlayer {
public:
    // The script's `movie` commands act on the latest player that `movies` made.
    ScriptPlayer(const shell::AppHooks& hooks, WindowPeer& window, AlertViewPeer& alerts,
                 const DesktopMoviePlayer::Factory& movies, const bool& closed)
        : shell::ScriptPlayer(hooks, shell::ClockKind::Real)
        , hooks_(hooks)
        , window_(window)
        , alerts_(alerts)
        , movies_(movies)
        , closed_(closed)
    {
    }

protected:
    void perform(const shell::ScriptCommand& command) override;

private:
    // False when the window cannot take keys.
    bool sendKey(const kit::KeyPress& key);

    const shell::AppHooks& hooks_;
    WindowPeer& window_;
    AlertViewPeer& alerts_;
    const DesktopMoviePlayer::Factory& movies_;
    const bool& closed_;
};

} // namespace backend::gtk
