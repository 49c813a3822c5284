#pragma once

#include "kit/View.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kit {

enum class ControlEvent { TouchUpInside };

class Button : public View {
public:
    using View::View;
    // The action runs when the user taps the button (touch up inside).
    void addTarget(std::function<void()> action, ControlEvent event);
    void userDidTap();

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title);
    bool setProperty(const std::string& name, const nlohmann::json& value) override;

protected:
    bool isAccessibilityElementByDefault() const override { return true; }

private:
    std::vector<std::function<void()>> actions_;
    std::optional<std::string> title_;
};

} // namespace kit
