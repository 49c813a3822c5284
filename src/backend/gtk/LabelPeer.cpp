#include "backend/gtk/LabelPeer.h"

#include "backend/gtk/Accessibility.h"
#include "backend/gtk/WindowPeer.h"

#include <pango/pangocairo.h>

namespace backend::gtk {

PangoFontDescription* LabelPeer::fontDescription(const kit::Font& font, int scale)
{
    const std::string& name = font.name;
    bool bold = name.find("Bold") != std::string::npos;
    bool serif = name.find("Times") != std::string::npos || name.find("Georgia") != std::string::npos;
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, serif ? "Liberation Serif, serif" : "Liberation Sans, Arial, sans-serif");
    pango_font_description_set_weight(description, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    // Device points are pixels at scale 1, at the desktop's usual text size.
    pango_font_description_set_absolute_size(description, font.size * scale * WindowPeer::textScale() * PANGO_SCALE);
    return description;
}

void LabelPeer::drawText(cairo_t* cr, const kit::Label& label, double width, double height, int scale)
{
    const auto& text = label.text();
    if (!text || text->empty() || width <= 0)
        return;
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* description = fontDescription(label.font(), scale);
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);
    pango_layout_set_text(layout, text->c_str(), -1);
    pango_layout_set_width(layout, static_cast<int>(width * PANGO_SCALE));
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    int textWidth = 0, textHeight = 0;
    pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
    cairo_save(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, 0, (height - textHeight) / 2);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    g_object_unref(layout);
}

void LabelPeer::update()
{
    std::string text = label_.text().value_or("") + '\n' + label_.font().name + std::to_string(label_.font().size);
    if (text != shown_) {
        shown_ = std::move(text);
        gtk_widget_queue_draw(widget());
    }
}

void LabelPeer::draw(cairo_t* cr, int width, int height)
{
    ViewPeer::draw(cr, width, height);
    drawText(cr, label_, width, height, scale());
}

// A label is heard as its text (or the name the kit gives it).
void LabelPeer::describeForReaders()
{
    if (!label_.isAccessibilityElement())
        return accessibility::hide(content());
    accessibility::describe(content(), ATK_ROLE_LABEL, label_.accessibilityLabel().value_or(label_.text().value_or("")));
}

} // namespace backend::gtk
