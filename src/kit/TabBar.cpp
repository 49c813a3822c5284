#include "kit/TabBar.h"


#include <nlohmann/json.hpp>

namespace kit {

bool TabBarItem::setProperty(const std::string& name, const nlohmann::json& value)
{
    if (name == "title")
        title_ = value.is_string() ? std::optional(value.get<std::string>()) : std::nullopt;
    else if (name == "badgeValue")
        badgeValue_ = value.is_string() ? std::optional(value.get<std::string>()) : std::nullopt;
    else if (name == "image")
        imageName_ = value.get<std::string>();
    else if (name == "tag")
        tag_ = value.get<int>();
    else
        return false;
    return true;
}

void TabBarItem::setTitle(std::optional<std::string> title)
{
    title_ = std::move(title);
    if (owner_)
        owner_->changed();
}

void TabBarItem::setBadgeValue(std::optional<std::string> value)
{
    badgeValue_ = std::move(value);
    if (owner_)
        owner_->changed();
}

TabBar::~TabBar()
{
    for (auto& item : items_)
        if (item->owner_ == this)
            item->owner_ = nullptr;
}

void TabBar::setItems(std::vector<std::shared_ptr<TabBarItem>> items)
{
    for (auto& item : items_)
        if (item->owner_ == this)
            item->owner_ = nullptr;
    items_ = std::move(items);
    for (auto& item : items_)
        item->owner_ = this;
    selectedItem_ = nullptr;
    changed();
}

std::optional<size_t> TabBar::selectedIndex() const
{
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == selectedItem_)
            return i;
    return std::nullopt;
}

void TabBar::setSelectedItem(TabBarItem* item)
{
    selectedItem_ = nullptr;
    for (auto& candidate : items_)
        if (candidate.get() == item)
            selectedItem_ = item;
    changed();
}

void TabBar::setDelegate(const std::shared_ptr<Object>& delegate) { delegate_ = delegate; }

TabBarDelegate* TabBar::delegate() const { return dynamic_cast<TabBarDelegate*>(delegate_.lock().get()); }

void TabBar::userDidTapItem(size_t index)
{
    if (index >= items_.size())
        return;
    auto item = items_[index];
    setSelectedItem(item.get());
    auto keep = delegate_.lock();
    if (auto* d = dynamic_cast<TabBarDelegate*>(keep.get()))
        d->didSelectItem(*this, *item);
}

bool TabBar::setProperty(const std::string& name, const nlohmann::json& value)
{
    if (name == "items") {
        std::vector<std::shared_ptr<TabBarItem>> items;
        for (const auto& entry : value) {
            auto item = std::make_shared<TabBarItem>();
            for (const auto& [key, v] : entry.items())
                item->setProperty(key, v);
            items.push_back(item);
        }
        setItems(std::move(items));
        return true;
    }
    return View::setProperty(name, value);
}

bool TabBar::setOutlet(const std::string& name, const std::shared_ptr<Object>& target)
{
    if (name != "delegate")
        return View::setOutlet(name, target);
    setDelegate(target);
    return true;
}

} // namespace kit
