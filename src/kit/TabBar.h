#pragma once

#include "kit/TabBarItem.h"
#include "kit/View.h"

#include <memory>
#include <vector>

namespace kit {

class TabBar;

class TabBarDelegate {
public:
    virtual ~TabBarDelegate() = default;
    // Only user taps are reported; selecting an item from code is silent.
    virtual void didSelectItem(TabBar&, TabBarItem&) {}
};

class TabBar : public View {
public:
    using View::View;

    const std::vector<std::shared_ptr<TabBarItem>>& items() const { return items_; }
    void setItems(std::vector<std::shared_ptr<TabBarItem>> items);
    TabBarItem* selectedItem() const { return selectedItem_; }
    std::optional<size_t> selectedIndex() const;
    // Null leaves no item selected.
    void setSelectedItem(TabBarItem* item);

    void setDelegate(const std::shared_ptr<Object>& delegate);
    TabBarDelegate* delegate() const;

    // The user tapped the item at `index`: it becomes selected and the delegate hears of it.
    void userDidTapItem(size_t index);

    bool setProperty(const std::string& name, const nlohmann::json& value) override;
    bool setOutlet(const std::string& name, const std::shared_ptr<Object>& target) override;

    ~TabBar() override;

private:
    friend class TabBarItem;
    std::vector<std::shared_ptr<TabBarItem>> items_;
    TabBarItem* selectedItem_ = nullptr;
    std::weak_ptr<Object> delegate_;
};

} // namespace kit
