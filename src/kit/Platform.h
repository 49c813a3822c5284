#pragma once

#include "kit/RunLoop.h"

namespace kit {

// Everything the kit keeps for the whole process, as one session: what a run installs (the
// event sink, the alert presenter, the engine, movie and address-book factories, the sound
// player, the focus observer, the post's waiter) and what it makes (the application and its
// windows, alerts, notifications, sounds, timers). Runs, tools and tests begin and end one with
// reset(), so nothing of an earlier run reaches the next, in whatever order things were set up.
class Platform {
public:
    // The cookie jar and the trusted authorities are the network's settings: a tool that explains
    // many pages in one process keeps them.
    enum class Network { Reset, Keep };

    // Back to what a fresh process has, the main run loop new on `clock`. What the platform
    // shows (the presenter, the focus observer) is let go before what it shows goes, so no peer
    // hears of a model that is being torn down.
    static void reset(RunLoop::Clock clock = RunLoop::Clock::Virtual, Network network = Network::Reset);
};

} // namespace kit
