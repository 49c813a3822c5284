#pragma once

#include "kit/View.h"

namespace kit {

class Window : public View {
public:
    using View::View;
    void makeKeyAndVisible();
    bool isKeyWindow() const;
};

} // namespace kit
