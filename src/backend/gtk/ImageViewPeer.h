#pragma once

#include "backend/gtk/ViewPeer.h"
#include "kit/ImageView.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <memory>
#include <string>

namespace backend::gtk {

// Draws the view's picture stretched to its frame; nothing when it has none (or the file
// cannot be read).
class ImageViewPeer : public ViewPeer {
public:
    ImageViewPeer(WindowPeer& window, kit::ImageView& view) : ViewPeer(window, view), imageView_(view) {}
    void update() override;
    void describeForReaders() override;
    // The file drawn, by name: the double-size picture at scale 2 and above, where there is one.
    void describeInto(nlohmann::json& out) override;

protected:
    void draw(cairo_t* cr, int width, int height) override;

private:
    struct SurfaceRelease {
        void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
    };

    kit::ImageView& imageView_;
    std::string path_;
    GObjectPtr<GdkPixbuf> pixbuf_;
    // The picture as last drawn: scaled to the view, on a surface like the one it was drawn on.
    std::unique_ptr<cairo_surface_t, SurfaceRelease> scaled_;
    int scaledWidth_ = 0;
    int scaledHeight_ = 0;
    cairo_surface_type_t scaledFor_ = CAIRO_SURFACE_TYPE_IMAGE;
};

} // namespace backend::gtk
