#pragma once

#include "kit/TabBar.h"
#include "kit/ViewController.h"

#include <memory>
#include <string>

namespace street {

// The Recruit screen. (Placeholder until the screen's behaviour lands.)
class RecruitABContainerController : public kit::ViewController {
public:
    explicit RecruitABContainerController(std::string nibName) : kit::ViewController(std::move(nibName)) {}
    const std::shared_ptr<kit::TabBar>& parentTabBar() const { return parentTabBar_; }
    void setParentTabBar(std::shared_ptr<kit::TabBar> tabBar) { parentTabBar_ = std::move(tabBar); }

private:
    std::shared_ptr<kit::TabBar> parentTabBar_;
};

} // namespace street
