#include "backend/gtk/GLibRunLoopDriver.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace backend::gtk {

struct GLibRunLoopDriver::Source {
    GSource base;
    GLibRunLoopDriver* driver;
};

namespace {

GSourceFuncs sourceFuncs = {};

// Poll bits and GIOCondition bits are the same numbers on Linux; spelled out to stay honest.
GIOCondition toCondition(short events)
{
    int condition = 0;
    if (events & 0x001) condition |= G_IO_IN;
    if (events & 0x002) condition |= G_IO_PRI;
    if (events & 0x004) condition |= G_IO_OUT;
    return static_cast<GIOCondition>(condition | G_IO_ERR | G_IO_HUP);
}

short toEvents(GIOCondition condition)
{
    short events = 0;
    if (condition & G_IO_IN) events |= 0x001;
    if (condition & G_IO_PRI) events |= 0x002;
    if (condition & G_IO_OUT) events |= 0x004;
    if (condition & G_IO_ERR) events |= 0x008;
    if (condition & G_IO_HUP) events |= 0x010;
    if (condition & G_IO_NVAL) events |= 0x020;
    return events;
}

} // namespace

GLibRunLoopDriver::GLibRunLoopDriver(kit::RunLoop& loop)
    : loop_(loop)
{
    sourceFuncs.prepare = &GLibRunLoopDriver::prepare;
    sourceFuncs.check = &GLibRunLoopDriver::check;
    sourceFuncs.dispatch = &GLibRunLoopDriver::dispatch;
    source_ = reinterpret_cast<Source*>(g_source_new(&sourceFuncs, sizeof(Source)));
    source_->driver = this;
    g_source_set_name(&source_->base, "kit run loop");
    g_source_attach(&source_->base, nullptr);
}

GLibRunLoopDriver::~GLibRunLoopDriver()
{
    g_source_destroy(&source_->base);
    g_source_unref(&source_->base);
}

void GLibRunLoopDriver::syncWatches()
{
    // A held loop watches nothing: a ready fd that nobody may read would wake the context at once,
    // again and again.
    std::map<kit::RunLoop::WatchId, std::pair<int, short>> wanted;
    if (!loop_.isHeld())
        loop_.forEachWatch([&](kit::RunLoop::WatchId id, int fd, short events) { wanted[id] = {fd, events}; });
    for (auto it = tags_.begin(); it != tags_.end();) {
        auto found = wanted.find(it->first);
        if (found == wanted.end() || found->second.first != it->second.fd) {
            g_source_remove_unix_fd(&source_->base, it->second.tag);
            it = tags_.erase(it);
            continue;
        }
        if (found->second.second != it->second.events) {
            g_source_modify_unix_fd(&source_->base, it->second.tag, toCondition(found->second.second));
            it->second.events = found->second.second;
        }
        ++it;
    }
    for (const auto& [id, watch] : wanted) {
        if (tags_.count(id))
            continue;
        gpointer tag = g_source_add_unix_fd(&source_->base, watch.first, toCondition(watch.second));
        tags_.emplace(id, Tag{tag, watch.first, watch.second});
    }
}

gboolean GLibRunLoopDriver::prepare(GSource* source, gint* timeout)
{
    auto* self = reinterpret_cast<Source*>(source)->driver;
    self->syncWatches();
    auto due = self->loop_.nextDue();
    if (!due || self->loop_.isHeld()) {
        *timeout = -1;
        return FALSE;
    }
    std::int64_t wait = *due - self->loop_.now();
    if (wait <= 0) {
        *timeout = 0;
        return TRUE;
    }
    // Round up, so the task is due when the context wakes.
    *timeout = static_cast<gint>(std::min<std::int64_t>((wait + 999) / 1000, G_MAXINT));
    return FALSE;
}

gboolean GLibRunLoopDriver::check(GSource* source)
{
    auto* self = reinterpret_cast<Source*>(source)->driver;
    if (self->loop_.isHeld())
        return FALSE;
    for (const auto& [id, tag] : self->tags_)
        if (g_source_query_unix_fd(source, tag.tag))
            return TRUE;
    auto due = self->loop_.nextDue();
    return due && *due <= self->loop_.now();
}

gboolean GLibRunLoopDriver::dispatch(GSource* source, GSourceFunc, gpointer)
{
    auto* self = reinterpret_cast<Source*>(source)->driver;
    std::vector<std::pair<kit::RunLoop::WatchId, short>> ready;
    for (const auto& [id, tag] : self->tags_)
        if (auto condition = g_source_query_unix_fd(source, tag.tag))
            ready.emplace_back(id, toEvents(condition));
    kit::RunLoop& loop = self->loop_;
    for (const auto& [id, events] : ready)
        loop.dispatchWatch(id, events);
    loop.runDueTasks();
    return G_SOURCE_CONTINUE;
}

void GLibRunLoopDriver::wait(std::int64_t maxWait)
{
    if (maxWait <= 0) {
        g_main_context_iteration(nullptr, FALSE);
        return;
    }
    // A wake-up source bounds the wait; whatever else is ready comes first.
    bool woke = false;
    GSource* timer = g_timeout_source_new(static_cast<guint>(std::min<std::int64_t>((maxWait + 999) / 1000, G_MAXUINT)));
    g_source_set_callback(
        timer, [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &woke, nullptr);
    g_source_attach(timer, nullptr);
    g_main_context_iteration(nullptr, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
}

} // namespace backend::gtk
