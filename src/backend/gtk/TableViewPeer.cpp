#include "backend/gtk/TableViewPeer.h"

#include "backend/gtk/LabelPeer.h"
#include "backend/gtk/WindowPeer.h"
#include "kit/ImageView.h"
#include "kit/Label.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <pango/pangocairo.h>

namespace backend::gtk {

namespace {

// Movement beyond this many pixels turns a press into a drag (no tap).
constexpr double dragThreshold = 6;
// A wheel step scrolls a row and a half.
constexpr double wheelStep = 66;
constexpr double indexMargin = 6;

} // namespace

TableViewPeer::TableViewPeer(kit::TableView& table)
    : ViewPeer(table, nullptr, true)
    , table_(table)
{
    GtkWidget* area = widget();
    gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_BUTTON1_MOTION_MASK
                                    | GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK);
    g_signal_connect(area, "button-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer self) -> gboolean {
        return static_cast<TableViewPeer*>(self)->pressed(e);
    }), this);
    g_signal_connect(area, "button-release-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer self) -> gboolean {
        return static_cast<TableViewPeer*>(self)->released(e);
    }), this);
    g_signal_connect(area, "motion-notify-event", G_CALLBACK(+[](GtkWidget*, GdkEventMotion* e, gpointer self) -> gboolean {
        return static_cast<TableViewPeer*>(self)->moved(e);
    }), this);
    g_signal_connect(area, "scroll-event", G_CALLBACK(+[](GtkWidget*, GdkEventScroll* e, gpointer self) -> gboolean {
        return static_cast<TableViewPeer*>(self)->scrolled(e);
    }), this);
}

TableViewPeer::~TableViewPeer() = default;

int TableViewPeer::scale() const { return WindowPeer::current() ? WindowPeer::current()->scale() : 1; }

double TableViewPeer::heightPoints() const { return table_.frame().size.height; }

double TableViewPeer::widthPoints() const { return table_.frame().size.width; }

void TableViewPeer::viewChanged(kit::View& view)
{
    // A reload: rows may have come or gone; the scroll position stays where it can.
    laidOut_ = false;
    scrollTo(offset_);
    gtk_widget_queue_draw(widget());
    ViewPeer::viewChanged(view);
}

void TableViewPeer::subviewsChanged(kit::View&)
{
    // Cells come and go as rows show; they are drawn here, the window does not place them.
    if (!drawing_)
        gtk_widget_queue_draw(widget());
}

void TableViewPeer::update()
{
    // A screenful of cells, plus the rows cut at both edges.
    table_.setVisibleRowCount(static_cast<size_t>(std::ceil(heightPoints() / rowHeight)) + 3);
}

void TableViewPeer::layout()
{
    if (laidOut_)
        return;
    laidOut_ = true;
    sections_.clear();
    double y = 0;
    int count = table_.numberOfSections();
    for (int s = 0; s < count; ++s) {
        Section section;
        section.top = y;
        section.rows = table_.numberOfRowsInSection(s);
        section.title = table_.titleForHeaderInSection(s).value_or("");
        section.header = section.rows > 0 && !section.title.empty();
        if (section.header)
            y += headerHeight;
        section.rowsTop = y;
        y += section.rows * rowHeight;
        sections_.push_back(std::move(section));
    }
    indexTitles_ = table_.sectionIndexTitles();
}

double TableViewPeer::contentHeight()
{
    layout();
    if (sections_.empty())
        return 0;
    const Section& last = sections_.back();
    return last.rowsTop + last.rows * rowHeight;
}

double TableViewPeer::maxOffset() { return std::max(0.0, contentHeight() - heightPoints()); }

void TableViewPeer::scrollTo(double offset)
{
    double clamped = std::clamp(offset, 0.0, maxOffset());
    if (clamped == offset_)
        return;
    offset_ = clamped;
    gtk_widget_queue_draw(widget());
}

double TableViewPeer::sectionTop(int section)
{
    layout();
    if (section < 0 || sections_.empty())
        return 0;
    if (section >= static_cast<int>(sections_.size()))
        return contentHeight();
    return sections_[section].top;
}

