#include "kit/TableView.h"

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

void TableView::reloadData()
{
    auto shown = std::move(shown_);
    shown_.clear();
    for (auto& [path, cell] : shown)
        recycle(cell);
    changed();
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
    while (shown_.size() >= visibleRowCount_ && !shown_.empty()) {
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
