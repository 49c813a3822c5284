#pragma once

#include "backend/gtk/ViewPeer.h"
#include "kit/Toolbar.h"

#include <string>
#include <vector>

namespace backend::gtk {

// A toolbar: one bordered button per item, left to right. A click is the user's tap on the item.
class ToolbarPeer : public ViewPeer {
public:
    ToolbarPeer(WindowPeer& window, kit::Toolbar& toolbar);
    void update() override;
    void describeForReaders() override;

    // Clicks the first item with that title, as a person's click does. False when there is
    // none or it cannot be clicked.
    bool click(const std::string& title);

private:
    void rebuild();

    kit::Toolbar& toolbar_;
    std::vector<GtkWidget*> buttons_;
    std::vector<const kit::BarButtonItem*> built_;
    int focused_ = -1;
};

} // namespace backend::gtk
