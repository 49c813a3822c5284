#pragma once

#include "kit/AddressBook.h"
#include "kit/MoviePlayerController.h"
#include "kit/RunLoop.h"
#include "kit/WebView.h"

#include <functional>
#include <memory>

namespace kit {

class AlertViewPresenter;
class EventSink;

// What a backend supplies to the kit for one run: its clock, engines and services. What is left
// empty is the kit's own: no web engine, the contacts file, no record of events, alerts that
// nobody sees.
struct Platform {
    // The cookie jar and the trusted authorities are the network's settings: a tool that explains
    // many pages in one process keeps them from one session to the next.
    enum class Network { Reset, Keep };

    RunLoop::Clock clock = RunLoop::Clock::Virtual;
    std::function<std::unique_ptr<RunLoopDriver>(RunLoop&)> runLoopDriver;
    WebView::EngineFactory engines;
    MoviePlayerController::PeerFactory movies;
    AddressBook::Source addressBook;
    EventSink* events = nullptr;
    AlertViewPresenter* alerts = nullptr;
    Network network = Network::Reset;
};

// One platform for the kit's whole process-wide state, from a fresh process to a fresh process.
// Made, it clears whatever an earlier run left (the application and its windows, alerts,
// notifications, sounds, timers, the main run loop) and installs `platform`; ended (or
// destroyed), it lets all of that go again, what shows the kit (the presenter, the focus
// observer) before what it shows, so no peer hears of a model being torn down. Runs, tools and
// tests each hold one.
class PlatformSession {
public:
    explicit PlatformSession(Platform platform = {});
    ~PlatformSession() { end(); }
    PlatformSession(const PlatformSession&) = delete;
    PlatformSession& operator=(const PlatformSession&) = delete;

    // Ends the session before it goes out of scope (a backend that must let go of the kit before
    // its own peers go); once only.
    void end();

private:
    Platform::Network network_;
    bool ended_ = false;
};

} // namespace kit
