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
class TableView : public View {
public:
    using View::View;

    TableViewStyle style() const { return style_; }
    void setStyle(TableViewStyle style) { style_ = style; }
    void setDataSource(const std::shared_ptr<Object>& dataSource) { dataSource_ = dataSource; }
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
    // How many rows are shown at once: cells beyond that many are reused.
    void setVisibleRowCount(size_t count) { visibleRowCount_ = count; }

    std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
    void selectRowAtIndexPath(IndexPath indexPath);
    void deselectRowAtIndexPath(IndexPath indexPath, bool animated);
    // The user tapped a row: it becomes selected and the delegate hears of it.
    void userDidSelectRowAtIndexPath(IndexPath indexPath);
    bool hasRow(IndexPath indexPath);

    bool setOutlet(const std::string& name, const std::shared_ptr<Object>& target) override;

private:
    void recycle(std::shared_ptr<TableViewCell> cell);

    TableViewStyle style_ = TableViewStyle::Plain;
    std::weak_ptr<Object> dataSource_;
    std::weak_ptr<Object> delegate_;
    std::optional<IndexPath> selected_;
    std::map<IndexPath, std::shared_ptr<TableViewCell>> shown_;
    std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> reusable_;
    size_t visibleRowCount_ = 10;
};

} // namespace kit
