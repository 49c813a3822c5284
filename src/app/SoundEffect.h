#pragma once

#include "kit/AudioServices.h"

#include <memory>
#include <optional>
#include <string>

namespace street {

// Plays a packaged sound once, fire and forget: a fresh system sound per request, disposed of
// when it has finished playing.
class SoundEffect {
public:
    static void playSoundFromBundledFile(const std::string& name, const std::string& type);
    static std::shared_ptr<SoundEffect> soundEffectWithContentsOfFile(const std::optional<std::string>& path);

    // False when no system sound can be made of the file.
    bool initWithContentsOfFile(const std::optional<std::string>& path);
    void play();
    static void completionCallback(kit::SystemSoundID soundID);

private:
    kit::SystemSoundID soundID_ = 0;
};

} // namespace street
