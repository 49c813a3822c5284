#include "backend/gtk/ButtonPeer.h"

#include "kit/FocusModel.h"

namespace backend::gtk {

ButtonPeer::ButtonPeer(WindowPeer& window, kit::Button& button)
    : ViewPeer(window, button, gtk_button_new(), true)
    , button_(button)
{
    GtkWidget* gtkButton = content();
    gtk_widget_set_focus_on_click(gtkButton, FALSE);
    gtk_widget_set_can_focus(gtkButton, FALSE);
    gtk_style_context_add_class(gtk_widget_get_style_context(gtkButton), "street-button");
    g_signal_connect(gtkButton, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
        static_cast<ButtonPeer*>(self)->button_.userDidTap();
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

} // namespace backend::gtk
