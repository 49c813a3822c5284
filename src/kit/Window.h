#pragma once

#include "kit/View.h"

namespace kit {

class Window : public View {
public:
    using View::View;
    ~Window() override;
    void makeKeyAndVisible();
    bool isKeyWindow() const;
};

} // namespace kit