std::optional<kit::IndexPath> TableViewPeer::rowAt(double y)
{
    layout();
    for (size_t s = 0; s < sections_.size(); ++s) {
        const Section& section = sections_[s];
        double bottom = section.rowsTop + section.rows * rowHeight;
        if (y >= section.rowsTop && y < bottom)
            return kit::IndexPath{static_cast<int>(s), static_cast<int>((y - section.rowsTop) / rowHeight)};
    }
    return std::nullopt;
}

std::optional<kit::IndexPath> TableViewPeer::topRow()
{
    layout();
    // Under the pinned header when the top section has one.
    for (size_t s = 0; s < sections_.size(); ++s) {
        const Section& section = sections_[s];
        double bottom = section.rowsTop + section.rows * rowHeight;
        if (offset_ < bottom && section.rows > 0)
            return rowAt(std::max(offset_ + (section.header ? headerHeight : 0), section.rowsTop));
    }
    return std::nullopt;
}

std::optional<int> TableViewPeer::indexSectionAt(double y)
{
    layout();
    if (indexTitles_.empty())
        return std::nullopt;
    double step = (heightPoints() - 2 * indexMargin) / static_cast<double>(indexTitles_.size());
    int position = static_cast<int>(std::floor((y - indexMargin) / step));
    position = std::clamp(position, 0, static_cast<int>(indexTitles_.size()) - 1);
    // Titles stand for the sections in order.
    return std::min(position, std::max(static_cast<int>(sections_.size()) - 1, 0));
}

void TableViewPeer::jumpToIndexAt(double y)
{
    if (auto section = indexSectionAt(y))
        scrollTo(sectionTop(*section));
}

bool TableViewPeer::pressed(GdkEventButton* event)
{
    if (event->button != 1 || event->type != GDK_BUTTON_PRESS)
        return false;
    pressing_ = true;
    dragging_ = false;
    pressX_ = event->x;
    pressY_ = event->y;
    pressOffset_ = offset_;
    int s = scale();
    layout();
    onIndex_ = !indexTitles_.empty() && event->x / s >= widthPoints() - indexWidth;
    if (onIndex_)
        jumpToIndexAt(event->y / s);
    return true;
}

bool TableViewPeer::moved(GdkEventMotion* event)
{
    if (!pressing_)
        return false;
    int s = scale();
    if (onIndex_) {
        jumpToIndexAt(event->y / s);
        return true;
    }
    if (!dragging_ && std::fabs(event->y - pressY_) < dragThreshold && std::fabs(event->x - pressX_) < dragThreshold)
        return true;
    dragging_ = true;
    scrollTo(pressOffset_ - (event->y - pressY_) / s);
    return true;
}

bool TableViewPeer::released(GdkEventButton* event)
{
    if (event->button != 1 || !pressing_)
        return false;
    pressing_ = false;
    if (dragging_ || onIndex_)
        return true;
    int s = scale();
    double y = event->y / s;
    // The pinned header covers the rows under it.
    layout();
    auto path = rowAt(offset_ + y);
    if (path && y < headerHeight && sections_[path->section].header && sections_[path->section].rowsTop < offset_ + headerHeight)
        return true;
    if (path)
        table_.userDidSelectRowAtIndexPath(*path);
    return true;
}

bool TableViewPeer::scrolled(GdkEventScroll* event)
{
    double dy = 0;
    switch (event->direction) {
    case GDK_SCROLL_UP:
        dy = -1;
        break;
    case GDK_SCROLL_DOWN:
        dy = 1;
        break;
    case GDK_SCROLL_SMOOTH:
        dy = event->delta_y;
        break;
    default:
        return false;
    }
    scrollTo(offset_ + dy * wheelStep);
    return true;
}

