#pragma once

#include "kit/RunLoop.h"

#include <functional>
#include <memory>

namespace kit {

// A one-shot timer on the main run loop. The run loop keeps a scheduled timer alive until it
// fires or is invalidated, so a timer that nothing keeps still fires.
class Timer : public std::enable_shared_from_this<Timer> {
public:
    static std::shared_ptr<Timer> scheduledTimer(double interval, std::function<void()> onTimeout);

    bool isValid() const { return valid_; }
    void invalidate();
    double timeInterval() const { return interval_; }

    Timer(double interval, std::function<void()> onTimeout);

private:
    double interval_;
    std::function<void()> onTimeout_;
    RunLoop::TaskId task_ = 0;
    bool valid_ = true;
};

} // namespace kit
