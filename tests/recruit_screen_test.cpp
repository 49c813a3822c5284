#include "recruit_fixture.h"

#include "app/RecruitABContainerController.h"
#include "app/RecruitABControllerDelegate.h"
#include "app/RecruitABTableViewController.h"

#include "kit/TabBarItem.h"

using namespace recruit_test;
using street::RecruitABContainerController;

namespace {

const std::string kInfo
    = "A Racer cannot dominate the streets without building up a large crew.  Expand your circle and own the roads "
      "by recruiting other iPhone or iPod Touch users to join your crew.  Once they accept your invitation they'll "
      "become a member of your crew and you'll become part of theirs.  Get your friends to join you and see how "
      "fast you'll be owning the streets!";

class RecruitScreen : public RecruitFixture {
protected:
    void SetUp() override
    {
        RecruitFixture::SetUp();
        street::GameServer::setHost(responder_.host());
        tabBar_ = std::make_shared<kit::TabBar>();
        std::vector<std::shared_ptr<kit::TabBarItem>> items;
        for (const char* title : {"Home", "Missions", "Fight", "Cars", "Crew"})
            items.push_back(std::make_shared<kit::TabBarItem>(title));
        tabBar_->setItems(items);
        main_ = std::make_shared<kit::ViewController>();
        writeContacts({{"Ann", "Lee", {{"CELL", "555"}}, {"ann@x.test"}},
                       {"bob", "#1"},
                       {"Émile", "Zola"},
                       {"Zed", std::nullopt}});
    }

    // Opens the screen as the page command does: a new screen each time.
    std::shared_ptr<RecruitABContainerController> open()
    {
        tabBar_->setSelectedItem(tabBar_->items()[4].get());
        auto screen = std::make_shared<RecruitABContainerController>("RecruitABContainer");
        screen->setParentTabBar(tabBar_);
        main_->presentModalViewController(screen, true);
        return screen;
    }

    std::shared_ptr<kit::AlertView> frontAlert() { return kit::AlertView::frontmost(); }

    void press(int index)
    {
        auto alert = frontAlert();
        ASSERT_TRUE(alert);
        alert->dismissWithClickedButtonIndex(index);
        kit::RunLoop::main().advance(0);
    }

    void tapToolbar(RecruitABContainerController& screen, const std::string& title)
    {
        for (const auto& item : screen.inviteTabBar()->items())
            if (item->title() == title)
                item->userDidTap();
        kit::RunLoop::main().advance(0);
    }

    std::optional<std::string> savedNameOnDisk()
    {
        std::ifstream in(dir_ + "/config/defaults.json");
        if (!in)
            return std::nullopt;
        auto values = nlohmann::json::parse(in, nullptr, false);
        if (!values.is_object() || !values.contains("nameString"))
            return std::nullopt;
        return values["nameString"].get<std::string>();
    }

    LoopbackResponder responder_;
    std::shared_ptr<kit::TabBar> tabBar_;
    std::shared_ptr<kit::ViewController> main_;
};

TEST_F(RecruitScreen, OpensWithThePermissionQuestionAndReadsNothingYet)
{
    auto screen = open();
    EXPECT_EQ(sink_.named("present").size(), 1u);
    auto alert = frontAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Recruit");
    EXPECT_EQ(alert->message(), "Can we pull up your contacts? We will never store them.");
    EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string>{"Cancel", "Continue"}));
    EXPECT_EQ(alert->tag(), 990);
    EXPECT_TRUE(sink_.named("contacts").empty());

    // Every outlet of the interface file is connected, and the table is the list's own view.
    ASSERT_TRUE(screen->tableViewController());
    EXPECT_TRUE(screen->infoButton() && screen->changeNameButton() && screen->nameLabel() && screen->inviteTabBar());
    EXPECT_EQ(screen->tableView(), screen->tableViewController()->tableView());
    EXPECT_EQ(screen->tableView()->numberOfSections(), 0);

    auto state = street::recruitStateJson();
    EXPECT_EQ(state["titles"], nlohmann::json(std::vector<std::string>(26, "")));
    EXPECT_EQ(state["rows"], nlohmann::json::array());
    EXPECT_EQ(state["nameLabel"], nullptr);
}

TEST_F(RecruitScreen, CancelClosesWithoutReadingOrAskingAndLeavesNoTabSelected)
{
    auto screen = open();
    press(0);
    EXPECT_EQ(sink_.named("dismiss").size(), 1u);
    EXPECT_EQ(kit::ViewController::frontmostModal(), nullptr);
    EXPECT_EQ(tabBar_->selectedItem(), nullptr);
    EXPECT_TRUE(sink_.named("contacts").empty());
    EXPECT_TRUE(kit::AlertView::visibleAlerts().empty());
    EXPECT_EQ(street::recruitStateJson(), nullptr);
}

