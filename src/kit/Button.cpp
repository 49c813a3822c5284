#include "kit/Button.h"

#include <nlohmann/json.hpp>

namespace kit {

void Button::addTarget(std::function<void()> action, ControlEvent) { actions_.push_back(std::move(action)); }

void Button::userDidTap()
{
    auto keep = sharedAs<Button>();
    auto actions = actions_;
    for (auto& action : actions)
        action();
}

void Button::setTitle(std::optional<std::string> title)
{
    title_ = std::move(title);
    changed();
}

bool Button::setProperty(const std::string& name, const nlohmann::json& value)
{
    if (name == "title") {
        setTitle(value.is_string() ? std::optional(value.get<std::string>()) : std::nullopt);
        return true;
    }
    return View::setProperty(name, value);
}

} // namespace kit
