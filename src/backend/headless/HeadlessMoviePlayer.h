#pragma once

#include "kit/MoviePlayerController.h"
#include "kit/RunLoop.h"

#include <memory>
#include <optional>

namespace backend::headless {

// A movie output that shows nothing: the movie is preloaded on the next run-loop turn and has
// played to its end `seconds` after it started; with no seconds, only the script moves it on.
class HeadlessMoviePlayer : public kit::MoviePlayerPeer {
public:
    HeadlessMoviePlayer(kit::MoviePlayerController& controller, std::optional<double> seconds);
    ~HeadlessMoviePlayer() override;

    void play(kit::MoviePlayerController& controller) override;

    // The player made last, while it lives (the script's `movie` commands act on it).
    static std::shared_ptr<kit::MoviePlayerController> latest();

private:
    std::weak_ptr<kit::Object> controller_;
    std::optional<double> seconds_;
    kit::RunLoop::TaskId preloadTask_ = 0;
    kit::RunLoop::TaskId playbackTask_ = 0;
};

} // namespace backend::headless
