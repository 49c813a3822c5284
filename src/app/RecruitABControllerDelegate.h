#pragma once

#include "kit/Application.h"
#include "kit/View.h"
#include "kit/ViewController.h"

#include <memory>
#include <string>

namespace street {

// The few people-picker pieces the delegate below touches. The kit has no people picker or
// navigation controller, so they are modelled here, only as far as the delegate needs them.
struct ABPeoplePickerNavigationController {};
struct NavigationController {};
struct ABRecord {};

// A bar item that shows a view of its own instead of a title.
struct CustomBarButtonItem {
    std::shared_ptr<kit::View> customView;
};

struct NavigationItem {
    std::shared_ptr<CustomBarButtonItem> rightBarButtonItem;
    void setRightBarButtonItem(std::shared_ptr<CustomBarButtonItem> item, bool /*animated*/)
    {
        rightBarButtonItem = std::move(item);
    }
};

// A page of a navigation controller, as far as its bar is concerned.
struct NavigationPage {
    NavigationItem navigationItem;
};

// Delegate of a people picker presented over `parentViewController`: the picker can only be
// cancelled, never moves on to a person, and shows no right-hand button. Nothing in the
// client creates it; it stands ready for a picker-based Recruit screen.
class RecruitABControllerDelegate : public kit::Object, public kit::ApplicationDelegate {
public:
    const std::shared_ptr<kit::ViewController>& parentViewController() const { return parentViewController_; }
    void setParentViewController(std::shared_ptr<kit::ViewController> controller)
    {
        parentViewController_ = std::move(controller);
    }

    void peoplePickerNavigationControllerDidCancel(ABPeoplePickerNavigationController& picker);
    bool shouldContinueAfterSelectingPerson(ABPeoplePickerNavigationController& picker, const ABRecord& person);
    bool shouldContinueAfterSelectingPerson(ABPeoplePickerNavigationController& picker, const ABRecord& person,
                                            int property, int identifier);
    void willShowViewController(NavigationController& navigationController, NavigationPage& viewController,
                                bool animated);

private:
    std::shared_ptr<kit::ViewController> parentViewController_;
};

} // namespace street
