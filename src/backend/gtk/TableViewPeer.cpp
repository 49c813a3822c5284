#include "backend/gtk/TableViewPeer.h"

#include "backend/gtk/Accessibility.h"
#include "backend/gtk/InputRecord.h"
#include "backend/gtk/LabelPeer.h"
#include "backend/gtk/WindowPeer.h"
#include "kit/FocusModel.h"
#include "kit/ImageView.h"
#include "kit/Label.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <pango/pangocairo.h>

namespace backend::gtk {

using Table = kit::TableView;

TableViewPeer::TableViewPeer(WindowPeer& window, kit::TableView& table)
    : ViewPeer(window, table, nullptr, true)
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
    // A reader sees the rows on screen, each the contact it shows, ticked or not, with its
    // section's letter.
    accessibility::setItems(area, ATK_ROLE_LIST_ITEM, [this] {
        std::vector<accessibility::Item> items;
        auto focused = focusedRow();
        for (const auto& row : table_.visibleRows()) {
            auto cell = table_.cellForRowAtIndexPath(row.path);
            if (!cell)
                continue;
            accessibility::Item item;
            item.name = cell->accessibilityLabel().value_or("");
            if (item.name.empty())
                if (auto* label = cell->firstViewOfType<kit::Label>())
                    item.name = label->text().value_or("");
            item.description = table_.titleForHeaderInSection(row.path.section).value_or("");
            item.states = {ATK_STATE_VISIBLE, ATK_STATE_SHOWING, ATK_STATE_ENABLED, ATK_STATE_SENSITIVE,
                           ATK_STATE_FOCUSABLE, ATK_STATE_CHECKABLE};
            if (cell->isAccessibilityChecked())
                item.states.push_back(ATK_STATE_CHECKED);
            if (focused == row.path)
                item.states.push_back(ATK_STATE_FOCUSED);
            items.push_back(std::move(item));
        }
        return items;
    });
}

TableViewPeer::~TableViewPeer() = default;

kit::Point TableViewPeer::pointOf(double x, double y) const
{
    double s = scale();
    return {x / s, y / s};
}

void TableViewPeer::viewChanged(kit::View& view)
{
    // A reload, a scroll, the focused row: all of it shows in the drawing.
    gtk_widget_queue_draw(widget());
    ViewPeer::viewChanged(view);
}

void TableViewPeer::subviewsChanged(kit::View&)
{
    // Cells come and go as rows show; they are drawn here, the window does not place them.
    if (!drawing_)
        gtk_widget_queue_draw(widget());
}

std::optional<kit::IndexPath> TableViewPeer::focusedRow() const
{
    return kit::FocusModel::focus().view == &table_ ? table_.focusedRow() : std::nullopt;
}

void TableViewPeer::update()
{
    // Focus that came or went draws the row again.
    bool shown = focusedRow().has_value();
    if (shown != focusShown_) {
        focusShown_ = shown;
        gtk_widget_queue_draw(widget());
    }
}

bool TableViewPeer::pressed(GdkEventButton* event)
{
    if (event->button != 1 || event->type != GDK_BUTTON_PRESS)
        return false;
    pressing_ = true;
    table_.touchBegan(pointOf(event->x, event->y));
    return true;
}

bool TableViewPeer::moved(GdkEventMotion* event)
{
    if (!pressing_)
        return false;
    table_.touchMoved(pointOf(event->x, event->y));
    return true;
}

bool TableViewPeer::released(GdkEventButton* event)
{
    if (event->button != 1 || !pressing_)
        return false;
    pressing_ = false;
    auto point = pointOf(event->x, event->y);
    // A tap on a row (not a drag, not the section index) is the script's `row`.
    bool firsthand = InputRecord::firsthand();
    auto offset = table_.contentOffset();
    auto row = firsthand && !table_.isOnIndex(point) ? table_.indexPathForRowAtPoint(point) : std::nullopt;
    {
        InputRecord::Delivering delivering;
        table_.touchEnded(point);
    }
    if (row && table_.contentOffset() == offset)
        InputRecord::input("row " + std::to_string(row->section) + " " + std::to_string(row->row));
    return true;
}

bool TableViewPeer::scrolled(GdkEventScroll* event)
{
    double steps = 0;
    switch (event->direction) {
    case GDK_SCROLL_UP:
        steps = -1;
        break;
    case GDK_SCROLL_DOWN:
        steps = 1;
        break;
    case GDK_SCROLL_SMOOTH:
        steps = event->delta_y;
        break;
    default:
        return false;
    }
    // To a thousandth of a point: a smooth step is a fraction, and its product is not exact.
    double points = std::round(steps * Table::wheelStep * 1000) / 1000;
    if (InputRecord::firsthand()) {
        char line[64];
        std::snprintf(line, sizeof line, "scroll %.3f", points);
        InputRecord::input(line);
    }
    InputRecord::Delivering delivering;
    table_.scrollBy(points);
    return true;
}

bool TableViewPeer::reachable() const
{
    GtkWidget* area = widget();
    return gtk_widget_get_window(area) && gtk_widget_is_visible(area) && gtk_widget_get_opacity(area) >= 0.01;
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
    table_.scrollToRowAtIndexPath(path);
    auto top = table_.rowTop(path);
    if (!top)
        return false;
    int s = scale();
    return sendClick((table_.frame().size.width - Table::indexWidth) / 2 * s,
                     (*top - table_.contentOffset() + Table::rowHeight / 2) * s);
}

