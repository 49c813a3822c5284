#pragma once

#include "backend/gtk/ViewPeer.h"
#include "kit/TabBar.h"

#include <optional>
#include <string>
#include <vector>

namespace backend::gtk {

// The tab bar: one button per item (icon over title), the selected one highlighted, a red
// badge bubble where an item has a badge. A click goes to the kit's tab bar as the user's tap.
class TabBarPeer : public ViewPeer {
public:
    TabBarPeer(WindowPeer& window, kit::TabBar& bar);
    void update() override;
    void describeForReaders() override;
    // The titles' height in pixels, which follows the desktop's text size.
    void describeInto(nlohmann::json& out) override;

    // Clicks the item's button, as a person's click does. False when it cannot be clicked.
    bool click(size_t index);
    // Gives the item's button the desktop's focus.
    void grabFocus(size_t index);

private:
    struct Item {
        GtkWidget* button;
        GtkWidget* image;
        GtkWidget* label;
        GtkWidget* badge;
        std::string imageName;
        std::optional<std::string> title;
        std::optional<std::string> badgeText;
        bool selected = false;
        bool focused = false;
    };
    void rebuild();

    kit::TabBar& bar_;
    std::vector<Item> items_;
    std::vector<const kit::TabBarItem*> built_;
    bool grabbing_ = false;
};

} // namespace backend::gtk
