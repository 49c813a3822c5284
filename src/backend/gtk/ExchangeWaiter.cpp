#include "backend/gtk/ExchangeWaiter.h"

#include <utility>

namespace backend::gtk {

namespace {

// Everything but input goes on as usual: drawing, the window manager's pings and requests
// (closing the window among them), focus, clipboard.
void dropInput(GdkEvent* event, gpointer)
{
    switch (event->type) {
    case GDK_MOTION_NOTIFY:
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_3BUTTON_PRESS:
    case GDK_BUTTON_RELEASE:
    case GDK_KEY_PRESS:
    case GDK_KEY_RELEASE:
    case GDK_ENTER_NOTIFY:
    case GDK_LEAVE_NOTIFY:
    case GDK_SCROLL:
    case GDK_PROXIMITY_IN:
    case GDK_PROXIMITY_OUT:
    case GDK_DRAG_ENTER:
    case GDK_DRAG_LEAVE:
    case GDK_DRAG_MOTION:
    case GDK_DRAG_STATUS:
    case GDK_DROP_START:
    case GDK_DROP_FINISHED:
    case GDK_TOUCH_BEGIN:
    case GDK_TOUCH_UPDATE:
    case GDK_TOUCH_END:
    case GDK_TOUCH_CANCEL:
    case GDK_TOUCHPAD_SWIPE:
    case GDK_TOUCHPAD_PINCH:
    case GDK_PAD_BUTTON_PRESS:
    case GDK_PAD_BUTTON_RELEASE:
    case GDK_PAD_RING:
    case GDK_PAD_STRIP:
    case GDK_PAD_GROUP_MODE:
        return;
    default:
        gtk_main_do_event(event);
    }
}

// Ready when one of its fds is, or at its ready time. GLib clears what poll() said of the fds
// once the source is dispatched, so dispatch keeps it.
struct WaitSource {
    GSource base;
    bool* ready;
    std::vector<std::pair<gpointer, GIOCondition>>* fds;
};

GSourceFuncs waitFuncs = {
    nullptr, nullptr,
    [](GSource* source, GSourceFunc, gpointer) -> gboolean {
        auto* wait = reinterpret_cast<WaitSource*>(source);
        *wait->ready = true;
        for (auto& [tag, condition] : *wait->fds)
            condition = g_source_query_unix_fd(source, tag);
        return G_SOURCE_CONTINUE;
    },
    nullptr, nullptr, nullptr,
};

GIOCondition conditionOf(short events)
{
    return static_cast<GIOCondition>(((events & POLLIN) ? G_IO_IN : 0) | ((events & POLLOUT) ? G_IO_OUT : 0) | G_IO_ERR | G_IO_HUP);
}

short eventsOf(GIOCondition condition)
{
    return static_cast<short>(((condition & G_IO_IN) ? POLLIN : 0) | ((condition & G_IO_OUT) ? POLLOUT : 0)
                              | ((condition & G_IO_ERR) ? POLLERR : 0) | ((condition & G_IO_HUP) ? POLLHUP : 0)
                              | ((condition & G_IO_NVAL) ? POLLNVAL : 0));
}

} // namespace

ExchangeWaiter::~ExchangeWaiter()
{
    if (filtering_ || paintHandler_)
        end();
}

void ExchangeWaiter::begin()
{
    frames_ = 0;
    gdk_event_handler_set(&dropInput, nullptr, nullptr);
    filtering_ = true;
    clock_ = window_ ? gtk_widget_get_frame_clock(GTK_WIDGET(window_)) : nullptr;
    if (clock_) {
        g_object_ref(clock_);
        paintHandler_ = g_signal_connect(clock_, "after-paint", G_CALLBACK(+[](GdkFrameClock*, gpointer frames) {
            ++*static_cast<long*>(frames);
        }), &frames_);
    }
}

std::optional<long> ExchangeWaiter::end()
{
    if (filtering_)
        gdk_event_handler_set(+[](GdkEvent* event, gpointer) { gtk_main_do_event(event); }, nullptr, nullptr);
    filtering_ = false;
    if (clock_) {
        g_signal_handler_disconnect(clock_, paintHandler_);
        g_object_unref(clock_);
    }
    clock_ = nullptr;
    paintHandler_ = 0;
    return frames_;
}

bool ExchangeWaiter::wait(std::vector<pollfd>& fds, std::chrono::milliseconds timeout)
{
    if (closed_)
        return false;
    bool ready = false;
    std::vector<std::pair<gpointer, GIOCondition>> polled;
    auto* source = reinterpret_cast<WaitSource*>(g_source_new(&waitFuncs, sizeof(WaitSource)));
    source->ready = &ready;
    source->fds = &polled;
    for (const auto& fd : fds)
        polled.emplace_back(g_source_add_unix_fd(&source->base, fd.fd, conditionOf(fd.events)), static_cast<GIOCondition>(0));
    g_source_set_ready_time(&source->base, g_get_monotonic_time() + std::chrono::microseconds(timeout).count());
    g_source_set_name(&source->base, "synchronous exchange");
    g_source_attach(&source->base, nullptr);
    while (!ready && !closed_)
        g_main_context_iteration(nullptr, TRUE);
    for (size_t i = 0; i < fds.size(); ++i)
        fds[i].revents = eventsOf(polled[i].second);
    g_source_destroy(&source->base);
    g_source_unref(&source->base);
    return !closed_;
}

} // namespace backend::gtk
