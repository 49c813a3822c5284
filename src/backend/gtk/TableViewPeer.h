#pragma once

#include "backend/gtk/GObjectPtr.h"
#include "backend/gtk/ViewPeer.h"
#include "kit/TableView.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace backend::gtk {

// A plain table: section headers (a section without rows has none), rows of a fixed height drawn
// from the kit's own cells, the current section's header pinned at the top, and the section
// index along the right edge. Only the rows on screen are asked of the data source, so the kit
// reuses a screenful of cells however long the list. A click on a row is the user's tap on it;
// a click or drag on the index jumps to that section; the wheel and a drag scroll.
class TableViewPeer : public ViewPeer {
public:
    static constexpr double rowHeight = 44;
    static constexpr double headerHeight = 22;
    static constexpr double indexWidth = 24;

    explicit TableViewPeer(kit::TableView& table);
    ~TableViewPeer() override;

    void viewChanged(kit::View& view) override;
    void subviewsChanged(kit::View& view) override;
    void update() override;
    void describeInto(nlohmann::json& out) override;

    // The scroll position: points from the top of the list to the top of the table.
    double offset() const { return offset_; }
    void scrollTo(double offset);
    double contentHeight();
    double maxOffset();
    // Where a section's header (or first row) starts, in list points.
    double sectionTop(int section);
    // The row at the top edge of the table, under the pinned header.
    std::optional<kit::IndexPath> topRow();

    // Brings the row into view and clicks its middle, as a person's click does. False when the
    // row does not exist or the table cannot be clicked.
    bool clickRow(kit::IndexPath path);
    // Clicks the index title at that position. False when there is no such title.
    bool clickIndex(size_t position);

protected:
    void draw(cairo_t* cr, int width, int height) override;

private:
    struct Section {
        double top = 0;      // the header's top, or the first row's without a header
        double rowsTop = 0;
        int rows = 0;
        bool header = false;
        std::string title;
    };
    void layout();
    double heightPoints() const;
    double widthPoints() const;
    int scale() const;
    std::optional<kit::IndexPath> rowAt(double y);   // list points
    std::optional<int> indexSectionAt(double y);    // table points
    void jumpToIndexAt(double y);
    void drawView(cairo_t* cr, kit::View& view, double x, double y);
    void drawHeader(cairo_t* cr, const std::string& title, double y, double width);
    void drawIndex(cairo_t* cr, double width, double height);
    bool sendClick(double x, double y);
    GdkPixbuf* pixbuf(const std::string& path);

    bool pressed(GdkEventButton* event);
    bool released(GdkEventButton* event);
    bool moved(GdkEventMotion* event);
    bool scrolled(GdkEventScroll* event);

    kit::TableView& table_;
    std::vector<Section> sections_;
    std::vector<std::string> indexTitles_;
    double offset_ = 0;
    bool laidOut_ = false;
    bool drawing_ = false;
    // A press in progress: where it started (pixels), and whether it became a drag or is on the index.
    bool pressing_ = false;
    bool dragging_ = false;
    bool onIndex_ = false;
    double pressX_ = 0, pressY_ = 0, pressOffset_ = 0;
    std::map<std::string, GObjectPtr<GdkPixbuf>> pixbufs_;
};

} // namespace backend::gtk