bool TableViewPeer::clickIndex(size_t position)
{
    auto center = table_.centerOfIndexTitle(position);
    if (!center)
        return false;
    int s = scale();
    return sendClick(center->x * s, center->y * s);
}

// A wheel turned over the table, as the display server would send it.
bool TableViewPeer::wheel(double points)
{
    if (!reachable())
        return false;
    GtkWidget* area = widget();
    GdkWindow* window = gtk_widget_get_window(area);
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window));
    GdkEvent* event = gdk_event_new(GDK_SCROLL);
    event->scroll.window = GDK_WINDOW(g_object_ref(window));
    event->scroll.send_event = TRUE;
    event->scroll.time = GDK_CURRENT_TIME;
    event->scroll.direction = GDK_SCROLL_SMOOTH;
    event->scroll.delta_y = points / Table::wheelStep;
    event->scroll.x = gtk_widget_get_allocated_width(area) / 2.0;
    event->scroll.y = gtk_widget_get_allocated_height(area) / 2.0;
    gdk_event_set_device(event, gdk_seat_get_pointer(seat));
    gtk_widget_event(area, event);
    gdk_event_free(event);
    return true;
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
        GdkPixbuf* picture = image ? pixbuf(image->pathAtScale(scale())) : nullptr;
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
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, y, 0, y + Table::headerHeight);
    cairo_pattern_add_color_stop_rgb(gradient, 0, 0.565, 0.624, 0.667);
    cairo_pattern_add_color_stop_rgb(gradient, 1, 0.722, 0.757, 0.784);
    cairo_set_source(cr, gradient);
    cairo_rectangle(cr, 0, y, width, Table::headerHeight);
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
    cairo_move_to(cr, 12 * s, y * s + (Table::headerHeight * s - h) / 2);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    cairo_restore(cr);
}

void TableViewPeer::drawIndex(cairo_t* cr, double width, std::optional<int> current)
{
    const auto titles = table_.sectionIndexTitles();
    if (titles.empty())
        return;
    int s = scale();
    double step = (table_.frame().size.height - 2 * Table::indexMargin) / static_cast<double>(titles.size());
    cairo_save(cr);
    cairo_scale(cr, 1.0 / s, 1.0 / s);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = LabelPeer::fontDescription({"Helvetica-Bold", std::min(12.0, step / WindowPeer::textScale())}, s);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    for (size_t i = 0; i < titles.size(); ++i) {
        auto center = table_.centerOfIndexTitle(i);
        if (!center)
            break;
        pango_layout_set_text(layout, titles[i].c_str(), -1);
        int w = 0, h = 0;
        pango_layout_get_pixel_size(layout, &w, &h);
        // The title of the section keyboard focus is in stands out.
        if (current && static_cast<int>(i) == *current)
            cairo_set_source_rgb(cr, 0.11, 0.37, 0.85);
        else
            cairo_set_source_rgb(cr, 0.38, 0.4, 0.44);
        double cx = (width - Table::indexWidth / 2) * s;
        cairo_move_to(cr, cx - w / 2.0, center->y * s - h / 2.0);
        pango_cairo_show_layout(cr, layout);
    }
    g_object_unref(layout);
    cairo_restore(cr);
}

void TableViewPeer::draw(cairo_t* cr, int width, int)
{
    int s = scale();
    double w = static_cast<double>(width) / s;
    cairo_save(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, s, s);
    drawing_ = true;
    auto focused = focusedRow();
    focusShown_ = focused.has_value();
    for (const auto& row : table_.visibleRows()) {
        if (focused && row.path == *focused) {
            cairo_set_source_rgb(cr, 0.84, 0.9, 1.0);
            cairo_rectangle(cr, 0, row.y, w, Table::rowHeight);
            cairo_fill(cr);
        }
        if (auto cell = table_.cellForRowAtIndexPath(row.path))
            drawView(cr, *cell, 0, row.y);
        cairo_set_source_rgb(cr, 0.878, 0.878, 0.878);
        cairo_rectangle(cr, 0, row.y + Table::rowHeight - 1.0 / s, w, 1.0 / s);
        cairo_fill(cr);
    }
    for (const auto& header : table_.visibleHeaders())
        drawHeader(cr, header.title, header.y, w);
    // The top section's header stays at the top until the next one pushes it away.
    if (auto pinned = table_.pinnedHeader())
        drawHeader(cr, pinned->title, pinned->y, w);
    drawing_ = false;
    drawIndex(cr, w, focused ? std::optional<int>(focused->section) : std::nullopt);
    cairo_restore(cr);
}

void TableViewPeer::describeInto(nlohmann::json& out)
{
    nlohmann::json top = nullptr;
    if (auto path = table_.topRow())
        top = {path->section, path->row};
    out["table"] = {{"offset", std::round(table_.contentOffset() * 10) / 10},
                    {"top", top},
                    {"cells", static_cast<int>(table_.subviews().size())}};
}

void TableViewPeer::describeForReaders()
{
    accessibility::describe(content(), ATK_ROLE_LIST, table_.accessibilityLabel());
    // The row the keyboard is on is the one a reader follows.
    auto focused = focusedRow();
    if (focused == spokenRow_)
        return;
    spokenRow_ = focused;
    std::optional<size_t> index;
    if (focused) {
        auto rows = table_.visibleRows();
        auto it = std::find_if(rows.begin(), rows.end(), [&](const auto& row) { return row.path == *focused; });
        if (it != rows.end())
            index = static_cast<size_t>(it - rows.begin());
    }
    accessibility::focusItem(content(), index);
}

} // namespace backend::gtk
