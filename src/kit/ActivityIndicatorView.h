#pragma once

#include "kit/View.h"

namespace kit {

class ActivityIndicatorView : public View {
public:
    using View::View;
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }

private:
    bool animating_ = false;
};

} // namespace kit
