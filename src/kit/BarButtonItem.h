#pragma once

#include "kit/KeyPress.h"
#include "kit/Object.h"

#include <functional>
#include <optional>
#include <string>

namespace kit {

class BarButtonItem : public Object {
public:
    BarButtonItem() = default;
    explicit BarButtonItem(std::optional<std::string> title) : title_(std::move(title)) {}

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
    // Target and action in one: what a tap runs.
    void setAction(std::function<void()> action) { action_ = std::move(action); }
    bool hasAction() const { return static_cast<bool>(action_); }
    void userDidTap();
    // The key that taps the item wherever focus is on its screen ("keyEquivalent" in an
    // interface file: "Escape").
    const std::optional<KeyPress>& keyEquivalent() const { return keyEquivalent_; }
    void setKeyEquivalent(std::optional<KeyPress> key) { keyEquivalent_ = std::move(key); }

    bool setProperty(const std::string& name, const nlohmann::json& value) override;

private:
    std::optional<std::string> title_;
    std::function<void()> action_;
    std::optional<KeyPress> keyEquivalent_;
};

} // namespace kit
