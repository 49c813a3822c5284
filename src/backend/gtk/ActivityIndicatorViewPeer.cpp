#include "backend/gtk/ActivityIndicatorViewPeer.h"

namespace backend::gtk {

ActivityIndicatorViewPeer::ActivityIndicatorViewPeer(WindowPeer& window, kit::ActivityIndicatorView& view)
    : ViewPeer(window, view, gtk_spinner_new())
    , indicator_(view)
{
    gtk_style_context_add_class(gtk_widget_get_style_context(content()), "street-spinner");
}

void ActivityIndicatorViewPeer::update()
{
    bool spin = indicator_.isAnimating();
    if (spin == spinning_)
        return;
    spinning_ = spin;
    if (spin)
        gtk_spinner_start(GTK_SPINNER(content()));
    else
        gtk_spinner_stop(GTK_SPINNER(content()));
}

} // namespace backend::gtk
