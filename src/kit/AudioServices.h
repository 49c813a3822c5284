#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kit {

using SystemSoundID = std::uint32_t;
inline constexpr SystemSoundID kSystemSoundID_Vibrate = 0xFFF;
inline constexpr int kAudioServicesNoError = 0;
inline constexpr int kAudioServicesBadSpecifierSizeError = 561211770; // '!siz'
inline constexpr int kAudioServicesUnsupportedPropertyError = 1886681407; // 'pty?'

// Where system sounds actually play (a backend's audio output). It decides nothing.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // A sound is being created from the file; false when the player cannot play it (the sound
    // is then not created). By default every file the kit accepts is taken.
    virtual bool load(SystemSoundID, const std::string& /*path*/) { return true; }
    // The sound has been disposed of.
    virtual void unload(SystemSoundID) {}
    // Plays the file; calls `finished` on the run loop when playback has ended.
    virtual void play(SystemSoundID id, const std::string& path, std::function<void()> finished) = 0;
    virtual void vibrate() {}
};

// The audio session and system sounds. A system sound is created from a file, played (it does
// not block), and disposed of; its completion routine is called on the run loop.
class AudioServices {
public:
    static void AudioSessionInitialize();
    // The current audio route; none (or an empty text) means the device is silenced.
    static std::optional<std::string> audioRoute();
    static void setAudioRoute(std::optional<std::string> route);

    // 0 on success, writing the new ID; an error when the file is missing or not a sound file.
    static int createSystemSoundID(const std::string& path, SystemSoundID* outID);
    static void playSystemSound(SystemSoundID id);
    static int addSystemSoundCompletion(SystemSoundID id, std::function<void(SystemSoundID)> completion);
    static void removeSystemSoundCompletion(SystemSoundID id);
    static int disposeSystemSoundID(SystemSoundID id);
    static bool isSystemSoundValid(SystemSoundID id);
    static size_t liveSystemSoundCount();

    static void setPlayer(SoundPlayer* player);
    // Forget every sound (process start, tests).
    static void reset();
};

} // namespace kit
