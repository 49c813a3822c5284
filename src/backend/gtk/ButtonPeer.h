#pragma once

#include "backend/gtk/ViewPeer.h"
#include "kit/Button.h"

#include <optional>
#include <string>

namespace backend::gtk {

// A push button with the kit button's title; a click is the user's tap.
class ButtonPeer : public ViewPeer {
public:
    ButtonPeer(WindowPeer& window, kit::Button& button);
    void update() override;
    void describeForReaders() override;

    // Clicks the button as a person's click does. False when it cannot be clicked.
    bool click();

private:
    kit::Button& button_;
    std::optional<std::string> title_;
    bool built_ = false;
    bool focused_ = false;
};

} // namespace backend::gtk
