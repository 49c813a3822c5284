#pragma once

#include "kit/TableViewCell.h"
#include "kit/View.h"

#include <compare>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kit {

class TableView;

struct IndexPath {
    int section = 0;
    int row = 0;
    auto operator<=>(const IndexPath&) const = default;
};

class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual int numberOfSectionsInTableView(TableView&) { return 1; }
    virtual int numberOfRowsInSection(TableView&, int section) = 0;
    virtual std::optional<std::string> titleForHeaderInSection(TableView&, int) { return std::nullopt; }
    virtual std::vector<std::string> sectionIndexTitlesForTableView(TableView&) { return {}; }
    virtual std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView&, IndexPath) = 0;
};

class TableViewDelegate {
public:
    virtual ~TableViewDelegate() = default;
    virtual void didSelectRowAtIndexPath(TableView&, IndexPath) {}
};

enum class TableViewStyle { Plain, Grouped };

// A table of sections and rows. Cells are asked of the data source for the rows on screen;
// a reload hands every cell back for reuse and asks again.
//
// The table lays its list out as a plain table: each section a header (none for a section without
// rows or title) and then its rows, all of fixed heights. It keeps the scroll position, pins the
// header of the section at the top edge until the next section pushes it away, and has the
// section index along its right edge. A touch on a row is a tap on it, unless it moves far
// enough to become a drag, which scrolls; a touch on the index jumps to the section it names.
// Positions are in points: "list" points from the top of the first section, "table" points
// from the table's own top-left corner.
class TableView : public View {
public:
    static constexpr double rowHeight = 44;
    static constexpr double headerHeight = 22;
    static constexpr double indexWidth = 24;
    // Above the first index title and below the last.
    static constexpr double indexMargin = 6;
    // A touch that moves this far (either way) is a drag, not a tap.
    static constexpr double dragThreshold = 6;
    // What one step of a mouse wheel scrolls: a row and a half.
    static constexpr double wheelStep = 66;

    struct SectionLayout {
        double top = 0;      // the header's top, or the first row's when there is no header
        double rowsTop = 0;
        int rows = 0;
        bool header = false;
        std::string title;
    };
    struct RowPlacement {
        IndexPath path;
        double y;            // table points
    };
    struct HeaderPlacement {
        int section;
        std::string title;
        double y;            // table points
    };

    using View::View;

    TableViewStyle style() const { return style_; }
    void setStyle(TableViewStyle style) { style_ = style; }
    void setDataSource(const std::shared_ptr<Object>& dataSource);
    void setDelegate(const std::shared_ptr<Object>& delegate) { delegate_ = delegate; }
    TableViewDataSource* dataSource() const;
    TableViewDelegate* delegate() const;

    void reloadData();
    int numberOfSections();
    int numberOfRowsInSection(int section);
    std::vector<std::string> sectionIndexTitles();
    std::optional<std::string> titleForHeaderInSection(int section);

    std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
    // The cell shown for that row (asked of the data source when not yet shown); null when the
    // row does not exist.
    std::shared_ptr<TableViewCell> cellForRowAtIndexPath(IndexPath indexPath);
    // How many cells exist at once (cells beyond that many are reused): a screenful and the
    // rows cut at both edges, unless set.
    void setVisibleRowCount(size_t count) { visibleRowCount_ = count; }
    size_t visibleRowCount() const;

    // The layout, as the data source answered at the last reload.
    const std::vector<SectionLayout>& sectionLayout();
    // The sections with rows in view, top to bottom.
    std::vector<size_t> sectionsInView();
    double contentHeight();
    // Where a section's header (or first row) starts, in list points; past the end for a
    // section after the last.
    double sectionTop(int section);
    // The row's place in list points; none when it does not exist.
    std::optional<double> rowTop(IndexPath indexPath);

    // The scroll position: list points above the table's top edge, from 0 to maxContentOffset().
    double contentOffset() const { return contentOffset_; }
    void setContentOffset(double offset);
    double maxContentOffset();
    // Scrolls by that many points (down the list when positive), as a wheel or a drag does.
    void scrollBy(double points) { setContentOffset(contentOffset_ + points); }
    // Scrolls as little as brings the whole row into view below the pinned header.
    void scrollToRowAtIndexPath(IndexPath indexPath);

    // What the table shows: the row at its top edge (under the pinned header), the rows in view
    // (cut ones included), the headers in view other than the pinned one, and the pinned one.
    std::optional<IndexPath> topRow();
    std::vector<RowPlacement> visibleRows();
    std::vector<HeaderPlacement> visibleHeaders();
    std::optional<HeaderPlacement> pinnedHeader();
    // The row drawn at a point (table points); none on a header, the pinned one included.
    std::optional<IndexPath> indexPathForRowAtPoint(Point point);

    // The section index: whether a point is on it, the section a height on it stands for
    // (title k stands for section k; past the last section, the last), and where title k is
    // drawn. None or false when the data source gives no titles.
    bool isOnIndex(Point point);
    std::optional<int> sectionForIndexAt(double y);
    std::optional<Point> centerOfIndexTitle(size_t position);

    // A touch, as a person's finger (or a mouse button) makes it, in table points.
    void touchBegan(Point point);
    void touchMoved(Point point);
    void touchEnded(Point point);
    void touchCancelled() { touch_.reset(); }

    // The row that keyboard focus is on, if any: moved by rows (across sections), kept in view.
    std::optional<IndexPath> focusedRow() const { return focusedRow_; }
    void setFocusedRow(std::optional<IndexPath> indexPath);
    // Moves focus that many rows on (back when negative), stopping at the first and last row;
    // without a focused row the first one in view takes it. False when the table has no rows.
    bool moveFocusedRow(int rows);

    std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
    void selectRowAtIndexPath(IndexPath indexPath);
    void deselectRowAtIndexPath(IndexPath indexPath, bool animated);
    // The user tapped a row: it becomes selected and the delegate hears of it.
    void userDidSelectRowAtIndexPath(IndexPath indexPath);
    bool hasRow(IndexPath indexPath);

    bool setOutlet(const std::string& name, const std::shared_ptr<Object>& target) override;

private:
    struct Touch {
        Point start;
        double startOffset;
        bool dragging = false;
        bool onIndex = false;
    };
    void recycle(std::shared_ptr<TableViewCell> cell);
    void invalidateLayout();
    void jumpToIndexAt(double y);
    // The row at a height in list points, in whatever section.
    std::optional<IndexPath> rowAtListY(double y);

    TableViewStyle style_ = TableViewStyle::Plain;
    std::weak_ptr<Object> dataSource_;
    std::weak_ptr<Object> delegate_;
    std::optional<IndexPath> selected_;
    std::map<IndexPath, std::shared_ptr<TableViewCell>> shown_;
    std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> reusable_;
    std::optional<size_t> visibleRowCount_;
    std::optional<std::vector<SectionLayout>> layout_;
    std::vector<std::string> indexTitles_;
    double contentOffset_ = 0;
    std::optional<Touch> touch_;
    std::optional<IndexPath> focusedRow_;
};

} // namespace kit
