#pragma once

#include "backend/gtk/SoundDecoder.h"
#include "kit/AudioServices.h"

#include <chrono>
#include <functional>
#include <list>
#include <map>
#include <set>
#include <memory>
#include <optional>
#include <string>

struct pa_context;
struct pa_glib_mainloop;
struct pa_operation;
struct pa_stream;

namespace backend::gtk {

class WindowPeer;

// The desktop's system sounds: each sound is decoded when it is created and played through the
// sound server (PulseAudio's API, which PipeWire serves too) on the GLib main context, one
// stream per play, so sounds overlap. A sound's end is its stream drained: the completion then
// runs on the run loop. Without a server nothing is heard and every sound ends at once.
// Vibration is a shake of the window's content.
class AudioOutput : public kit::SoundPlayer {
public:
    // Connects to the sound server without waiting; becomes the kit's sound player.
    AudioOutput();
    ~AudioOutput() override;
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    struct Probe {
        bool server = false;               // a sound server answered
        std::optional<std::string> route;  // where sounds go; none means silent
    };
    // Asks the sound server where sounds go: the description of the default output's active
    // port (the output's own description when it has no ports). No route when there is no
    // server or output, when the output is muted, or when the server has not answered within
    // `limit`.
    static Probe probeRoute(std::chrono::milliseconds limit);

    bool load(kit::SystemSoundID id, const std::string& path) override;
    void unload(kit::SystemSoundID id) override;
    void play(kit::SystemSoundID id, const std::string& path, std::function<void()> finished) override;
    void vibrate() override;
    // The window that vibration shakes, from when it is made until before it goes.
    void setWindow(WindowPeer* window) { window_ = window; }

    // True once the server has accepted the connection (and while it keeps it).
    bool connected() const { return link_ == Link::Ready; }
    size_t playingCount() const { return voices_.size(); }
    // Called when a sound's first samples have been handed to the server (measurements).
    std::function<void(kit::SystemSoundID)> onFirstSamples;

private:
    enum class Link { Connecting, Ready, Gone };
    WindowPeer* window_ = nullptr;
    struct Voice {
        AudioOutput* owner;
        kit::SystemSoundID id;
        std::shared_ptr<const DecodedSound> sound;
        std::function<void()> finished;
        pa_stream* stream = nullptr;
        size_t written = 0;  // bytes
        pa_operation* drain = nullptr;
    };
    struct Request {
        kit::SystemSoundID id;
        std::shared_ptr<const DecodedSound> sound;
        std::function<void()> finished;
    };

    void connect();
    void linkChanged();
    void lose();
    void start(Request request);
    void feed(Voice& voice, size_t bytes);
    void finish(Voice* voice);
    void dropContext();

    pa_glib_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    Link link_ = Link::Gone;
    std::map<kit::SystemSoundID, std::shared_ptr<const DecodedSound>> sounds_;
    std::set<kit::SystemSoundID> undecoded_;  // loaded before there was a decoder
    std::list<Voice> voices_;
    std::list<Request> waiting_;  // asked for while connecting
};

} // namespace backend::gtk
