#include "kit/Screen.h"

namespace kit {

Screen& Screen::mainScreen()
{
    static Screen screen;
    return screen;
}

} // namespace kit
