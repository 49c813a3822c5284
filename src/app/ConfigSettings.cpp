#include "app/ConfigSettings.h"

#include "kit/UserDefaults.h"

namespace street {

namespace {

constexpr const char* kSoundEnabled = "soundEnabled";
constexpr const char* kIntroAnimationEnabled = "introAnimationEnabled";

// Only an absent entry reads as on; a stored NO stays off. A value of some other type
// (written by hand, say) carries no answer, so it counts as absent.
bool readSwitch(const char* key)
{
    auto& defaults = kit::UserDefaults::standardUserDefaults();
    auto stored = defaults.objectForKey(key);
    if (!stored || !(stored->is_boolean() || stored->is_number()))
        return true;
    return defaults.boolForKey(key);
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
