#include "backend/gtk/AlertViewPeer.h"

#include "backend/gtk/Accessibility.h"
#include "backend/gtk/InputRecord.h"
#include "backend/gtk/WindowPeer.h"
#include "kit/FocusModel.h"

#include <algorithm>

namespace backend::gtk {

namespace {

GtkWidget* label(const std::string& text, const char* styleClass)
{
    GtkWidget* widget = gtk_label_new(text.c_str());
    gtk_label_set_line_wrap(GTK_LABEL(widget), TRUE);
    gtk_label_set_justify(GTK_LABEL(widget), GTK_JUSTIFY_CENTER);
    gtk_label_set_max_width_chars(GTK_LABEL(widget), 28);
    gtk_style_context_add_class(gtk_widget_get_style_context(widget), styleClass);
    return widget;
}

} // namespace

// A click into the field (or onto a button) moves the desktop's focus: the kit's follows it.
void AlertViewPeer::watchFocus(GtkWidget* widget, int control)
{
    g_object_set_data(G_OBJECT(widget), "street-control", GINT_TO_POINTER(control + 1));
    g_signal_connect(widget, "focus-in-event", G_CALLBACK(+[](GtkWidget* w, GdkEvent*, gpointer self) -> gboolean {
        auto* peer = static_cast<AlertViewPeer*>(self);
        int control = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(w), "street-control")) - 1;
        for (auto& shown : peer->shown_) {
            bool mine = w == shown.entry || std::find(shown.buttons.begin(), shown.buttons.end(), w) != shown.buttons.end();
            auto alert = shown.alert.lock();
            if (mine && alert && !peer->grabbing_)
                kit::FocusModel::focusAlertControl(*alert, control);
        }
        return FALSE;
    }), this);
}

AlertViewPeer::~AlertViewPeer()
{
    for (auto& shown : shown_) {
        for (GtkWidget* button : shown.buttons)
            g_signal_handlers_disconnect_by_data(button, this);
        if (shown.entry)
            g_signal_handlers_disconnect_by_data(shown.entry, this);
        if (window_)
            window_->removeTopLayer(shown.layer);
        g_object_unref(shown.layer);
    }
}

void AlertViewPeer::alertShown(kit::AlertView& alert)
{
    WindowPeer* window = window_;
    if (!window)
        return;
    int scale = window->scale();
    Shown shown{alert.sharedAs<kit::AlertView>(), &alert, nullptr, {}, nullptr};

    // The backdrop takes every click meant for what lies behind it.
    shown.layer = accessibility::newEventBox();
    g_object_ref_sink(shown.layer);
    gtk_style_context_add_class(gtk_widget_get_style_context(shown.layer), "street-alert-backdrop");
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8 * scale);
    gtk_style_context_add_class(gtk_widget_get_style_context(box), "street-alert");
    gtk_widget_set_halign(box, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(box, GTK_ALIGN_CENTER);
    gtk_widget_set_size_request(box, 270 * scale, -1);
    gtk_container_add(GTK_CONTAINER(shown.layer), box);

    if (alert.title())
        gtk_box_pack_start(GTK_BOX(box), label(*alert.title(), "title"), FALSE, FALSE, 0);
    if (alert.message())
        gtk_box_pack_start(GTK_BOX(box), label(*alert.message(), "message"), FALSE, FALSE, 0);
    if (auto* field = alert.textFieldAtIndex(0)) {
        shown.entry = gtk_entry_new();
        gtk_entry_set_text(GTK_ENTRY(shown.entry), field->text.c_str());
        gtk_entry_set_placeholder_text(GTK_ENTRY(shown.entry), field->placeholder.c_str());
        g_signal_connect(shown.entry, "changed", G_CALLBACK(+[](GtkEntry* entry, gpointer data) {
            auto* raw = static_cast<kit::AlertView*>(data);
            if (auto* f = raw->textFieldAtIndex(0)) {
                f->text = gtk_entry_get_text(entry);
                InputRecord::typing(f->text);
            }
        }), &alert);
        gtk_box_pack_start(GTK_BOX(box), shown.entry, FALSE, FALSE, 0);
        watchFocus(shown.entry, -1);
    }

    const auto& titles = alert.buttonTitles();
    GtkWidget* row = gtk_box_new(titles.size() == 2 ? GTK_ORIENTATION_HORIZONTAL : GTK_ORIENTATION_VERTICAL, 8 * scale);
    gtk_box_set_homogeneous(GTK_BOX(row), TRUE);
    for (size_t i = 0; i < titles.size(); ++i) {
        GtkWidget* button = gtk_button_new_with_label(titles[i].c_str());
        g_object_set_data(G_OBJECT(button), "street-index", GSIZE_TO_POINTER(i));
        g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton* b, gpointer data) {
            auto index = static_cast<int>(GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(b), "street-index")));
            auto* alert = static_cast<kit::AlertView*>(data);
            if (InputRecord::firsthand()) {
                const auto& titles = alert->buttonTitles();
                auto at = static_cast<size_t>(index);
                InputRecord::input("press " + (at < titles.size() && !titles[at].empty() ? InputRecord::label(titles[at])
                                                                                       : "#" + std::to_string(index)));
            }
            InputRecord::Delivering delivering;
            alert->dismissWithClickedButtonIndex(index);
        }), &alert);
        gtk_box_pack_start(GTK_BOX(row), button, TRUE, TRUE, 0);
        watchFocus(button, static_cast<int>(i));
        shown.buttons.push_back(button);
    }
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);

    // A reader hears a modal alert, by its title and message.
    accessibility::describe(shown.layer, ATK_ROLE_ALERT, alert.title().value_or(""), alert.message().value_or(""));
    accessibility::setState(shown.layer, ATK_STATE_MODAL, true);
    window->addTopLayer(shown.layer);
    window->setCovered(true);
    shown_.push_back(std::move(shown));
    showFocus();
}