// A press and release sent to the table, as the display server would send them.
bool TableViewPeer::sendClick(double x, double y)
{
    GtkWidget* area = widget();
    GdkWindow* window = gtk_widget_get_window(area);
    if (!window || !gtk_widget_is_visible(area) || gtk_widget_get_opacity(area) < 0.01)
        return false;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window));
    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->button.window = GDK_WINDOW(g_object_ref(window));
        event->button.send_event = TRUE;
        event->button.time = GDK_CURRENT_TIME;
        event->button.x = x;
        event->button.y = y;
        event->button.button = 1;
        gdk_event_set_device(event, gdk_seat_get_pointer(seat));
        gtk_widget_event(area, event);
        gdk_event_free(event);
    }
    return true;
}

bool TableViewPeer::clickRow(kit::IndexPath path)
{
    if (!table_.hasRow(path))
        return false;
    layout();
    const Section& section = sections_[path.section];
    double top = section.rowsTop + path.row * rowHeight;
    // Fully in view, below the pinned header.
    double above = section.header ? headerHeight : 0;
    if (top < offset_ + above)
        scrollTo(top - above);
    else if (top + rowHeight > offset_ + heightPoints())
        scrollTo(top + rowHeight - heightPoints());
    int s = scale();
    return sendClick((widthPoints() - indexWidth) / 2 * s, (top - offset_ + rowHeight / 2) * s);
}

bool TableViewPeer::clickIndex(size_t position)
{
    layout();
    if (position >= indexTitles_.size())
        return false;
    double step = (heightPoints() - 2 * indexMargin) / static_cast<double>(indexTitles_.size());
    int s = scale();
    return sendClick((widthPoints() - indexWidth / 2) * s, (indexMargin + (position + 0.5) * step) * s);
}

GdkPixbuf* TableViewPeer::pixbuf(const std::string& path)
{
    auto it = pixbufs_.find(path);
    if (it == pixbufs_.end())
        it = pixbufs_.emplace(path, GObjectPtr<GdkPixbuf>(gdk_pixbuf_new_from_file(path.c_str(), nullptr))).first;
    return it->second.get();
}

// A cell's views as the kit holds them: background, a label's text, an image view's picture.
void TableViewPeer::drawView(cairo_t* cr, kit::View& view, double x, double y)
{
    if (view.isHidden() || view.alpha() <= 0)
        return;
    kit::Rect frame = view.frame();
    cairo_save(cr);
    cairo_translate(cr, x, y);
    kit::Color color = view.backgroundColor();
    if (color.alpha > 0) {
        cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha * view.alpha());
        cairo_rectangle(cr, 0, 0, frame.size.width, frame.size.height);
        cairo_fill(cr);
    }
    if (auto* label = dynamic_cast<kit::Label*>(&view)) {
        // Text is laid out in pixels for crisp glyphs.
        cairo_save(cr);
        int s = scale();
        cairo_scale(cr, 1.0 / s, 1.0 / s);
        LabelPeer::drawText(cr, *label, frame.size.width * s, frame.size.height * s, s);
        cairo_restore(cr);
    } else if (auto* imageView = dynamic_cast<kit::ImageView*>(&view)) {
        const auto& image = imageView->image();
        GdkPixbuf* picture = image ? pixbuf(image->path()) : nullptr;
        if (picture && gdk_pixbuf_get_width(picture) > 0 && gdk_pixbuf_get_height(picture) > 0) {
            cairo_save(cr);
            cairo_scale(cr, frame.size.width / gdk_pixbuf_get_width(picture), frame.size.height / gdk_pixbuf_get_height(picture));
            gdk_cairo_set_source_pixbuf(cr, picture, 0, 0);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
            cairo_paint_with_alpha(cr, view.alpha());
            cairo_restore(cr);
        }
    }
    for (const auto& child : view.subviews())
        drawView(cr, *child, child->frame().origin.x, child->frame().origin.y);
    cairo_restore(cr);
}