TEST_F(RecruitScreen, ContinueBuildsTheTableAndPromptsForAMissingName)
{
    auto screen = open();
    press(1);
    auto counts = sink_.named("contacts");
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_EQ(counts[0].fields["count"], 3);

    auto table = screen->tableView();
    EXPECT_EQ(table->numberOfSections(), 26);
    EXPECT_EQ(table->titleForHeaderInSection(0), "A");
    EXPECT_EQ(table->numberOfRowsInSection(25), 1);

    auto prompt = frontAlert();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->title(), "Your Name");
    EXPECT_EQ(prompt->message(), "Please enter your real name. This name will appear in the invites.");
    EXPECT_EQ(prompt->buttonTitles(), std::vector<std::string>{"Done"});
    EXPECT_EQ(prompt->tag(), 992);
    ASSERT_TRUE(prompt->textFieldAtIndex(0));
    EXPECT_EQ(prompt->textFieldAtIndex(0)->text, "");
    EXPECT_EQ(prompt->textFieldAtIndex(0)->placeholder, "Firstname  Lastname");

    prompt->textFieldAtIndex(0)->text = "  Jo Racer ";
    press(0);
    // Kept as typed, and on disk at once.
    EXPECT_EQ(savedNameOnDisk(), "  Jo Racer ");
    EXPECT_EQ(screen->nameLabel()->text(), "  Jo Racer ");

    table->userDidSelectRowAtIndexPath({1, 0});
    auto state = street::recruitStateJson();
    EXPECT_EQ(state["titles"][1], "B");
    EXPECT_EQ(state["titles"][4], "");
    EXPECT_EQ(state["rows"][1], nlohmann::json::parse(R"([{"name": "bob ", "ticked": true}])"));
    EXPECT_EQ(state["rows"][0], nlohmann::json::parse(R"([{"name": "Ann Lee", "ticked": false}])"));
    EXPECT_EQ(state["nameLabel"], "  Jo Racer ");
}

TEST_F(RecruitScreen, AnEmptyNameCountsAsSavedOnLaterOpenings)
{
    auto first = open();
    press(1);
    press(0); // "Done" on the empty field
    EXPECT_EQ(savedNameOnDisk(), "");
    EXPECT_EQ(first->nameLabel()->text(), "");
    tapToolbar(*first, "Back");

    auto second = open();
    EXPECT_EQ(frontAlert()->tag(), 990); // asked again, every time
    press(1);
    EXPECT_TRUE(kit::AlertView::visibleAlerts().empty());
    EXPECT_EQ(second->nameLabel()->text(), "");
}

TEST_F(RecruitScreen, ASavedNameIsShownAndTheChangeButtonOffersIt)
{
    kit::UserDefaults::standardUserDefaults().setObject("Vin", "nameString");
    auto screen = open();
    press(1);
    EXPECT_TRUE(kit::AlertView::visibleAlerts().empty());
    EXPECT_EQ(screen->nameLabel()->text(), "Vin");

    screen->changeNameButton()->userDidTap();
    auto prompt = frontAlert();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->tag(), 992);
    EXPECT_EQ(prompt->textFieldAtIndex(0)->text, "Vin");
    prompt->textFieldAtIndex(0)->text = "Vince";
    press(0);
    EXPECT_EQ(screen->nameLabel()->text(), "Vince");
    EXPECT_EQ(savedNameOnDisk(), "Vince");
}

TEST_F(RecruitScreen, InfoAndResultAlertsChangeNothingWhenClosed)
{
    kit::UserDefaults::standardUserDefaults().setObject("Vin", "nameString");
    auto screen = open();
    press(1);
    screen->infoButton()->userDidTap();
    auto info = frontAlert();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->title(), "Recruit");
    EXPECT_EQ(info->message(), kInfo);
    EXPECT_EQ(info->buttonTitles(), std::vector<std::string>{"OK"});
    EXPECT_EQ(info->tag(), 0);
    press(0);

    tapToolbar(*screen, "Send Invites"); // nothing ticked
    EXPECT_EQ(frontAlert()->message(), "You have not selected any friends to invite.");
    press(0);

    screen->tableView()->userDidSelectRowAtIndexPath({0, 0});
    responder_.replyWith("Sent%Thanks");
    tapToolbar(*screen, "Send Invites");
    EXPECT_EQ(frontAlert()->title(), "Sent");
    press(0);

    EXPECT_TRUE(kit::AlertView::visibleAlerts().empty());
    EXPECT_EQ(kit::ViewController::frontmostModal(), screen);
    EXPECT_EQ(screen->tableViewController()->boolArray()[0], std::vector<bool>{true});
    EXPECT_EQ(screen->nameLabel()->text(), "Vin");
    EXPECT_EQ(tabBar_->selectedItem(), tabBar_->items()[4].get());
}

