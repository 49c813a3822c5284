#pragma once

#include "kit/AlertView.h"

#include <gtk/gtk.h>
#include <memory>
#include <string>
#include <vector>

namespace backend::gtk {

class WindowPeer;

// Draws alerts inside the window, in front of everything and blocking input behind them: title,
// message, the text field when there is one, the buttons in index order. What keys do is the
// kit's focus model; the alert shows its focus and tells it where a click put the desktop's.
class AlertViewPeer : public kit::AlertViewPresenter {
public:
    AlertViewPeer() = default;
    ~AlertViewPeer() override;
    AlertViewPeer(const AlertViewPeer&) = delete;
    AlertViewPeer& operator=(const AlertViewPeer&) = delete;

    // The window alerts show in, from when it is made until before it goes. No alert shows
    // without one.
    void setWindow(WindowPeer* window) { window_ = window; }

    void alertShown(kit::AlertView& alert) override;
    void alertDismissed(kit::AlertView& alert) override;

    // The frontmost alert's controls, as a person uses them. False when there is no such control.
    bool pressButton(size_t index);
    bool typeText(const std::string& text);
    // Gives the frontmost alert's control that the kit has focus on the desktop's focus.
    void showFocus();

private:
    struct Shown {
        std::weak_ptr<kit::AlertView> alert;
        kit::AlertView* raw;
        GtkWidget* layer;
        std::vector<GtkWidget*> buttons;
        GtkWidget* entry;
    };
    Shown* frontmost();
    void watchFocus(GtkWidget* widget, int control);
    std::vector<Shown> shown_;
    WindowPeer* window_ = nullptr;
    bool grabbing_ = false;
};

} // namespace backend::gtk
