#include "kit/Label.h"

#include <nlohmann/json.hpp>

namespace kit {

void Label::setText(std::optional<std::string> text)
{
    text_ = std::move(text);
    changed();
}

void Label::setFont(Font font)
{
    font_ = std::move(font);
    changed();
}

bool Label::setProperty(const std::string& name, const nlohmann::json& value)
{
    if (name == "text") {
        setText(value.is_string() ? std::optional(value.get<std::string>()) : std::nullopt);
        return true;
    }
    if (name == "font") {
        setFont(Font{value.at(0).get<std::string>(), value.at(1).get<double>()});
        return true;
    }
    return View::setProperty(name, value);
}

} // namespace kit
