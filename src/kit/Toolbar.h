#pragma once

#include "kit/BarButtonItem.h"
#include "kit/View.h"

#include <memory>
#include <vector>

namespace kit {

class Toolbar : public View {
public:
    using View::View;
    const std::vector<std::shared_ptr<BarButtonItem>>& items() const { return items_; }
    void setItems(std::vector<std::shared_ptr<BarButtonItem>> items);
    // "items": [ {"title": "Send Invites"}, ... ]
    bool setProperty(const std::string& name, const nlohmann::json& value) override;

private:
    std::vector<std::shared_ptr<BarButtonItem>> items_;
};

} // namespace kit
