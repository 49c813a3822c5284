#include "backend/headless/HeadlessMoviePlayer.h"

namespace backend::headless {

static std::weak_ptr<kit::Object>& latestSlot()
{
    static std::weak_ptr<kit::Object> slot;
    return slot;
}

static std::shared_ptr<kit::MoviePlayerController> lock(const std::weak_ptr<kit::Object>& weak)
{
    return std::dynamic_pointer_cast<kit::MoviePlayerController>(weak.lock());
}

HeadlessMoviePlayer::HeadlessMoviePlayer(kit::MoviePlayerController& controller, std::optional<double> seconds)
    : controller_(controller.weak_from_this())
    , seconds_(seconds)
{
    latestSlot() = controller_;
    if (!seconds_)
        return;
    preloadTask_ = kit::RunLoop::main().post([weak = controller_] {
        if (auto player = lock(weak))
            player->postPreloadDidFinish();
    });
}

HeadlessMoviePlayer::~HeadlessMoviePlayer()
{
    kit::RunLoop::main().cancel(preloadTask_);
    kit::RunLoop::main().cancel(playbackTask_);
}

void HeadlessMoviePlayer::play(kit::MoviePlayerController&)
{
    kit::RunLoop::main().cancel(playbackTask_);
    if (!seconds_)
        return;
    playbackTask_ = kit::RunLoop::main().schedule(kit::RunLoop::toMicros(*seconds_), [weak = controller_] {
        if (auto player = lock(weak))
            player->postPlaybackDidFinish();
    });
}

std::shared_ptr<kit::MoviePlayerController> HeadlessMoviePlayer::latest() { return lock(latestSlot()); }

} // namespace backend::headless
