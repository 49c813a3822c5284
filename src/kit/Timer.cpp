#include "kit/Timer.h"

namespace kit {

Timer::Timer(double interval, std::function<void()> onTimeout)
    : interval_(interval)
    , onTimeout_(std::move(onTimeout))
{
}

std::shared_ptr<Timer> Timer::scheduledTimer(double interval, std::function<void()> onTimeout)
{
    auto timer = std::make_shared<Timer>(interval, std::move(onTimeout));
    timer->task_ = RunLoop::main().schedule(RunLoop::toMicros(interval), [timer] {
        if (!timer->valid_)
            return;
        timer->valid_ = false;
        // Move the callback out first: it may drop the last other reference to this timer.
        auto callback = std::move(timer->onTimeout_);
        timer->onTimeout_ = nullptr;
        if (callback)
            callback();
    });
    return timer;
}

void Timer::invalidate()
{
    if (!valid_)
        return;
    valid_ = false;
    RunLoop::main().cancel(task_);
    onTimeout_ = nullptr;
}

} // namespace kit