void AlertViewPeer::alertDismissed(kit::AlertView& alert)
{
    auto it = std::find_if(shown_.begin(), shown_.end(), [&](const Shown& s) { return s.raw == &alert; });
    if (it == shown_.end())
        return;
    // Text typed into a field the page takes away is nobody's input; a key or button that
    // sends it writes it first.
    if (InputRecord::firsthand())
        InputRecord::dropTyping();
    // Handlers hold the alert by a plain pointer: cut them before it can go.
    for (GtkWidget* button : it->buttons) {
        g_signal_handlers_disconnect_by_data(button, &alert);
        g_signal_handlers_disconnect_by_data(button, this);
    }
    if (it->entry) {
        g_signal_handlers_disconnect_by_data(it->entry, &alert);
        g_signal_handlers_disconnect_by_data(it->entry, this);
    }
    GtkWidget* layer = it->layer;
    shown_.erase(it);
    if (window_) {
        window_->removeTopLayer(layer);
        window_->setCovered(!shown_.empty());
    }
    gtk_widget_destroy(layer);
    g_object_unref(layer);
}

AlertViewPeer::Shown* AlertViewPeer::frontmost()
{
    auto alert = kit::AlertView::frontmost();
    for (auto& shown : shown_)
        if (shown.raw == alert.get())
            return &shown;
    return nullptr;
}

bool AlertViewPeer::pressButton(size_t index)
{
    Shown* shown = frontmost();
    if (!shown || index >= shown->buttons.size() || !gtk_widget_is_visible(shown->buttons[index]))
        return false;
    gtk_button_clicked(GTK_BUTTON(shown->buttons[index]));
    return true;
}

bool AlertViewPeer::typeText(const std::string& text)
{
    Shown* shown = frontmost();
    if (!shown || !shown->entry)
        return false;
    gtk_entry_set_text(GTK_ENTRY(shown->entry), text.c_str());
    return true;
}

void AlertViewPeer::showFocus()
{
    Shown* shown = frontmost();
    if (!shown)
        return;
    auto focus = kit::FocusModel::focus();
    GtkWidget* widget = nullptr;
    if (focus.alert == shown->raw && focus.control == kit::FocusModel::Focus::Control::AlertField)
        widget = shown->entry;
    else if (focus.alert == shown->raw && focus.control == kit::FocusModel::Focus::Control::AlertButton
             && static_cast<size_t>(focus.index) < shown->buttons.size())
        widget = shown->buttons[static_cast<size_t>(focus.index)];
    if (!widget || gtk_widget_has_focus(widget))
        return;
    grabbing_ = true;
    gtk_widget_grab_focus(widget);
    grabbing_ = false;
}

} // namespace backend::gtk
