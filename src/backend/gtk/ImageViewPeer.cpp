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
    scaled_.reset();
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
    // Scaled once per size: a fade redraws the picture every frame, and converting and scaling
    // it each time (on X11 the display server does the scaling) takes a core's share from the
    // page's process while it starts. Made like the surface drawn on, so on X11 it stays in the
    // server and a frame only copies it.
    cairo_surface_t* target = cairo_get_target(cr);
    if (!scaled_ || scaledWidth_ != width || scaledHeight_ != height || scaledFor_ != cairo_surface_get_type(target)) {
        scaled_.reset(cairo_surface_create_similar(target, CAIRO_CONTENT_COLOR_ALPHA, width, height));
        scaledWidth_ = width;
        scaledHeight_ = height;
        scaledFor_ = cairo_surface_get_type(target);
        cairo_t* into = cairo_create(scaled_.get());
        cairo_scale(into, static_cast<double>(width) / pw, static_cast<double>(height) / ph);
        gdk_cairo_set_source_pixbuf(into, pixbuf, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(into), CAIRO_FILTER_GOOD);
        cairo_set_operator(into, CAIRO_OPERATOR_SOURCE);
        cairo_paint(into);
        cairo_destroy(into);
    }
    cairo_set_source_surface(cr, scaled_.get(), 0, 0);
    cairo_paint(cr);
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
