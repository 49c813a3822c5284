#pragma once

#include "kit/Object.h"

#include <optional>
#include <string>

namespace kit {

class TabBar;

class TabBarItem : public Object {
public:
    TabBarItem() = default;
    explicit TabBarItem(std::optional<std::string> title) : title_(std::move(title)) {}

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title);
    // None: no badge.
    const std::optional<std::string>& badgeValue() const { return badgeValue_; }
    void setBadgeValue(std::optional<std::string> value);
    const std::string& imageName() const { return imageName_; }
    int tag() const { return tag_; }

    bool setProperty(const std::string& name, const nlohmann::json& value) override;

private:
    friend class TabBar;
    TabBar* owner_ = nullptr;  // the bar showing this item, told of changes
    std::optional<std::string> title_;
    std::optional<std::string> badgeValue_;
    std::string imageName_;
    int tag_ = 0;
};

} // namespace kit
