#pragma once

#include "backend/gtk/GObjectPtr.h"
#include "backend/gtk/ViewPeer.h"
#include "kit/TableView.h"

#include <map>
#include <optional>
#include <string>

namespace backend::gtk {

// Draws the kit's table as it lays itself out: its rows from the kit's own cells, its headers,
// the pinned one, the section index and the row keyboard focus is on. Button presses, motion
// and the wheel go to the table as its touches and scrolling; the table decides what they do.
class TableViewPeer : public ViewPeer {
public:
    TableViewPeer(WindowPeer& window, kit::TableView& table);
    ~TableViewPeer() override;

    void viewChanged(kit::View& view) override;
    void subviewsChanged(kit::View& view) override;
    void update() override;
    void describeForReaders() override;
    void describeInto(nlohmann::json& out) override;

    // The table's scroll position (points), for tools and tests.
    double offset() const { return table_.contentOffset(); }
    void scrollTo(double offset) { table_.setContentOffset(offset); }
    double contentHeight() { return table_.contentHeight(); }
    double maxOffset() { return table_.maxContentOffset(); }
    double sectionTop(int section) { return table_.sectionTop(section); }
    std::optional<kit::IndexPath> topRow() { return table_.topRow(); }

    // Brings the row into view and clicks its middle, as a person's click does. False when the
    // row does not exist or the table cannot be clicked.
    bool clickRow(kit::IndexPath path);
    // Clicks the index title at that position. False when there is no such title.
    bool clickIndex(size_t position);
    // Turns the wheel by that many points (down the list when positive). False when the table
    // cannot be reached.
    bool wheel(double points);

protected:
    void draw(cairo_t* cr, int width, int height) override;

private:
    // The row keyboard focus is on, when the table holds focus.
    std::optional<kit::IndexPath> focusedRow() const;
    bool reachable() const;
    kit::Point pointOf(double x, double y) const;
    void drawView(cairo_t* cr, kit::View& view, double x, double y);
    void drawHeader(cairo_t* cr, const std::string& title, double y, double width);
    void drawIndex(cairo_t* cr, double width, std::optional<int> current);
    bool sendClick(double x, double y);
    GdkPixbuf* pixbuf(const std::string& path);

    bool pressed(GdkEventButton* event);
    bool released(GdkEventButton* event);
    bool moved(GdkEventMotion* event);
    bool scrolled(GdkEventScroll* event);

    kit::TableView& table_;
    bool drawing_ = false;
    bool focusShown_ = false;
    std::optional<kit::IndexPath> spokenRow_;  // the row a screen reader was last told of
    bool pressing_ = false;
    std::map<std::string, GObjectPtr<GdkPixbuf>> pixbufs_;
};

} // namespace backend::gtk
