#include "backend/gtk/DesktopMoviePlayer.h"

#include "backend/gtk/WindowPeer.h"
#include "kit/Events.h"

namespace backend::gtk {

namespace {

// A sink that takes the stream at its own pace and shows or plays nothing.
GstElement* silentSink()
{
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (sink)
        g_object_set(sink, "sync", TRUE, nullptr);
    return sink;
}

} // namespace

bool DesktopMoviePlayer::Factory::firstFrameDue() const
{
    return latest_ && latest_->pipeline_ && !latest_->drawn_ && !latest_->ended_;
}

void DesktopMoviePlayer::firstFrameDone()
{
    if (maker_.latest_ == this && maker_.onFirstFrameDone)
        maker_.onFirstFrameDone();
}

std::unique_ptr<kit::MoviePlayerPeer> DesktopMoviePlayer::Factory::operator()(kit::MoviePlayerController& controller)
{
    return std::make_unique<DesktopMoviePlayer>(*this, controller);
}

DesktopMoviePlayer::DesktopMoviePlayer(Factory& maker, kit::MoviePlayerController& controller)
    : maker_(maker)
    , controller_(controller.weak_from_this())
    , name_(controller.name())
    , maxSeconds_(maker.maxSeconds_)
{
    bool soundServer = maker.soundServer_;
    maker_.latest_ = this;
    gst_init(nullptr, nullptr);
    pipeline_ = gst_element_factory_make("playbin", nullptr);
    gchar* uri = pipeline_ ? gst_filename_to_uri(controller.contentURL().c_str(), nullptr) : nullptr;
    if (!pipeline_ || !uri) {
        g_free(uri);
        // Told on the next turn: nobody listens for the movie's notifications before then.
        endTask_ = kit::RunLoop::main().post([this] { end("error"); });
        return;
    }
    gst_object_ref_sink(pipeline_);
    g_object_set(pipeline_, "uri", uri, nullptr);
    g_free(uri);

    GstElement* audio = soundServer ? gst_element_factory_make("pulsesink", nullptr) : nullptr;
    if (audio)
        g_object_set(audio, "client-name", "street-client", nullptr);
    g_object_set(pipeline_, "audio-sink", audio ? audio : silentSink(), nullptr);
    // The video sink draws into a widget that must sit in a toplevel before the pipeline
    // starts (or the sink opens a window of its own); the launch makes the player before the
    // window is up, so the widget waits off screen and moves into the window when there is one.
    GstElement* video = gst_element_factory_make("gtksink", nullptr);
    if (video) {
        g_object_get(video, "widget", &widget_, nullptr);
        g_signal_connect_after(widget_, "draw", G_CALLBACK(onDraw), this);
        offscreen_ = gtk_offscreen_window_new();
        gtk_container_add(GTK_CONTAINER(offscreen_), widget_);
    } else {
        video = silentSink();
    }
    g_object_set(pipeline_, "video-sink", video, nullptr);

    GstBus* bus = gst_element_get_bus(pipeline_);
    busWatch_ = gst_bus_add_watch(bus, onBusMessage, this);
    gst_object_unref(bus);
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        endTask_ = kit::RunLoop::main().post([this] { end("error"); });
    else
        showTask_ = kit::RunLoop::main().post([this] { show(); });
}

DesktopMoviePlayer::~DesktopMoviePlayer()
{
    if (!drawn_ && !ended_)
        firstFrameDone();
    if (maker_.latest_ == this)
        maker_.latest_ = nullptr;
    kit::RunLoop::main().cancel(endTask_);
    kit::RunLoop::main().cancel(showTask_);
    teardown();
    if (offscreen_)
        gtk_widget_destroy(offscreen_);
    if (widget_) {
        g_signal_handlers_disconnect_by_data(widget_, this);
        g_object_unref(widget_);
    }
    if (pipeline_)
        gst_object_unref(pipeline_);
}

std::shared_ptr<kit::MoviePlayerController> DesktopMoviePlayer::controller() const
{
    return std::dynamic_pointer_cast<kit::MoviePlayerController>(controller_.lock());
}

gboolean DesktopMoviePlayer::onBusMessage(GstBus*, GstMessage* message, gpointer data)
{
    auto* self = static_cast<DesktopMoviePlayer*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ASYNC_DONE:
        if (!self->prerolled_ && GST_MESSAGE_SRC(message) == GST_OBJECT(self->pipeline_))
            self->prerolled();
        break;
    case GST_MESSAGE_EOS:
        self->end("end");
        break;
    case GST_MESSAGE_ERROR:
        self->end("error");
        break;
    default:
        break;
    }
    return G_SOURCE_CONTINUE;
}

gboolean DesktopMoviePlayer::onDraw(GtkWidget*, cairo_t*, gpointer data)
{
    auto* self = static_cast<DesktopMoviePlayer*>(data);
    if (!self->drawn_ && self->prerolled_ && self->shownIn_ && !self->ended_) {
        self->drawn_ = true;
        kit::emit("movie", {{"name", self->name_}, {"event", "frame"}});
        self->firstFrameDone();
    }
    return FALSE;
}

void DesktopMoviePlayer::finishPreload()
{
    if (!prerolled_ && !ended_)
        prerolled();
}

void DesktopMoviePlayer::prerolled()
{
    prerolled_ = true;
    kit::emit("movie", {{"name", name_}, {"event", "preloaded"}});
    if (auto player = controller())
        player->postPreloadDidFinish();
}

void DesktopMoviePlayer::play(kit::MoviePlayerController&)
{
    if (ended_ || !pipeline_)
        return;
    show();
    gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    kit::RunLoop::main().cancel(endTask_);
    endTask_ = kit::RunLoop::main().schedule(kit::RunLoop::toMicros(maxSeconds_), [this] { end("cut"); });
}

// Over the whole window, in front of the page and the tab bar, until the movie ends.
void DesktopMoviePlayer::show()
{
    showTask_ = 0;
    if (shownIn_ || !widget_ || ended_)
        return;
    if (auto* window = maker_.window()) {
        shownIn_ = window;
        if (gtk_widget_get_parent(widget_))
            gtk_container_remove(GTK_CONTAINER(gtk_widget_get_parent(widget_)), widget_);
        window->addTopLayer(widget_);
    }
}

void DesktopMoviePlayer::end(const char* reason)
{
    if (ended_)
        return;
    ended_ = true;
    kit::RunLoop::main().cancel(endTask_);
    endTask_ = 0;
    teardown();
    kit::emit("movie", {{"name", name_}, {"event", "end"}, {"reason", reason}});
    if (!drawn_)
        firstFrameDone();
    if (auto player = controller())
        player->postPlaybackDidFinish();
}

void DesktopMoviePlayer::teardown()
{
    if (busWatch_) {
        g_source_remove(busWatch_);
        busWatch_ = 0;
    }
    if (shownIn_ && shownIn_ == maker_.window())
        shownIn_->removeTopLayer(widget_);
    shownIn_ = nullptr;
    if (pipeline_)
        gst_element_set_state(pipeline_, GST_STATE_NULL);
}

} // namespace backend::gtk
