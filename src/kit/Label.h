#pragma once

#include "kit/View.h"

#include <optional>
#include <string>

namespace kit {

struct Font {
    std::string name;
    double size = 17;
    static Font fontWithName(std::string name, double size) { return Font{std::move(name), size}; }
};

class Label : public View {
public:
    using View::View;
    const std::optional<std::string>& text() const { return text_; }
    void setText(std::optional<std::string> text);
    const Font& font() const { return font_; }
    void setFont(Font font);
    bool setProperty(const std::string& name, const nlohmann::json& value) override;

protected:
    bool isAccessibilityElementByDefault() const override { return true; }

private:
    std::optional<std::string> text_;
    Font font_{"Helvetica", 17};
};

} // namespace kit
