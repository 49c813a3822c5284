#pragma once

namespace street {

// The two persisted user switches. Nothing is kept here: every call goes to the standard
// user defaults, and a setter returns only once the value is on disk (or, when the disk
// refuses it, still held in memory).
class ConfigSettings {
public:
    static bool soundEnabled();
    static bool introAnimationEnabled();
    static void setSoundEnabled(bool value);
    static void setIntroAnimationEnabled(bool value);
};

}
