#include "backend/gtk/ViewPeer.h"

#include "backend/gtk/Accessibility.h"
#include "backend/gtk/WindowPeer.h"

namespace backend::gtk {

namespace {

// A widget that someone else owns already (the web engine's) gets a reference of our own.
GtkWidget* holdable(GtkWidget* widget)
{
    if (!widget)
        return accessibility::newDrawingArea();
    if (!gtk_widget_get_has_window(widget)) {
        GtkWidget* box = gtk_event_box_new();
        gtk_container_add(GTK_CONTAINER(box), widget);
        gtk_widget_show(widget);
        return box;
    }
    return g_object_is_floating(widget) ? widget : GTK_WIDGET(g_object_ref(widget));
}

} // namespace

ViewPeer::ViewPeer(WindowPeer& window, kit::View& view, GtkWidget* widget, bool takesInput)
    : view_(view)
    , window_(&window)
    , widget_(holdable(widget))
    , content_(widget ? widget : widget_.get())
    , takesInput_(takesInput)
    , drawsItself_(widget == nullptr)
{
    if (!widget) {
        g_signal_connect(widget_.get(), "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer self) -> gboolean {
            static_cast<ViewPeer*>(self)->draw(cr, gtk_widget_get_allocated_width(w), gtk_widget_get_allocated_height(w));
            return FALSE;
        }), this);
    }
}

ViewPeer::~ViewPeer()
{
    // Disconnect handlers so that no callback reaches a peer being destroyed.
    g_signal_handlers_disconnect_by_data(widget_.get(), this);
    if (content_ != widget_.get())
        g_signal_handlers_disconnect_by_data(content_, this);
    if (window_)
        window_->forget(this);
    if (GtkWidget* parent = gtk_widget_get_parent(widget_.get()))
        gtk_container_remove(GTK_CONTAINER(parent), widget_.get());
}

int ViewPeer::scale() const { return window_ ? window_->scale() : 1; }

void ViewPeer::viewChanged(kit::View&)
{
    if (window_)
        window_->sync();
}

void ViewPeer::subviewsChanged(kit::View&)
{
    if (window_)
        window_->sync();
}

void ViewPeer::describeForReaders()
{
    // A widget of its own kind (the page) speaks for itself.
    if (!drawsItself_)
        return;
    if (view_.isAccessibilityElement())
        accessibility::describe(content_, ATK_ROLE_PANEL, view_.accessibilityLabel());
    else
        accessibility::hide(content_);
}

void ViewPeer::setStyleClass(GtkWidget* widget, const char* name, bool on)
{
    GtkStyleContext* style = gtk_widget_get_style_context(widget);
    if (on)
        gtk_style_context_add_class(style, name);
    else
        gtk_style_context_remove_class(style, name);
}

void ViewPeer::draw(cairo_t* cr, int, int)
{
    kit::Color color = view_.backgroundColor();
    if (color.alpha <= 0)
        return;
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
    cairo_paint(cr);
}

} // namespace backend::gtk
