#include "backend/gtk/ToolbarPeer.h"

#include "backend/gtk/Accessibility.h"
#include "backend/gtk/InputRecord.h"
#include "kit/FocusModel.h"

namespace backend::gtk {

ToolbarPeer::ToolbarPeer(WindowPeer& window, kit::Toolbar& toolbar)
    : ViewPeer(window, toolbar, gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0), true)
    , toolbar_(toolbar)
{
    gtk_style_context_add_class(gtk_widget_get_style_context(content()), "street-toolbar");
}

void ToolbarPeer::rebuild()
{
    for (GtkWidget* button : buttons_)
        gtk_widget_destroy(button);
    buttons_.clear();
    built_.clear();
    for (const auto& item : toolbar_.items()) {
        GtkWidget* button = gtk_button_new_with_label(item->title().value_or("").c_str());
        gtk_widget_set_focus_on_click(button, FALSE);
        gtk_widget_set_can_focus(button, FALSE);
        gtk_widget_set_valign(button, GTK_ALIGN_CENTER);
        // The item, not its place: the kit may hand out new items while this button lives.
        std::weak_ptr<kit::BarButtonItem> weak = item;
        auto* held = new std::weak_ptr<kit::BarButtonItem>(std::move(weak));
        g_signal_connect_data(button, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
            // Kept alive through its action, which may rebuild the toolbar.
            if (auto item = static_cast<std::weak_ptr<kit::BarButtonItem>*>(data)->lock()) {
                if (InputRecord::firsthand() && item->title())
                    InputRecord::input("toolbar " + InputRecord::label(*item->title()));
                InputRecord::Delivering delivering;
                item->userDidTap();
            }
        }), held, [](gpointer data, GClosure*) { delete static_cast<std::weak_ptr<kit::BarButtonItem>*>(data); },
                              GConnectFlags(0));
        gtk_box_pack_start(GTK_BOX(content()), button, FALSE, FALSE, 0);
        gtk_widget_show(button);
        buttons_.push_back(button);
        built_.push_back(item.get());
    }
}

void ToolbarPeer::update()
{
    const auto& items = toolbar_.items();
    bool same = items.size() == built_.size();
    for (size_t i = 0; same && i < items.size(); ++i)
        same = items[i].get() == built_[i]
            && items[i]->title().value_or("") == gtk_button_get_label(GTK_BUTTON(buttons_[i]));
    if (!same) {
        rebuild();
        focused_ = -1;
    }
    // Keyboard focus, where the kit has it.
    auto focus = kit::FocusModel::focus();
    int focused = focus.view == &toolbar_ && focus.control == kit::FocusModel::Focus::Control::ToolbarItem ? focus.index : -1;
    if (focused != focused_) {
        for (size_t i = 0; i < buttons_.size(); ++i)
            setStyleClass(buttons_[i], "focused", static_cast<int>(i) == focused);
        focused_ = focused;
    }
}

bool ToolbarPeer::click(const std::string& title)
{
    update();
    if (!gtk_widget_is_visible(widget()) || gtk_widget_get_opacity(widget()) < 0.01)
        return false;
    const auto& items = toolbar_.items();
    for (size_t i = 0; i < items.size() && i < buttons_.size(); ++i) {
        if (items[i]->title() == title) {
            if (!gtk_widget_is_sensitive(buttons_[i]))
                return false;
            gtk_button_clicked(GTK_BUTTON(buttons_[i]));
            return true;
        }
    }
    return false;
}

void ToolbarPeer::describeForReaders() { accessibility::describe(content(), ATK_ROLE_TOOL_BAR); }

} // namespace backend::gtk
