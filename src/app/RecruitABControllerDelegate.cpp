#include "app/RecruitABControllerDelegate.h"

namespace street {

void RecruitABControllerDelegate::peoplePickerNavigationControllerDidCancel(ABPeoplePickerNavigationController&)
{
    if (parentViewController_)
        parentViewController_->dismissModalViewControllerAnimated(true);
}

bool RecruitABControllerDelegate::shouldContinueAfterSelectingPerson(ABPeoplePickerNavigationController&,
                                                                     const ABRecord&)
{
    return false;
}

bool RecruitABControllerDelegate::shouldContinueAfterSelectingPerson(ABPeoplePickerNavigationController&,
                                                                     const ABRecord&, int, int)
{
    return false;
}

void RecruitABControllerDelegate::willShowViewController(NavigationController&, NavigationPage& viewController, bool)
{
    // An empty, invisible item where the picker's cancel button would stand.
    auto item = std::make_shared<CustomBarButtonItem>();
    item->customView = std::make_shared<kit::View>(kit::Rect(0, 0, 0, 0));
    viewController.navigationItem.setRightBarButtonItem(std::move(item), false);
}

} // namespace street
