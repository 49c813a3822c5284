#include "backend/gtk/ButtonPeer.h"

#include "backend/gtk/Accessibility.h"
#include "backend/gtk/InputRecord.h"
#include "kit/FocusModel.h"

namespace backend::gtk {

ButtonPeer::ButtonPeer(WindowPeer& window, kit::Button& button)
    : ViewPeer(window, button, accessibility::newButton(), true)
    , button_(button)
{
    GtkWidget* gtkButton = content();
    gtk_widget_set_focus_on_click(gtkButton, FALSE);
    gtk_widget_set_can_focus(gtkButton, FALSE);
    gtk_style_context_add_class(gtk_widget_get_style_context(gtkButton), "street-button");
    g_signal_connect(gtkButton, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
        auto& button = static_cast<ButtonPeer*>(self)->button_;
        if (button.identifier() == "infoButton")
            InputRecord::input("button info");
        else if (button.identifier() == "changeNameButton")
            InputRecord::input("button name");
        InputRecord::Delivering delivering;
        button.userDidTap();
    }), this);
}

void ButtonPeer::update()
{
    // Keyboard focus, where the kit has it.
    bool focused = kit::FocusModel::focus().view == &button_;
    if (focused != focused_) {
        focused_ = focused;
        setStyleClass(content(), "focused", focused);
    }
    if (built_ && button_.title() == title_)
        return;
    built_ = true;
    title_ = button_.title();
    gtk_button_set_label(GTK_BUTTON(content()), title_.value_or("").c_str());
}

bool ButtonPeer::click()
{
    update();
    GtkWidget* gtkButton = content();
    if (!gtk_widget_is_visible(widget()) || !gtk_widget_is_sensitive(gtkButton) || gtk_widget_get_opacity(widget()) < 0.01)
        return false;
    gtk_button_clicked(GTK_BUTTON(gtkButton));
    return true;
}

// Named by its title unless the kit gives it a name of its own (a title of one letter says
// nothing to a listener).
void ButtonPeer::describeForReaders()
{
    if (!button_.isAccessibilityElement())
        return accessibility::hide(content());
    accessibility::describe(content(), ATK_ROLE_PUSH_BUTTON, button_.accessibilityLabel());
    // The kit's focus, which the desktop's does not follow here.
    accessibility::setState(content(), ATK_STATE_FOCUSED, focused_);
}

} // namespace backend::gtk