TEST_F(RecruitScreen, BackAfterSendingClosesAndAReopenedScreenHasNoTicks)
{
    kit::UserDefaults::standardUserDefaults().setObject("Vin", "nameString");
    std::weak_ptr<RecruitABContainerController> closed;
    {
        auto screen = open();
        press(1);
        screen->tableView()->userDidSelectRowAtIndexPath({25, 0});
        tapToolbar(*screen, "Send Invites");
        press(0);
        tapToolbar(*screen, "Back");
        EXPECT_EQ(tabBar_->selectedItem(), nullptr);
        EXPECT_EQ(kit::ViewController::frontmostModal(), nullptr);
        closed = screen;
    }
    EXPECT_TRUE(closed.expired()); // nothing else holds a closed screen

    auto again = open();
    press(1);
    for (const auto& flags : again->tableViewController()->boolArray())
        for (bool ticked : flags)
            EXPECT_FALSE(ticked);
}

TEST_F(RecruitScreen, OnlyExactlyTitledToolbarItemsGetActions)
{
    // The same screen from an interface file whose toolbar has near-miss titles as well.
    auto file = nlohmann::json::parse(std::ifstream(dir_ + "/resources/interfaces/RecruitABContainer.json"));
    for (auto& object : file["objects"])
        if (object["id"] == "inviteTabBar")
            object["properties"]["items"] = nlohmann::json::parse(
                R"([{"title": "send invites"}, {"title": "Back "}, {"title": "Send Invites"}, {"title": "Back"}, {}])");
    std::ofstream(dir_ + "/resources/interfaces/RecruitNearMiss.json") << file.dump();

    auto screen = std::make_shared<RecruitABContainerController>("RecruitNearMiss");
    main_->presentModalViewController(screen, true);
    std::vector<bool> wired;
    for (const auto& item : screen->inviteTabBar()->items())
        wired.push_back(item->hasAction());
    EXPECT_EQ(wired, (std::vector<bool>{false, false, true, true, false}));
}

TEST_F(RecruitScreen, PermissionAndPromptButtonsOutsideTheTableDoNothing)
{
    auto screen = open();
    press(5); // no such button on the permission alert
    EXPECT_EQ(kit::ViewController::frontmostModal(), screen);
    EXPECT_TRUE(sink_.named("contacts").empty());

    // An alert of another tag with this screen as delegate.
    auto other = std::make_shared<kit::AlertView>("X", "Y", screen, "Cancel", std::vector<std::optional<std::string>>{"Go"});
    other->setTag(7);
    other->show();
    press(1);
    EXPECT_EQ(kit::ViewController::frontmostModal(), screen);
    EXPECT_TRUE(sink_.named("contacts").empty());
}

TEST(RecruitControllerDelegate, CancelsOnlyAndHidesThePickersRightButton)
{
    kit::RunLoop::resetMain(kit::RunLoop::Clock::Virtual);
    auto presenter = std::make_shared<kit::ViewController>();
    auto picker = std::make_shared<kit::ViewController>();
    presenter->presentModalViewController(picker, true);

    street::RecruitABControllerDelegate delegate;
    delegate.setParentViewController(presenter);
    street::ABPeoplePickerNavigationController pickerController;
    street::ABRecord person;
    EXPECT_FALSE(delegate.shouldContinueAfterSelectingPerson(pickerController, person));
    EXPECT_FALSE(delegate.shouldContinueAfterSelectingPerson(pickerController, person, 3, 0));

    street::NavigationController navigation;
    street::NavigationPage page;
    delegate.willShowViewController(navigation, page, true);
    ASSERT_TRUE(page.navigationItem.rightBarButtonItem);
    ASSERT_TRUE(page.navigationItem.rightBarButtonItem->customView);
    EXPECT_EQ(page.navigationItem.rightBarButtonItem->customView->frame(), kit::Rect(0, 0, 0, 0));

    delegate.peoplePickerNavigationControllerDidCancel(pickerController);
    EXPECT_EQ(presenter->modalViewController(), nullptr);
    kit::RunLoop::resetMain(kit::RunLoop::Clock::Virtual);
}

} // namespace
