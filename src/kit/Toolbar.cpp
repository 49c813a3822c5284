#include "kit/Toolbar.h"

#include <nlohmann/json.hpp>

namespace kit {

void BarButtonItem::userDidTap()
{
    auto keep = shared_from_this();
    if (auto action = action_)
        action();
}

bool BarButtonItem::setProperty(const std::string& name, const nlohmann::json& value)
{
    if (name == "keyEquivalent") {
        keyEquivalent_ = value.is_string() ? KeyPress::parse(value.get<std::string>()) : std::nullopt;
        return true;
    }
    if (name != "title")
        return false;
    title_ = value.is_string() ? std::optional(value.get<std::string>()) : std::nullopt;
    return true;
}

void Toolbar::setItems(std::vector<std::shared_ptr<BarButtonItem>> items)
{
    items_ = std::move(items);
    changed();
}

bool Toolbar::setProperty(const std::string& name, const nlohmann::json& value)
{
    if (name != "items")
        return View::setProperty(name, value);
    std::vector<std::shared_ptr<BarButtonItem>> items;
    for (const auto& entry : value) {
        auto item = std::make_shared<BarButtonItem>();
        for (const auto& [key, v] : entry.items())
            item->setProperty(key, v);
        items.push_back(item);
    }
    setItems(std::move(items));
    return true;
}

} // namespace kit
