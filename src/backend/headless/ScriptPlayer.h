#pragma once

#include "shell/ScriptPlayer.h"

namespace backend::headless {

// Headless, the script also answers for the network (`finish`, `fail`) and the movie.
class ScriptPlayer : public shell::ScriptPlayer {
public:
    using shell::ScriptPlayer::ScriptPlayer;

protected:
    void perform(const shell::ScriptCommand& command) override;
};

} // namespace backend::headless
