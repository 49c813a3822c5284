#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kit {

// Lets another event loop (a toolkit's) carry the real clock: the run loop's tasks and fd
// watches are then dispatched from that loop, and runOnce() waits in it instead of in poll().
class RunLoopDriver {
public:
    virtual ~RunLoopDriver() = default;
    // Waits at most `maxWait` microseconds for the outside loop's events and dispatches them.
    virtual void wait(std::int64_t maxWait) = 0;
};

// The one run loop of the process. Everything (timers, animations, engine callbacks) happens on
// it, in one thread. Two clocks: a virtual one that moves only when told to (tests and scripted
// runs are fully deterministic), and the real one, which waits in poll() for timers and fds.
class RunLoop {
public:
    enum class Clock { Virtual, Real };
    using Micros = std::int64_t;
    using TaskId = std::uint64_t;

    explicit RunLoop(Clock clock);
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    static RunLoop& main();
    // Replaces the process's run loop (at start-up, and between tests).
    static void resetMain(Clock clock);

    Clock clock() const { return clock_; }
    // Tells this loop from any other of the process: times of an earlier loop mean nothing here.
    std::uint64_t serial() const { return serial_; }
    Micros now() const;
    double nowSeconds() const { return static_cast<double>(now()) / 1e6; }
    static Micros toMicros(double seconds);

    // One-shot tasks. Equal due times run in scheduling order.
    TaskId schedule(Micros delay, std::function<void()> task);
    TaskId post(std::function<void()> task) { return schedule(0, std::move(task)); }
    void cancel(TaskId id);
    bool isScheduled(TaskId id) const { return index_.count(id) != 0; }
    std::optional<Micros> nextDue() const;

    // Virtual clock: time moves to now + duration; every task due within it runs in time order,
    // including tasks that earlier tasks schedule within the window. advance(0) runs what is due now.
    void advance(Micros duration);
    void advanceSeconds(double seconds) { advance(toMicros(seconds)); }

    // Real clock: file-descriptor watches (poll events), used by the HTTP engine.
    using WatchId = std::uint64_t;
    WatchId addWatch(int fd, short events, std::function<void(short revents)> callback);
    void updateWatch(WatchId id, short events);
    void removeWatch(WatchId id);

    // Real clock: waits at most `maxWait` for the next due task or fd event, then runs what is
    // due. On the virtual clock it is advance(0).
    void runOnce(Micros maxWait);
    // Runs until `done` answers true or `timeout` has passed (virtual: advances in steps to the
    // next due task). Returns done().
    bool runUntil(const std::function<bool()>& done, Micros timeout);
    void runFor(Micros duration);

    // While held, nothing of the loop runs: no task, timer or watch, whatever iterates it, and
    // runOnce() only waits. Tasks scheduled meanwhile run, in time order, once the last hold
    // ends. A synchronous exchange holds the loop, so that nothing of the program runs while a
    // window goes on drawing.
    class Hold {
    public:
        explicit Hold(RunLoop& loop) : loop_(loop) { ++loop_.holds_; }
        ~Hold() { --loop_.holds_; }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        RunLoop& loop_;
    };
    bool isHeld() const { return holds_ > 0; }

    // Real clock only. The driver is owned by the loop and goes with it.
    void setDriver(std::unique_ptr<RunLoopDriver> driver);
    RunLoopDriver* driver() const { return driver_.get(); }
    // For drivers: runs every task due now; calls `visit` for each fd watch; delivers poll events.
    void runDueTasks();
    void forEachWatch(const std::function<void(WatchId, int fd, short events)>& visit) const;
    void dispatchWatch(WatchId id, short revents);

private:
    struct Key {
        Micros due;
        std::uint64_t seq;
        bool operator<(const Key& other) const { return due != other.due ? due < other.due : seq < other.seq; }
    };
    struct Watch {
        int fd;
        short events;
        std::function<void(short)> callback;
    };

    bool runOneDue(Micros limit);
    void pollFds(Micros wait);

    Clock clock_;
    std::uint64_t serial_;
    Micros virtualNow_ = 0;
    std::int64_t realStart_ = 0;
    std::map<Key, std::pair<TaskId, std::function<void()>>> tasks_;
    std::unordered_map<TaskId, Key> index_;
    std::uint64_t nextWatch_ = 1;
    std::map<WatchId, Watch> watches_;
    std::unique_ptr<RunLoopDriver> driver_;
    int holds_ = 0;
};

} // namespace kit
