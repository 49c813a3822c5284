#include "app/SoundEffect.h"

#include "kit/Bundle.h"

namespace street {

void SoundEffect::playSoundFromBundledFile(const std::string& name, const std::string& type)
{
    auto path = kit::Bundle::mainBundle().pathForResource(name, type);
    if (auto effect = soundEffectWithContentsOfFile(path))
        effect->play();
}

std::shared_ptr<SoundEffect> SoundEffect::soundEffectWithContentsOfFile(const std::optional<std::string>& path)
{
    if (!path)
        return nullptr;
    auto effect = std::make_shared<SoundEffect>();
    if (!effect->initWithContentsOfFile(path))
        return nullptr;
    return effect;
}

bool SoundEffect::initWithContentsOfFile(const std::optional<std::string>& path)
{
    if (!path || path->empty())
        return false;
    kit::SystemSoundID id = 0;
    if (kit::AudioServices::createSystemSoundID(*path, &id) != kit::kAudioServicesNoError)
        return false;
    soundID_ = id;
    return true;
}

void SoundEffect::play()
{
    kit::AudioServices::addSystemSoundCompletion(soundID_, &SoundEffect::completionCallback);
    kit::AudioServices::playSystemSound(soundID_);
}

void SoundEffect::completionCallback(kit::SystemSoundID soundID)
{
    kit::AudioServices::removeSystemSoundCompletion(soundID);
    kit::AudioServices::disposeSystemSoundID(soundID);
}

} // namespace street
