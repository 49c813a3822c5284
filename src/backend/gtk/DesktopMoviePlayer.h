#pragma once

#include "kit/MoviePlayerController.h"
#include "kit/RunLoop.h"

#include <gst/gst.h>
#include <gtk/gtk.h>
#include <functional>
#include <memory>

namespace backend::gtk {

class WindowPeer;

// The intro movie in the window: GStreamer's playbin draws into a GTK widget laid over the whole
// window, with no controls. Preload has finished when the paused pipeline has its first frame;
// playback has finished at the end of the stream, after `maxSeconds` of playing, or at once
// when the file cannot be played, so an intro always ends. The sound track goes to the sound
// server when there is one, and nowhere otherwise.
class DesktopMoviePlayer : public kit::MoviePlayerPeer {
public:
    // Makes the window's movie players and tells them the window they show in. The launch makes
    // the intro's player before the window is up: it waits for the window to be set.
    class Factory {
    public:
        Factory(double maxSeconds, bool soundServer) : maxSeconds_(maxSeconds), soundServer_(soundServer) {}
        Factory(const Factory&) = delete;
        Factory& operator=(const Factory&) = delete;
        std::unique_ptr<kit::MoviePlayerPeer> operator()(kit::MoviePlayerController& controller);

        // From when the window is made until before it goes.
        void setWindow(WindowPeer* window) { window_ = window; }
        WindowPeer* window() const { return window_; }
        // The player made last, while it lives (the script's `movie` commands act on it).
        DesktopMoviePlayer* latest() const { return latest_; }
        // A movie is on its way to the screen: made, neither drawn nor ended yet.
        bool firstFrameDue() const;
        // Called once when that stops being so (the first frame drawn, or the movie ended).
        std::function<void()> onFirstFrameDone;

    private:
        friend class DesktopMoviePlayer;
        double maxSeconds_;
        bool soundServer_;
        WindowPeer* window_ = nullptr;
        DesktopMoviePlayer* latest_ = nullptr;
    };

    DesktopMoviePlayer(Factory& maker, kit::MoviePlayerController& controller);
    ~DesktopMoviePlayer() override;
    DesktopMoviePlayer(const DesktopMoviePlayer&) = delete;
    DesktopMoviePlayer& operator=(const DesktopMoviePlayer&) = delete;

    void play(kit::MoviePlayerController& controller) override;

    // As if the movie had prerolled / played to its end now.
    void finishPreload();
    void finishPlayback() { end("script"); }

private:
    static gboolean onBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
    void preload();
    void prerolled();
    void show();
    void end(const char* reason);
    void teardown();
    void firstFrameDone();
    std::shared_ptr<kit::MoviePlayerController> controller() const;

    Factory& maker_;
    std::weak_ptr<kit::Object> controller_;
    std::string name_;
    double maxSeconds_;
    GstElement* pipeline_ = nullptr;
    GtkWidget* widget_ = nullptr;     // our reference to the video sink's widget
    GtkWidget* offscreen_ = nullptr;  // where the widget waits for the window
    WindowPeer* shownIn_ = nullptr;
    guint busWatch_ = 0;
    kit::RunLoop::TaskId endTask_ = 0;
    kit::RunLoop::TaskId showTask_ = 0;
    bool prerolled_ = false;
    bool drawn_ = false;
    bool ended_ = false;
};

} // namespace backend::gtk
