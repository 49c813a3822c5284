#pragma once

#include "backend/gtk/ViewPeer.h"
#include "kit/ActivityIndicatorView.h"

namespace backend::gtk {

// A large white spinner, shown only while the indicator animates.
class ActivityIndicatorViewPeer : public ViewPeer {
public:
    ActivityIndicatorViewPeer(WindowPeer& window, kit::ActivityIndicatorView& view);
    void update() override;
    bool shows() const override { return indicator_.isAnimating(); }

private:
    kit::ActivityIndicatorView& indicator_;
    bool spinning_ = false;
};

} // namespace backend::gtk
