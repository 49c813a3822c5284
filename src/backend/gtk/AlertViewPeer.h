#pragma once

#include "kit/AlertView.h"

#include <gtk/gtk.h>
#include <memory>
#include <string>
#include <vector>

namespace backend::gtk {

// Draws alerts inside the window, in front of everything and blocking input behind them: title,
// message, the text field when there is one, the buttons in index order. Return presses the
// last button; Escape presses button 0 of a two-button alert.
class AlertViewPeer : public kit::AlertViewPresenter {
public:
    AlertViewPeer() = default;
    ~AlertViewPeer() override;
    AlertViewPeer(const AlertViewPeer&) = delete;
    AlertViewPeer& operator=(const AlertViewPeer&) = delete;

    void alertShown(kit::AlertView& alert) override;
    void alertDismissed(kit::AlertView& alert) override;

    // The frontmost alert's controls, as a person uses them. False when there is no such control.
    bool pressButton(size_t index);
    bool typeText(const std::string& text);
    // Return / Escape on the frontmost alert; true when the key was taken.
    bool handleKey(unsigned keyval);

private:
    struct Shown {
        std::weak_ptr<kit::AlertView> alert;
        kit::AlertView* raw;
        GtkWidget* layer;
        std::vector<GtkWidget*> buttons;
        GtkWidget* entry;
    };
    Shown* frontmost();
    std::vector<Shown> shown_;
};

} // namespace backend::gtk
