#include "kit/TableView.h"

#include <algorithm>
#include <cmath>

namespace kit {

TableViewDataSource* TableView::dataSource() const { return dynamic_cast<TableViewDataSource*>(dataSource_.lock().get()); }

TableViewDelegate* TableView::delegate() const { return dynamic_cast<TableViewDelegate*>(delegate_.lock().get()); }

void TableView::recycle(std::shared_ptr<TableViewCell> cell)
{
    if (!cell)
        return;
    cell->removeFromSuperview();
    reusable_[cell->reuseIdentifier()].push_back(std::move(cell));
}

void TableView::setDataSource(const std::shared_ptr<Object>& dataSource)
{
    dataSource_ = dataSource;
    invalidateLayout();
}

void TableView::reloadData()
{
    auto shown = std::move(shown_);
    shown_.clear();
    for (auto& [path, cell] : shown)
        recycle(cell);
    invalidateLayout();
    changed();
}

// Rows may have come or gone: the scroll position and the focused row stay where they can.
void TableView::invalidateLayout()
{
    layout_.reset();
    if (focusedRow_ && !hasRow(*focusedRow_))
        focusedRow_.reset();
    if (contentOffset_ > 0)
        contentOffset_ = std::clamp(contentOffset_, 0.0, maxContentOffset());
}

size_t TableView::visibleRowCount() const
{
    if (visibleRowCount_)
        return *visibleRowCount_;
    double height = frame().size.height;
    return height > 0 ? static_cast<size_t>(std::ceil(height / rowHeight)) + 3 : 10;
}

const std::vector<TableView::SectionLayout>& TableView::sectionLayout()
{
    if (layout_)
        return *layout_;
    layout_.emplace();
    double y = 0;
    int count = numberOfSections();
    for (int s = 0; s < count; ++s) {
        SectionLayout section;
        section.top = y;
        section.rows = std::max(numberOfRowsInSection(s), 0);
        section.title = titleForHeaderInSection(s).value_or("");
        section.header = section.rows > 0 && !section.title.empty();
        if (section.header)
            y += headerHeight;
        section.rowsTop = y;
        y += section.rows * rowHeight;
        layout_->push_back(std::move(section));
    }
    indexTitles_ = sectionIndexTitles();
    return *layout_;
}

double TableView::contentHeight()
{
    const auto& sections = sectionLayout();
    if (sections.empty())
        return 0;
    return sections.back().rowsTop + sections.back().rows * rowHeight;
}

double TableView::sectionTop(int section)
{
    const auto& sections = sectionLayout();
    if (section < 0 || sections.empty())
        return 0;
    if (section >= static_cast<int>(sections.size()))
        return contentHeight();
    return sections[section].top;
}

std::optional<double> TableView::rowTop(IndexPath indexPath)
{
    const auto& sections = sectionLayout();
    if (indexPath.section < 0 || indexPath.section >= static_cast<int>(sections.size()) || indexPath.row < 0
        || indexPath.row >= sections[indexPath.section].rows)
        return std::nullopt;
    return sections[indexPath.section].rowsTop + indexPath.row * rowHeight;
}

double TableView::maxContentOffset() { return std::max(0.0, contentHeight() - frame().size.height); }

void TableView::setContentOffset(double offset)
{
    if (std::isnan(offset))
        return;
    double clamped = std::clamp(offset, 0.0, maxContentOffset());
    if (clamped == contentOffset_)
        return;
    contentOffset_ = clamped;
    changed();
}

void TableView::scrollToRowAtIndexPath(IndexPath indexPath)
{
    auto top = rowTop(indexPath);
    if (!top)
        return;
    double above = sectionLayout()[indexPath.section].header ? headerHeight : 0;
    if (*top < contentOffset_ + above)
        setContentOffset(*top - above);
    else if (*top + rowHeight > contentOffset_ + frame().size.height)
        setContentOffset(*top + rowHeight - frame().size.height);
}

std::optional<IndexPath> TableView::rowAtListY(double y)
{
    const auto& sections = sectionLayout();
    for (size_t s = 0; s < sections.size(); ++s) {
        const SectionLayout& section = sections[s];
        double bottom = section.rowsTop + section.rows * rowHeight;
        if (y >= section.rowsTop && y < bottom)
            return IndexPath{static_cast<int>(s), static_cast<int>((y - section.rowsTop) / rowHeight)};
    }
    return std::nullopt;
}

std::optional<IndexPath> TableView::topRow()
{
    // The first row not wholly behind the header pinned at the top edge.
    double covered = contentOffset_;
    if (auto pinned = pinnedHeader(); pinned && pinned->y <= 0)
        covered += pinned->y + headerHeight;
    const auto& sections = sectionLayout();
    for (size_t s = 0; s < sections.size(); ++s) {
        const SectionLayout& section = sections[s];
        if (section.rows > 0 && section.rowsTop + section.rows * rowHeight > covered) {
            int row = covered <= section.rowsTop ? 0 : static_cast<int>(std::floor((covered - section.rowsTop) / rowHeight));
            return IndexPath{static_cast<int>(s), row};
        }
    }
    return std::nullopt;
}

std::vector<TableView::RowPlacement> TableView::visibleRows()
{
    std::vector<RowPlacement> rows;
    const auto& sections = sectionLayout();
    double height = frame().size.height;
    for (size_t s = 0; s < sections.size(); ++s) {
        const SectionLayout& section = sections[s];
        double bottom = section.rowsTop + section.rows * rowHeight;
        if (bottom <= contentOffset_ || section.rows == 0)
            continue;
        if (section.top >= contentOffset_ + height)
            break;
        int first = std::max(0, static_cast<int>(std::floor((contentOffset_ - section.rowsTop) / rowHeight)));
        int last = std::min(section.rows - 1, static_cast<int>(std::floor((contentOffset_ + height - section.rowsTop) / rowHeight)));
        for (int r = first; r <= last; ++r)
            rows.push_back({{static_cast<int>(s), r}, section.rowsTop + r * rowHeight - contentOffset_});
    }
    return rows;
}

std::vector<size_t> TableView::sectionsInView()
{
    std::vector<size_t> shown;
    const auto& sections = sectionLayout();
    for (size_t s = 0; s < sections.size(); ++s) {
        const SectionLayout& section = sections[s];
        if (section.rowsTop + section.rows * rowHeight <= contentOffset_ || section.rows == 0)
            continue;
        if (section.top >= contentOffset_ + frame().size.height)
            break;
        shown.push_back(s);
    }
    return shown;
}

std::optional<TableView::HeaderPlacement> TableView::pinnedHeader()
{
    // The first section in view that has a header keeps it at the top edge until its own rows
    // end and push it away.
    for (size_t s : sectionsInView()) {
        const SectionLayout& section = sectionLayout()[s];
        if (!section.header)
            continue;
        double bottom = section.rowsTop + section.rows * rowHeight;
        double y = std::min(std::max(0.0, section.top - contentOffset_), bottom - contentOffset_ - headerHeight);
        return HeaderPlacement{static_cast<int>(s), section.title, y};
    }
    return std::nullopt;
}

std::vector<TableView::HeaderPlacement> TableView::visibleHeaders()
{
    std::vector<HeaderPlacement> headers;
    auto pinned = pinnedHeader();
    for (size_t s : sectionsInView()) {
        const SectionLayout& section = sectionLayout()[s];
        if (section.header && !(pinned && pinned->section == static_cast<int>(s)))
            headers.push_back({static_cast<int>(s), section.title, section.top - contentOffset_});
    }
    return headers;
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point point)
{
    if (auto pinned = pinnedHeader(); pinned && point.y >= pinned->y && point.y < pinned->y + headerHeight)
        return std::nullopt;
    return rowAtListY(contentOffset_ + point.y);
}

bool TableView::isOnIndex(Point point)
{
    sectionLayout();
    return !indexTitles_.empty() && point.x >= frame().size.width - indexWidth;
}

std::optional<int> TableView::sectionForIndexAt(double y)
{
    const auto& sections = sectionLayout();
    if (indexTitles_.empty())
        return std::nullopt;
    double step = (frame().size.height - 2 * indexMargin) / static_cast<double>(indexTitles_.size());
    int last = static_cast<int>(indexTitles_.size()) - 1;
    int position = step > 0 ? static_cast<int>(std::clamp(std::floor((y - indexMargin) / step), 0.0, static_cast<double>(last))) : 0;
    return std::min(position, std::max(static_cast<int>(sections.size()) - 1, 0));
}

std::optional<Point> TableView::centerOfIndexTitle(size_t position)
{
    sectionLayout();
    if (position >= indexTitles_.size())
        return std::nullopt;
    double step = (frame().size.height - 2 * indexMargin) / static_cast<double>(indexTitles_.size());
    return Point{frame().size.width - indexWidth / 2, indexMargin + (static_cast<double>(position) + 0.5) * step};
}

void TableView::jumpToIndexAt(double y)
{
    if (auto section = sectionForIndexAt(y))
        setContentOffset(sectionTop(*section));
}

void TableView::touchBegan(Point point)
{
    touch_ = Touch{point, contentOffset_, false, isOnIndex(point)};
    if (touch_->onIndex)
        jumpToIndexAt(point.y);
}

void TableView::touchMoved(Point point)
{
    if (!touch_)
        return;
    if (touch_->onIndex) {
        jumpToIndexAt(point.y);
        return;
    }
    if (!touch_->dragging && std::fabs(point.y - touch_->start.y) < dragThreshold
        && std::fabs(point.x - touch_->start.x) < dragThreshold)
        return;
    touch_->dragging = true;
    setContentOffset(touch_->startOffset - (point.y - touch_->start.y));
}

void TableView::touchEnded(Point point)
{
    if (!touch_)
        return;
    Touch touch = *touch_;
    touch_.reset();
    if (touch.dragging || touch.onIndex)
        return;
    if (auto path = indexPathForRowAtPoint(point))
        userDidSelectRowAtIndexPath(*path);
}

void TableView::setFocusedRow(std::optional<IndexPath> indexPath)
{
    if (indexPath && !hasRow(*indexPath))
        return;
    bool moved = focusedRow_ != indexPath;
    focusedRow_ = indexPath;
    if (indexPath)
        scrollToRowAtIndexPath(*indexPath);
    if (moved)
        changed();
}

bool TableView::moveFocusedRow(int rows)
{
    const auto& sections = sectionLayout();
    auto start = focusedRow_ ? focusedRow_ : topRow();
    if (!start)
        return false;
    if (!focusedRow_) {
        setFocusedRow(start);
        return true;
    }
    // Rows counted across sections: empty sections are passed over.
    size_t position = 0, count = 0;
    for (size_t s = 0; s < sections.size(); ++s) {
        if (static_cast<int>(s) == start->section)
            position = count + static_cast<size_t>(start->row);
        count += static_cast<size_t>(sections[s].rows);
    }
    long target = std::clamp(static_cast<long>(position) + rows, 0L, static_cast<long>(count) - 1);
    for (size_t s = 0; s < sections.size(); ++s) {
        if (target < sections[s].rows) {
            setFocusedRow(IndexPath{static_cast<int>(s), static_cast<int>(target)});
            return true;
        }
        target -= sections[s].rows;
    }
    return true;
}

int TableView::numberOfSections()
{
    auto keep = dataSource_.lock();
    auto* source = dataSource();
    return source ? source->numberOfSectionsInTableView(*this) : 0;
}

int TableView::numberOfRowsInSection(int section)
{
    auto keep = dataSource_.lock();
    auto* source = dataSource();
    if (!source || section < 0 || section >= numberOfSections())
        return 0;
    return source->numberOfRowsInSection(*this, section);
}

std::vector<std::string> TableView::sectionIndexTitles()
{
    auto keep = dataSource_.lock();
    auto* source = dataSource();
    return source ? source->sectionIndexTitlesForTableView(*this) : std::vector<std::string>{};
}

std::optional<std::string> TableView::titleForHeaderInSection(int section)
{
    auto keep = dataSource_.lock();
    auto* source = dataSource();
    if (!source || section < 0 || section >= numberOfSections())
        return std::nullopt;
    return source->titleForHeaderInSection(*this, section);
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(const std::string& identifier)
{
    auto it = reusable_.find(identifier);
    if (it == reusable_.end() || it->second.empty())
        return nullptr;
    auto cell = std::move(it->second.back());
    it->second.pop_back();
    return cell;
}

bool TableView::hasRow(IndexPath indexPath)
{
    return indexPath.row >= 0 && indexPath.row < numberOfRowsInSection(indexPath.section);
}

std::shared_ptr<TableViewCell> TableView::cellForRowAtIndexPath(IndexPath indexPath)
{
    if (auto it = shown_.find(indexPath); it != shown_.end())
        return it->second;
    auto keep = dataSource_.lock();
    auto* source = dataSource();
    if (!source || !hasRow(indexPath))
        return nullptr;
    // Only a screenful of cells exists at a time: the oldest one shown goes back for reuse.
    while (shown_.size() >= visibleRowCount() && !shown_.empty()) {
        auto oldest = shown_.begin();
        auto cell = oldest->second;
        shown_.erase(oldest);
        recycle(cell);
    }
    auto cell = source->cellForRowAtIndexPath(*this, indexPath);
    if (cell) {
        shown_[indexPath] = cell;
        addSubview(cell);
    }
    return cell;
}

void TableView::selectRowAtIndexPath(IndexPath indexPath)
{
    if (hasRow(indexPath))
        selected_ = indexPath;
}

void TableView::deselectRowAtIndexPath(IndexPath indexPath, bool)
{
    if (selected_ == indexPath)
        selected_.reset();
}

void TableView::userDidSelectRowAtIndexPath(IndexPath indexPath)
{
    if (!hasRow(indexPath))
        return;
    selected_ = indexPath;
    auto keep = delegate_.lock();
    if (auto* d = dynamic_cast<TableViewDelegate*>(keep.get()))
        d->didSelectRowAtIndexPath(*this, indexPath);
}

bool TableView::setOutlet(const std::string& name, const std::shared_ptr<Object>& target)
{
    if (name == "dataSource") {
        setDataSource(target);
        return true;
    }
    if (name == "delegate") {
        setDelegate(target);
        return true;
    }
    return View::setOutlet(name, target);
}

} // namespace kit