void TableViewPeer::drawHeader(cairo_t* cr, const std::string& title, double y, double width)
{
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, y, 0, y + headerHeight);
    cairo_pattern_add_color_stop_rgb(gradient, 0, 0.565, 0.624, 0.667);
    cairo_pattern_add_color_stop_rgb(gradient, 1, 0.722, 0.757, 0.784);
    cairo_set_source(cr, gradient);
    cairo_rectangle(cr, 0, y, width, headerHeight);
    cairo_fill(cr);
    cairo_pattern_destroy(gradient);

    int s = scale();
    cairo_save(cr);
    cairo_scale(cr, 1.0 / s, 1.0 / s);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = LabelPeer::fontDescription({"Helvetica-Bold", 18}, s);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_text(layout, title.c_str(), -1);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_move_to(cr, 12 * s, y * s + (headerHeight * s - h) / 2);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    cairo_restore(cr);
}

void TableViewPeer::drawIndex(cairo_t* cr, double width, double height)
{
    if (indexTitles_.empty())
        return;
    int s = scale();
    double step = (height - 2 * indexMargin) / static_cast<double>(indexTitles_.size());
    cairo_save(cr);
    cairo_scale(cr, 1.0 / s, 1.0 / s);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = LabelPeer::fontDescription({"Helvetica-Bold", std::min(12.0, step)}, s);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    cairo_set_source_rgb(cr, 0.38, 0.4, 0.44);
    for (size_t i = 0; i < indexTitles_.size(); ++i) {
        pango_layout_set_text(layout, indexTitles_[i].c_str(), -1);
        int w = 0, h = 0;
        pango_layout_get_pixel_size(layout, &w, &h);
        double cx = (width - indexWidth / 2) * s;
        double cy = (indexMargin + (i + 0.5) * step) * s;
        cairo_move_to(cr, cx - w / 2.0, cy - h / 2.0);
        pango_cairo_show_layout(cr, layout);
    }
    g_object_unref(layout);
    cairo_restore(cr);
}

void TableViewPeer::draw(cairo_t* cr, int width, int height)
{
    int s = scale();
    double w = static_cast<double>(width) / s;
    double h = static_cast<double>(height) / s;
    cairo_save(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, s, s);
    layout();
    drawing_ = true;
    int pinned = -1;
    for (size_t si = 0; si < sections_.size(); ++si) {
        const Section& section = sections_[si];
        double bottom = section.rowsTop + section.rows * rowHeight;
        if (bottom <= offset_ || section.rows == 0)
            continue;
        if (section.top >= offset_ + h)
            break;
        if (section.header && pinned < 0)
            pinned = static_cast<int>(si);
        int first = std::max(0, static_cast<int>(std::floor((offset_ - section.rowsTop) / rowHeight)));
        int last = std::min(section.rows - 1, static_cast<int>(std::floor((offset_ + h - section.rowsTop) / rowHeight)));
        for (int r = first; r <= last; ++r) {
            double y = section.rowsTop + r * rowHeight - offset_;
            auto cell = table_.cellForRowAtIndexPath({static_cast<int>(si), r});
            if (cell)
                drawView(cr, *cell, 0, y);
            cairo_set_source_rgb(cr, 0.878, 0.878, 0.878);
            cairo_rectangle(cr, 0, y + rowHeight - 1.0 / s, w, 1.0 / s);
            cairo_fill(cr);
        }
        if (section.header && static_cast<int>(si) != pinned)
            drawHeader(cr, section.title, section.top - offset_, w);
    }
    // The top section's header stays at the top until the next one pushes it away.
    if (pinned >= 0) {
        double y = std::max(0.0, sections_[pinned].top - offset_);
        double next = sections_[pinned].rowsTop + sections_[pinned].rows * rowHeight - offset_;
        y = std::min(y, next - headerHeight);
        drawHeader(cr, sections_[pinned].title, y, w);
    }
    drawing_ = false;
    drawIndex(cr, w, h);
    cairo_restore(cr);
}

void TableViewPeer::describeInto(nlohmann::json& out)
{
    nlohmann::json top = nullptr;
    if (auto path = topRow())
        top = {path->section, path->row};
    out["table"] = {{"offset", std::round(offset_ * 10) / 10},
                    {"top", top},
                    {"cells", static_cast<int>(table_.subviews().size())}};
}

} // namespace backend::gtk
