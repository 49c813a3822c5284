#include "backend/gtk/SoundDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace backend::gtk {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};
struct CodecFreer {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct ResamplerFreer {
    void operator()(SwrContext* resampler) const { swr_free(&resampler); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

// Converts each decoded frame to interleaved 16-bit samples and appends them.
class Sink {
public:
    Sink(SwrContext* resampler, DecodedSound& out, std::size_t maxFrames)
        : resampler_(resampler), out_(out), maxFrames_(maxFrames) {}

    bool add(const AVFrame* frame)
    {
        if (frame->nb_samples <= 0)
            return true;
        if (out_.frames() + static_cast<std::size_t>(frame->nb_samples) > maxFrames_)
            return false;
        std::size_t before = out_.samples.size();
        std::size_t room = static_cast<std::size_t>(frame->nb_samples) + 32;
        out_.samples.resize(before + room * static_cast<std::size_t>(out_.channels));
        auto* target = reinterpret_cast<std::uint8_t*>(out_.samples.data() + before);
        int made = swr_convert(resampler_, &target, static_cast<int>(room),
                               const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        if (made < 0)
            return false;
        out_.samples.resize(before + static_cast<std::size_t>(made) * static_cast<std::size_t>(out_.channels));
        return true;
    }

private:
    SwrContext* resampler_;
    DecodedSound& out_;
    std::size_t maxFrames_;
};

// Sends one packet (null: the end) and takes every frame it gives. False on a decoding error.
bool drain(AVCodecContext* codec, const AVPacket* packet, AVFrame* frame, Sink& sink)
{
    int sent = avcodec_send_packet(codec, packet);
    if (sent < 0 && sent != AVERROR_EOF)
        return false;
    for (;;) {
        int got = avcodec_receive_frame(codec, frame);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return true;
        if (got < 0 || !sink.add(frame))
            return false;
    }
}

} // namespace

std::optional<DecodedSound> SoundDecoder::decode(const std::string& path)
{
    // A bad file is answered with silence, not with messages on the terminal.
    av_log_set_level(AV_LOG_QUIET);

    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0)
        return std::nullopt;
    std::unique_ptr<AVFormatContext, FormatCloser> format(opened);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        return std::nullopt;
    const AVCodec* decoder = nullptr;
    int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (index < 0 || !decoder)
        return std::nullopt;
    AVStream* stream = format->streams[index];

    std::unique_ptr<AVCodecContext, CodecFreer> codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0
        || avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return std::nullopt;
    if (codec->sample_rate <= 0 || codec->sample_rate > 384000 || codec->ch_layout.nb_channels <= 0
        || codec->ch_layout.nb_channels > 8)
        return std::nullopt;
    // Containers that name no speaker layout (most CAF and AIFF files) get the usual one.
    AVChannelLayout layout{};
    if (codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&layout, codec->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&layout, &codec->ch_layout) < 0)
        return std::nullopt;

    SwrContext* made = nullptr;
    int configured = swr_alloc_set_opts2(&made, &layout, AV_SAMPLE_FMT_S16, codec->sample_rate, &layout,
                                         codec->sample_fmt, codec->sample_rate, 0, nullptr);
    std::unique_ptr<SwrContext, ResamplerFreer> resampler(made);
    av_channel_layout_uninit(&layout);
    if (configured < 0 || swr_init(resampler.get()) < 0)
        return std::nullopt;

    DecodedSound sound;
    sound.rate = codec->sample_rate;
    sound.channels = codec->ch_layout.nb_channels;
    auto maxFrames = static_cast<std::size_t>(maxSeconds * sound.rate);
    Sink sink(resampler.get(), sound, maxFrames);
    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    if (!packet || !frame)
        return std::nullopt;
    for (;;) {
        int read = av_read_frame(format.get(), packet.get());
        if (read == AVERROR_EOF)
            break;
        if (read < 0)
            return std::nullopt;
        bool ok = packet->stream_index != index || drain(codec.get(), packet.get(), frame.get(), sink);
        av_packet_unref(packet.get());
        if (!ok)
            return std::nullopt;
    }
    if (!drain(codec.get(), nullptr, frame.get(), sink) || sound.frames() == 0)
        return std::nullopt;
    return sound;
}

} // namespace backend::gtk
