#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace backend::gtk {

// A sound file decoded whole: interleaved signed 16-bit samples in the machine's byte order.
struct DecodedSound {
    int rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;

    std::size_t frames() const { return channels ? samples.size() / static_cast<std::size_t>(channels) : 0; }
    double seconds() const { return rate ? static_cast<double>(frames()) / rate : 0.0; }
};

// Turns a sound file (AIFF, CAF in PCM or IMA4, WAVE, ...) into samples with FFmpeg's demuxers
// and decoders, which know the container formats and codecs system sounds come in.
class SoundDecoder {
public:
    // System sounds are short: a longer file is refused rather than held in memory whole.
    static constexpr double maxSeconds = 30.0;

    // None when the file cannot be read or decoded, has no audio, or is too long.
    static std::optional<DecodedSound> decode(const std::string& path);
};

} // namespace backend::gtk
