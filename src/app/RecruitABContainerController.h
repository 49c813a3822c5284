#pragma once

#include "app/RecruitABTableViewController.h"

#include "kit/AlertView.h"
#include "kit/Button.h"
#include "kit/Label.h"
#include "kit/TabBar.h"
#include "kit/TableView.h"
#include "kit/Toolbar.h"
#include "kit/ViewController.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace street {

// The Recruit screen: asks for leave to read the contacts, shows them for ticking, keeps the
// sender's name, and posts the invitations.
class RecruitABContainerController : public kit::ViewController, public kit::AlertViewDelegate {
public:
    static constexpr int permissionAlertTag = 990;
    static constexpr int namePromptTag = 992;
    static constexpr const char* nameKey = "nameString";
    static constexpr const char* boundary = "0xKhTmLbOuNdArY";

    explicit RecruitABContainerController(std::string nibName) : kit::ViewController(std::move(nibName)) {}

    const std::shared_ptr<RecruitABTableViewController>& tableViewController() const { return tableViewController_; }
    void setTableViewController(std::shared_ptr<RecruitABTableViewController> c) { tableViewController_ = std::move(c); }
    const std::shared_ptr<kit::TableView>& tableView() const { return tableView_; }
    void setTableView(std::shared_ptr<kit::TableView> table) { tableView_ = std::move(table); }
    const std::shared_ptr<kit::Toolbar>& inviteTabBar() const { return inviteTabBar_; }
    void setInviteTabBar(std::shared_ptr<kit::Toolbar> toolbar) { inviteTabBar_ = std::move(toolbar); }
    const std::shared_ptr<kit::Button>& infoButton() const { return infoButton_; }
    void setInfoButton(std::shared_ptr<kit::Button> button) { infoButton_ = std::move(button); }
    const std::shared_ptr<kit::Label>& nameLabel() const { return nameLabel_; }
    void setNameLabel(std::shared_ptr<kit::Label> label) { nameLabel_ = std::move(label); }
    const std::shared_ptr<kit::Button>& changeNameButton() const { return changeNameButton_; }
    void setChangeNameButton(std::shared_ptr<kit::Button> button) { changeNameButton_ = std::move(button); }
    const std::shared_ptr<kit::TabBar>& parentTabBar() const { return parentTabBar_; }
    void setParentTabBar(std::shared_ptr<kit::TabBar> tabBar) { parentTabBar_ = std::move(tabBar); }

    // Loads the interface file, wires the toolbar and buttons, then asks for permission.
    void loadView() override;
    bool setOutlet(const std::string& name, const std::shared_ptr<kit::Object>& target) override;

    void clickedButtonAtIndex(kit::AlertView& alert, int index) override;

    void doInfo(kit::Object* sender);
    void doPopupNameChange(kit::Object* sender);
    void doCheckNameSet();
    void popupNameChange();
    void updateNameLabel(const std::string& name);
    void onInviteButtonClicked(kit::Object* sender);
    void doBack(kit::Object* sender);

    // Posts every ticked contact to the game server and shows its answer.
    void doInvite();
    // The "data" field: "name,number,email," per ticked contact, in table order.
    static std::string inviteData(const RecruitABTableViewController& contacts, bool* anyTicked = nullptr);
    // The multipart/form-data body: the fields in the order given, then the closing line.
    using FormFields = std::vector<std::pair<std::string_view, std::string_view>>;
    static std::string generateFormData(const FormFields& fields);

private:
    void showAlert(const std::optional<std::string>& title, const std::optional<std::string>& message);
    void close();

    std::shared_ptr<RecruitABTableViewController> tableViewController_;
    std::shared_ptr<kit::TableView> tableView_;
    std::shared_ptr<kit::Toolbar> inviteTabBar_;
    std::shared_ptr<kit::Button> infoButton_;
    std::shared_ptr<kit::Label> nameLabel_;
    std::shared_ptr<kit::Button> changeNameButton_;
    std::shared_ptr<kit::TabBar> parentTabBar_;
};

} // namespace street
