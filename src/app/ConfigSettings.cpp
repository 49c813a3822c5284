#include "app/ConfigSettings.h"

#include "kit/UserDefaults.h"

namespace street {

namespace {

constexpr const char* kSoundEnabled = "soundEnabled";
constexpr const char* kIntroAnimationEnabled = "introAnimationEnabled";

// Only an absent entry reads as on; anything stored (a NO, or a value of another type written
// by hand) is read the way the defaults read a Boolean.
bool readSwitch(const char* key)
{
    auto& defaults = kit::UserDefaults::standardUserDefaults();
    return !defaults.objectForKey(key) || defaults.boolForKey(key);
}

void writeSwitch(const char* key, bool value)
{
    kit::UserDefaults::standardUserDefaults().setBool(value, key);
    kit::UserDefaults::resetStandardUserDefaults();
}

}

bool ConfigSettings::soundEnabled() { return readSwitch(kSoundEnabled); }

bool ConfigSettings::introAnimationEnabled() { return readSwitch(kIntroAnimationEnabled); }

void ConfigSettings::setSoundEnabled(bool value) { writeSwitch(kSoundEnabled, value); }

void ConfigSettings::setIntroAnimationEnabled(bool value) { writeSwitch(kIntroAnimationEnabled, value); }

}
