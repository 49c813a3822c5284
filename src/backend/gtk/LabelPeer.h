#pragma once

#include "backend/gtk/ViewPeer.h"
#include "kit/Label.h"

#include <pango/pango.h>
#include <string>

namespace backend::gtk {

// A label: its text in its font, black, left-aligned and centred vertically, cut off with an
// ellipsis where it does not fit.
class LabelPeer : public ViewPeer {
public:
    LabelPeer(WindowPeer& window, kit::Label& label) : ViewPeer(window, label), label_(label) {}
    void update() override;
    void describeForReaders() override;

    // The desktop face of a kit font at a scale: the interface files name device fonts, which
    // metric-compatible free faces stand in for.
    static PangoFontDescription* fontDescription(const kit::Font& font, int scale);
    // Draws a label's text into a box of that many pixels (the table draws its cells' labels).
    static void drawText(cairo_t* cr, const kit::Label& label, double width, double height, int scale);

protected:
    void draw(cairo_t* cr, int width, int height) override;

private:
    kit::Label& label_;
    std::string shown_;
};

} // namespace backend::gtk
