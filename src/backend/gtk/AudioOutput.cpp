#include "backend/gtk/AudioOutput.h"

#include "backend/gtk/ExtrasModule.h"
#include "backend/gtk/WindowPeer.h"
#include "kit/RunLoop.h"

#include <glib.h>
#include <pulse/context.h>
#include <pulse/glib-mainloop.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>

#include <algorithm>
#include <utility>

namespace backend::gtk {

namespace {

// Never start a server of our own: no server means no sound.
constexpr auto kConnectFlags = PA_CONTEXT_NOAUTOSPAWN;
// A short target buffer: a sound starts once this much of it is with the server.
constexpr pa_usec_t kTargetLatency = 50 * 1000;

void postFinished(std::function<void()> finished)
{
    if (finished)
        kit::RunLoop::main().post(std::move(finished));
}

// One question to the server on a context of its own, answered on a private main context.
struct RouteProbe {
    pa_context* context = nullptr;
    bool done = false;
    bool server = false;
    std::optional<std::string> route;

    static void onState(pa_context* context, void* data)
    {
        auto* probe = static_cast<RouteProbe*>(data);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            pa_operation_unref(pa_context_get_server_info(context, onServer, probe));
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            probe->done = true;
            break;
        default:
            break;
        }
    }
    static void onServer(pa_context* context, const pa_server_info* info, void* data)
    {
        auto* probe = static_cast<RouteProbe*>(data);
        probe->server = info != nullptr;
        if (!info || !info->default_sink_name || !*info->default_sink_name) {
            probe->done = true;
            return;
        }
        pa_operation_unref(pa_context_get_sink_info_by_name(context, info->default_sink_name, onSink, probe));
    }
    static void onSink(pa_context*, const pa_sink_info* info, int eol, void* data)
    {
        auto* probe = static_cast<RouteProbe*>(data);
        if (eol) {
            probe->done = true;
            return;
        }
        if (!info || info->mute)
            return;
        const char* route = info->active_port ? info->active_port->description : info->description;
        if (route && *route)
            probe->route = route;
    }
};

} // namespace

