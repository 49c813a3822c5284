#pragma once

#include "backend/gtk/ViewPeer.h"
#include "kit/ImageView.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
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
    kit::ImageView& imageView_;
    std::string path_;
    GObjectPtr<GdkPixbuf> pixbuf_;
};

} // namespace backend::gtk
