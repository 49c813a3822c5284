#pragma once

#include "kit/Geometry.h"

namespace kit {

class Screen {
public:
    static Screen& mainScreen();
    Rect bounds() const { return Rect(0, 0, 320, 480); }
    // The screen less the 20-point status bar.
    Rect applicationFrame() const { return Rect(0, 20, 320, 460); }
};

} // namespace kit