AudioOutput::Probe AudioOutput::probeRoute(std::chrono::milliseconds limit)
{
    GMainContext* own = g_main_context_new();
    pa_glib_mainloop* loop = pa_glib_mainloop_new(own);
    RouteProbe probe;
    probe.context = pa_context_new(pa_glib_mainloop_get_api(loop), "street-client");
    bool expired = false;
    GSource* timer = g_timeout_source_new(static_cast<guint>(std::max<std::int64_t>(limit.count(), 0)));
    g_source_set_callback(
        timer, [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    g_source_attach(timer, own);
    if (probe.context) {
        pa_context_set_state_callback(probe.context, RouteProbe::onState, &probe);
        if (pa_context_connect(probe.context, nullptr, kConnectFlags, nullptr) < 0)
            probe.done = true;
        while (!probe.done && !expired)
            g_main_context_iteration(own, TRUE);
        pa_context_set_state_callback(probe.context, nullptr, nullptr);
        pa_context_disconnect(probe.context);
        pa_context_unref(probe.context);
    }
    g_source_destroy(timer);
    g_source_unref(timer);
    pa_glib_mainloop_free(loop);
    g_main_context_unref(own);
    if (!probe.done)
        return {probe.server, std::nullopt};
    return {probe.server, probe.route};
}

AudioOutput::AudioOutput()
    : loop_(pa_glib_mainloop_new(nullptr))
{
    connect();
    kit::AudioServices::setPlayer(this);
}

AudioOutput::~AudioOutput()
{
    kit::AudioServices::setPlayer(nullptr);
    // The run is over: sounds still playing are cut off and their completions dropped.
    for (auto& voice : voices_) {
        if (voice.drain) {
            pa_operation_cancel(voice.drain);
            pa_operation_unref(voice.drain);
        }
        pa_stream_set_state_callback(voice.stream, nullptr, nullptr);
        pa_stream_set_write_callback(voice.stream, nullptr, nullptr);
        pa_stream_disconnect(voice.stream);
        pa_stream_unref(voice.stream);
    }
    voices_.clear();
    waiting_.clear();
    dropContext();
    pa_glib_mainloop_free(loop_);
}

void AudioOutput::connect()
{
    dropContext();
    context_ = pa_context_new(pa_glib_mainloop_get_api(loop_), "street-client");
    link_ = Link::Connecting;
    if (!context_) {
        lose();
        return;
    }
    pa_context_set_state_callback(
        context_, [](pa_context*, void* self) { static_cast<AudioOutput*>(self)->linkChanged(); }, this);
    if (pa_context_connect(context_, nullptr, kConnectFlags, nullptr) < 0)
        lose();
}

void AudioOutput::dropContext()
{
    if (!context_)
        return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void AudioOutput::linkChanged()
{
    pa_context_state_t state = context_ ? pa_context_get_state(context_) : PA_CONTEXT_FAILED;
    if (state == PA_CONTEXT_READY) {
        link_ = Link::Ready;
        auto waiting = std::move(waiting_);
        waiting_.clear();
        for (auto& request : waiting)
            start(std::move(request));
        return;
    }
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        lose();
}

void AudioOutput::lose()
{
    if (link_ == Link::Gone)
        return;
    // The server went away (or was never there): whatever was playing has ended. The context is
    // let go on the next connection attempt, not inside its own callback.
    link_ = Link::Gone;
    while (!voices_.empty())
        finish(&voices_.front());
    for (auto& request : waiting_)
        postFinished(std::move(request.finished));
    waiting_.clear();
}

namespace {

std::optional<DecodedSound> decode(const std::string& path)
{
    auto* module = ExtrasModule::get();
    return module ? module->decodeSound(path) : std::nullopt;
}

} // namespace

bool AudioOutput::load(kit::SystemSoundID id, const std::string& path)
{
    // The decoder is in a module of its own, loaded when first needed: until then a sound is
    // decoded when first played.
    if (!ExtrasModule::loaded()) {
        undecoded_.insert(id);
        return true;
    }
    auto sound = decode(path);
    if (!sound)
        return false;
    sounds_[id] = std::make_shared<const DecodedSound>(std::move(*sound));
    return true;
}

void AudioOutput::unload(kit::SystemSoundID id)
{
    sounds_.erase(id);
    undecoded_.erase(id);
}

void AudioOutput::play(kit::SystemSoundID id, const std::string& path, std::function<void()> finished)
{
    auto found = sounds_.find(id);
    std::shared_ptr<const DecodedSound> sound;
    if (found != sounds_.end()) {
        sound = found->second;
    } else if (auto decoded = decode(path)) {
        sound = std::make_shared<const DecodedSound>(std::move(*decoded));
        if (undecoded_.erase(id))
            sounds_[id] = sound;
    }
    if (!sound) {
        postFinished(std::move(finished));
        return;
    }
    Request request{id, std::move(sound), std::move(finished)};
    switch (link_) {
    case Link::Ready:
        start(std::move(request));
        break;
    case Link::Connecting:
        waiting_.push_back(std::move(request));
        break;
    case Link::Gone:
        // The server may be back (restarted, or started after us): ask again, and play if it is.
        waiting_.push_back(std::move(request));
        connect();
        break;
    }
}

void AudioOutput::start(Request request)
{
    const DecodedSound& sound = *request.sound;
    pa_sample_spec format{PA_SAMPLE_S16NE, static_cast<uint32_t>(sound.rate), static_cast<uint8_t>(sound.channels)};
    pa_channel_map map;
    const pa_channel_map* mapping = pa_channel_map_init_auto(&map, format.channels, PA_CHANNEL_MAP_DEFAULT);
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "event");
    pa_stream* stream = pa_stream_new_with_proplist(context_, "sound", &format, mapping, properties);
    pa_proplist_free(properties);
    if (!stream) {
        postFinished(std::move(request.finished));
        return;
    }
    voices_.push_back(Voice{this, request.id, std::move(request.sound), std::move(request.finished), stream, 0, nullptr});
    Voice* voice = &voices_.back();
    pa_stream_set_state_callback(
        stream,
        [](pa_stream* s, void* data) {
            auto state = pa_stream_get_state(s);
            if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
                auto* v = static_cast<Voice*>(data);
                v->owner->finish(v);
            }
        },
        voice);
    pa_stream_set_write_callback(
        stream, [](pa_stream*, size_t bytes, void* data) {
            auto* v = static_cast<Voice*>(data);
            v->owner->feed(*v, bytes);
        },
        voice);
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatency, &format));
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(-1);
    if (pa_stream_connect_playback(stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0)
        finish(voice);
}

void AudioOutput::feed(Voice& voice, size_t bytes)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(voice.sound->samples.data());
    size_t total = voice.sound->samples.size() * sizeof(std::int16_t);
    size_t count = std::min(bytes, total - voice.written);
    if (count > 0) {
        bool first = voice.written == 0;
        if (pa_stream_write(voice.stream, data + voice.written, count, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            finish(&voice);
            return;
        }
        voice.written += count;
        if (first && onFirstSamples)
            onFirstSamples(voice.id);
    }
    if (voice.written < total)
        return;
    // All of it is with the server: the sound has ended when the server has played it out.
    pa_stream_set_write_callback(voice.stream, nullptr, nullptr);
    voice.drain = pa_stream_drain(
        voice.stream,
        [](pa_stream*, int, void* data) {
            auto* v = static_cast<Voice*>(data);
            pa_operation_unref(std::exchange(v->drain, nullptr));
            v->owner->finish(v);
        },
        &voice);
    if (!voice.drain)
        finish(&voice);
}

void AudioOutput::finish(Voice* voice)
{
    auto it = std::find_if(voices_.begin(), voices_.end(), [voice](const Voice& v) { return &v == voice; });
    if (it == voices_.end())
        return;
    if (voice->drain) {
        pa_operation_cancel(voice->drain);
        pa_operation_unref(voice->drain);
    }
    pa_stream_set_state_callback(voice->stream, nullptr, nullptr);
    pa_stream_set_write_callback(voice->stream, nullptr, nullptr);
    pa_stream_disconnect(voice->stream);
    pa_stream_unref(voice->stream);
    auto finished = std::move(voice->finished);
    voices_.erase(it);
    postFinished(std::move(finished));
}

void AudioOutput::vibrate()
{
    if (window_)
        window_->shake();
}

} // namespace backend::gtk
