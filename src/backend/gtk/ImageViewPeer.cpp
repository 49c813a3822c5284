#include "backend/gtk/ImageViewPeer.h"

#include "backend/gtk/Accessibility.h"

#include <filesystem>
#include <nlohmann/json.hpp>

namespace backend::gtk {

void ImageViewPeer::update()
{
    const auto& image = imageView_.image();
    std::string path = image ? image->pathAtScale(scale()) : std::string();
    if (path == path_)
        return;
    path_ = path;
    pixbuf_.reset();
    if (!path.empty()) {
        pixbuf_ = GObjectPtr<GdkPixbuf>(gdk_pixbuf_new_from_file(path.c_str(), nullptr));
    }
    gtk_widget_queue_draw(widget());
}

void ImageViewPeer::draw(cairo_t* cr, int width, int height)
{
    ViewPeer::draw(cr, width, height);
    GdkPixbuf* pixbuf = pixbuf_.get();
    if (!pixbuf)
        return;
    int pw = gdk_pixbuf_get_width(pixbuf);
    int ph = gdk_pixbuf_get_height(pixbuf);
    if (pw <= 0 || ph <= 0)
        return;
    cairo_save(cr);
    cairo_scale(cr, static_cast<double>(width) / pw, static_cast<double>(height) / ph);
    gdk_cairo_set_source_pixbuf(cr, pixbuf, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
}

// A picture is decoration (the backgrounds, a row's tick) unless the kit names it an element.
void ImageViewPeer::describeForReaders()
{
    if (!imageView_.isAccessibilityElement())
        return accessibility::hide(content());
    accessibility::describe(content(), ATK_ROLE_IMAGE, imageView_.accessibilityLabel());
}

void ImageViewPeer::describeInto(nlohmann::json& out)
{
    out["image"] = path_.empty() ? nlohmann::json() : nlohmann::json(std::filesystem::path(path_).filename().string());
}

} // namespace backend::gtk
