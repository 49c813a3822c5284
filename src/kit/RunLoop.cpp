#include "kit/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <poll.h>

namespace kit {

static std::int64_t steadyMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

static std::unique_ptr<RunLoop>& mainSlot()
{
    // Never destroyed: objects torn down at exit may still cancel their tasks.
    static auto* loop = new std::unique_ptr<RunLoop>();
    return *loop;
}

static std::uint64_t nextSerial = 1;

RunLoop::RunLoop(Clock clock)
    : clock_(clock)
    , serial_(nextSerial++)
    , realStart_(steadyMicros())
{
}

RunLoop& RunLoop::main()
{
    auto& slot = mainSlot();
    if (!slot)
        slot = std::make_unique<RunLoop>(Clock::Virtual);
    return *slot;
}

void RunLoop::resetMain(Clock clock) { mainSlot() = std::make_unique<RunLoop>(clock); }

RunLoop::Micros RunLoop::now() const
{
    return clock_ == Clock::Virtual ? virtualNow_ : steadyMicros() - realStart_;
}

RunLoop::Micros RunLoop::toMicros(double seconds)
{
    // NaN and non-positive intervals fire at once; an infinite one never comes due.
    if (std::isnan(seconds) || seconds <= 0)
        return 0;
    constexpr double maxSeconds = 1.0e12; // keeps due times far inside int64
    return static_cast<Micros>(std::llround(std::min(seconds, maxSeconds) * 1e6));
}

// The time `delay` after `from`, held at the end of time rather than wrapping: scripted waits of
// up to the longest interval each still add up past what int64 microseconds can hold.
static RunLoop::Micros later(RunLoop::Micros from, RunLoop::Micros delay)
{
    delay = std::max<RunLoop::Micros>(delay, 0);
    constexpr auto end = std::numeric_limits<RunLoop::Micros>::max();
    return from > end - delay ? end : from + delay;
}

// Shared by every loop, so a task id from a replaced loop never names a task of the new one.
static std::uint64_t nextSeq = 1;

RunLoop::TaskId RunLoop::schedule(Micros delay, std::function<void()> task)
{
    Key key{later(now(), delay), nextSeq++};
    TaskId id = key.seq;
    tasks_.emplace(key, std::make_pair(id, std::move(task)));
    index_.emplace(id, key);
    return id;
}

void RunLoop::cancel(TaskId id)
{
    auto it = index_.find(id);
    if (it == index_.end())
        return;
    tasks_.erase(it->second);
    index_.erase(it);
}

std::optional<RunLoop::Micros> RunLoop::nextDue() const
{
    if (tasks_.empty())
        return std::nullopt;
    return tasks_.begin()->first.due;
}

bool RunLoop::runOneDue(Micros limit)
{
    if (holds_ > 0 || tasks_.empty() || tasks_.begin()->first.due > limit)
        return false;
    auto node = tasks_.extract(tasks_.begin());
    index_.erase(node.mapped().first);
    if (clock_ == Clock::Virtual)
        virtualNow_ = std::max(virtualNow_, node.key().due);
    node.mapped().second();
    return true;
}

void RunLoop::advance(Micros duration)
{
    if (clock_ != Clock::Virtual) {
        runFor(duration);
        return;
    }
    Micros target = later(virtualNow_, duration);
    while (runOneDue(target)) { }
    virtualNow_ = target;
}

RunLoop::WatchId RunLoop::addWatch(int fd, short events, std::function<void(short)> callback)
{
    WatchId id = nextWatch_++;
    watches_.emplace(id, Watch{fd, events, std::move(callback)});
    return id;
}

void RunLoop::updateWatch(WatchId id, short events)
{
    auto it = watches_.find(id);
    if (it != watches_.end())
        it->second.events = events;
}

void RunLoop::removeWatch(WatchId id) { watches_.erase(id); }

void RunLoop::pollFds(Micros wait)
{
    std::vector<pollfd> fds;
    std::vector<WatchId> ids;
    for (auto& [id, watch] : watches_) {
        fds.push_back(pollfd{watch.fd, watch.events, 0});
        ids.push_back(id);
    }
    int timeoutMs = static_cast<int>(std::min<Micros>((wait + 999) / 1000, 1000 * 60));
    int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready <= 0)
        return;
    for (size_t i = 0; i < fds.size(); ++i) {
        if (!fds[i].revents)
            continue;
        // A callback may remove other watches; look each one up again.
        dispatchWatch(ids[i], fds[i].revents);
    }
}

void RunLoop::dispatchWatch(WatchId id, short revents)
{
    if (holds_ > 0)
        return;
    auto it = watches_.find(id);
    if (it == watches_.end())
        return;
    auto callback = it->second.callback;
    callback(revents);
}

void RunLoop::forEachWatch(const std::function<void(WatchId, int, short)>& visit) const
{
    for (const auto& [id, watch] : watches_)
        visit(id, watch.fd, watch.events);
}

void RunLoop::setDriver(std::unique_ptr<RunLoopDriver> driver) { driver_ = std::move(driver); }

void RunLoop::runDueTasks()
{
    Micros limit = now();
    while (runOneDue(limit)) { }
}

void RunLoop::runOnce(Micros maxWait)
{
    if (clock_ == Clock::Virtual) {
        advance(0);
        return;
    }
    Micros wait = std::max<Micros>(maxWait, 0);
    if (auto due = nextDue())
        wait = std::clamp<Micros>(*due - now(), 0, wait);
    if (driver_)
        driver_->wait(wait);
    else
        pollFds(wait);
    runDueTasks();
}

bool RunLoop::runUntil(const std::function<bool()>& done, Micros timeout)
{
    Micros deadline = later(now(), timeout);
    if (clock_ == Clock::Virtual) {
        advance(0);
        while (!done() && holds_ == 0) {
            auto due = nextDue();
            if (!due || *due > deadline) {
                virtualNow_ = std::max(virtualNow_, deadline);
                break;
            }
            advance(*due - virtualNow_);
        }
        return done();
    }
    while (!done() && now() < deadline)
        runOnce(deadline - now());
    return done();
}

void RunLoop::runFor(Micros duration)
{
    if (clock_ == Clock::Virtual) {
        advance(duration);
        return;
    }
    Micros deadline = later(now(), duration);
    do {
        runOnce(deadline - now());
    } while (now() < deadline);
}

} // namespace kit
