#pragma once

#include "kit/RunLoop.h"

#include <glib.h>
#include <map>

namespace backend::gtk {

// Carries the kit's real-clock run loop on the GLib main context: one GSource whose timeout is
// the next due task and whose fds are the loop's watches. Whatever iterates the context (GTK's
// main loop, a nested loop, RunLoop::runOnce) then runs the kit's tasks in time order. While the
// kit's loop is held, the source neither wakes the context nor runs anything.
class GLibRunLoopDriver : public kit::RunLoopDriver {
public:
    explicit GLibRunLoopDriver(kit::RunLoop& loop);
    ~GLibRunLoopDriver() override;
    GLibRunLoopDriver(const GLibRunLoopDriver&) = delete;
    GLibRunLoopDriver& operator=(const GLibRunLoopDriver&) = delete;

    void wait(std::int64_t maxWait) override;

private:
    struct Source;
    static gboolean prepare(GSource* source, gint* timeout);
    static gboolean check(GSource* source);
    static gboolean dispatch(GSource* source, GSourceFunc, gpointer);
    void syncWatches();

    struct Tag {
        gpointer tag;
        int fd;
        short events;
    };
    kit::RunLoop& loop_;
    Source* source_ = nullptr;
    std::map<kit::RunLoop::WatchId, Tag> tags_;
};

} // namespace backend::gtk
