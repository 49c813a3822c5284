#include "backend/gtk/TabBarPeer.h"

#include "backend/gtk/Accessibility.h"
#include "backend/gtk/InputRecord.h"
#include "backend/gtk/WindowPeer.h"
#include "kit/FocusModel.h"
#include "kit/Image.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace backend::gtk {

TabBarPeer::TabBarPeer(WindowPeer& window, kit::TabBar& bar)
    : ViewPeer(window, bar, gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0), true)
    , bar_(bar)
{
    gtk_box_set_homogeneous(GTK_BOX(content()), TRUE);
    gtk_style_context_add_class(gtk_widget_get_style_context(content()), "street-tabbar");
}

void TabBarPeer::rebuild()
{
    for (auto& item : items_)
        gtk_widget_destroy(item.button);
    items_.clear();
    built_.clear();
    for (const auto& model : bar_.items()) {
        Item item{};
        item.button = accessibility::newButton();
        // The tab bar is in the focus chain (a page gives focus up to it), but a click does not move focus.
        gtk_widget_set_focus_on_click(item.button, FALSE);
        gtk_widget_set_can_focus(item.button, TRUE);
        GtkWidget* overlay = gtk_overlay_new();
        GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_widget_set_valign(column, GTK_ALIGN_CENTER);
        item.image = gtk_image_new();
        item.label = gtk_label_new(nullptr);
        gtk_box_pack_start(GTK_BOX(column), item.image, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(column), item.label, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(overlay), column);
        item.badge = gtk_label_new(nullptr);
        gtk_widget_set_halign(item.badge, GTK_ALIGN_END);
        gtk_widget_set_valign(item.badge, GTK_ALIGN_START);
        gtk_style_context_add_class(gtk_widget_get_style_context(item.badge), "street-badge");
        gtk_overlay_add_overlay(GTK_OVERLAY(overlay), item.badge);
        gtk_container_add(GTK_CONTAINER(item.button), overlay);
        gtk_box_pack_start(GTK_BOX(content()), item.button, TRUE, TRUE, 0);
        gtk_widget_show_all(item.button);
        gtk_widget_hide(item.badge);
        size_t index = items_.size();
        g_object_set_data(G_OBJECT(item.button), "street-index", GSIZE_TO_POINTER(index));
        g_signal_connect(item.button, "clicked", G_CALLBACK(+[](GtkButton* button, gpointer self) {
            auto index = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(button), "street-index"));
            auto& bar = static_cast<TabBarPeer*>(self)->bar_;
            if (InputRecord::firsthand()) {
                const auto& title = index < bar.items().size() ? bar.items()[index]->title() : std::nullopt;
                InputRecord::input("tap " + (title && !title->empty() ? InputRecord::label(*title) : "#" + std::to_string(index)));
            }
            InputRecord::Delivering delivering;
            bar.userDidTapItem(index);
        }), this);
        g_signal_connect(item.button, "focus-in-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
            auto* peer = static_cast<TabBarPeer*>(self);
            if (!peer->grabbing_)
                kit::FocusModel::focusView(peer->bar_);
            return FALSE;
        }), this);
        item.selected = true; // forces the first update to set the style class
        items_.push_back(std::move(item));
        built_.push_back(model.get());
    }
}

void TabBarPeer::update()
{
    const auto& models = bar_.items();
    bool same = models.size() == built_.size();
    for (size_t i = 0; same && i < models.size(); ++i)
        same = models[i].get() == built_[i];
    if (!same)
        rebuild();
    int scale = this->scale();
    auto focus = kit::FocusModel::focus();
    for (size_t i = 0; i < items_.size(); ++i) {
        Item& item = items_[i];
        const kit::TabBarItem& model = *models[i];
        if (model.imageName() != item.imageName || !gtk_image_get_storage_type(GTK_IMAGE(item.image))) {
            item.imageName = model.imageName();
            gtk_image_clear(GTK_IMAGE(item.image));
            // A missing icon leaves the place empty, keeping the title where it belongs.
            int side = 30 * scale;
            gtk_widget_set_size_request(item.image, side, side);
            if (auto image = kit::Image::imageNamed(item.imageName)) {
                if (GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file_at_size(image->path().c_str(), side, side, nullptr)) {
                    gtk_image_set_from_pixbuf(GTK_IMAGE(item.image), pixbuf);
                    g_object_unref(pixbuf);
                }
            }
        }
        if (model.title() != item.title) {
            item.title = model.title();
            gtk_label_set_text(GTK_LABEL(item.label), item.title.value_or("").c_str());
        }
        if (model.badgeValue() != item.badgeText) {
            item.badgeText = model.badgeValue();
            gtk_label_set_text(GTK_LABEL(item.badge), item.badgeText.value_or("").c_str());
            gtk_widget_set_visible(item.badge, item.badgeText.has_value());
        }
        bool selected = bar_.selectedItem() == &model;
        if (selected != item.selected) {
            item.selected = selected;
            setStyleClass(item.button, "selected", selected);
        }
        bool focused = focus.view == &bar_ && focus.index == static_cast<int>(i);
        if (focused != item.focused) {
            item.focused = focused;
            setStyleClass(item.button, "focused", focused);
        }
    }
}

void TabBarPeer::grabFocus(size_t index)
{
    update();
    if (index >= items_.size() || gtk_widget_has_focus(items_[index].button))
        return;
    grabbing_ = true;
    gtk_widget_grab_focus(items_[index].button);
    grabbing_ = false;
}

bool TabBarPeer::click(size_t index)
{
    update();
    if (index >= items_.size())
        return false;
    GtkWidget* button = items_[index].button;
    if (!gtk_widget_is_visible(button) || !gtk_widget_is_sensitive(button) || gtk_widget_get_opacity(widget()) < 0.01)
        return false;
    gtk_button_clicked(GTK_BUTTON(button));
    return true;
}

void TabBarPeer::describeInto(nlohmann::json& out)
{
    if (items_.empty())
        return;
    int height = 0;
    gtk_widget_get_preferred_height(items_.front().label, nullptr, &height);
    out["titleHeight"] = height;
}

// A list of page tabs, each named by its title, selected as the bar has it, its badge as its
// description.
void TabBarPeer::describeForReaders()
{
    accessibility::describe(content(), ATK_ROLE_PAGE_TAB_LIST);
    for (const Item& item : items_) {
        accessibility::describe(item.button, ATK_ROLE_PAGE_TAB, item.title.value_or(""), item.badgeText.value_or(""));
        accessibility::setState(item.button, ATK_STATE_SELECTABLE, true);
        accessibility::setState(item.button, ATK_STATE_SELECTED, item.selected);
    }
}

} // namespace backend::gtk
