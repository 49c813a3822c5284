#pragma once

#include "kit/URLConnection.h"

#include <gtk/gtk.h>

namespace backend::gtk {

// Waits for a synchronous exchange (the invite post) on the GLib main context, so that the
// window goes on drawing and answering the desktop while the kit's run loop is held: no input
// reaches the window meanwhile, and closing it (or a stop signal) gives the exchange up at once.
// Counts the window's frames from the exchange's start to its end.
class ExchangeWaiter : public kit::URLConnection::Waiter {
public:
    // `closed` turns true when the run is to end.
    ExchangeWaiter(GtkWindow* window, const bool& closed) : window_(window), closed_(closed) {}
    ~ExchangeWaiter() override;
    ExchangeWaiter(const ExchangeWaiter&) = delete;
    ExchangeWaiter& operator=(const ExchangeWaiter&) = delete;

    void begin() override;
    std::optional<long> end() override;
    bool wait(std::vector<pollfd>& fds, std::chrono::milliseconds timeout) override;

private:
    GtkWindow* window_;
    const bool& closed_;
    GdkFrameClock* clock_ = nullptr;
    gulong paintHandler_ = 0;
    long frames_ = 0;
    bool filtering_ = false;
};

} // namespace backend::gtk
