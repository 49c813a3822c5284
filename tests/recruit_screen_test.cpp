// What the Recruit screen and its table do that the transcript does not show: the first-letter
// rule, the tick icons of reused cells, the toolbar's wiring by exact title, buttons that belong
// to no action, and the people picker's delegate. The flows themselves are scenario tests.

#include "recruit_fixture.h"

#include "app/RecruitABContainerController.h"
#include "app/RecruitABControllerDelegate.h"
#include "app/RecruitABTableViewController.h"

#include "kit/Platform.h"
#include "kit/ImageView.h"
#include "kit/Label.h"
#include "kit/TableView.h"

#include <set>

using namespace recruit_test;
using street::RecruitABContainerController;
using street::RecruitABTableViewController;

namespace {

TEST(RecruitFirstLetter, IsTheUpperCaseOfTheFirstCodePoint)
{
    const std::pair<std::string, int> cases[] = {
        {"a", 0}, {"Z", 25}, {"zz", 25}, {"", -1}, {" a", -1}, {"1", -1}, {"@", -1}, {"[", -1}, {"`", -1}, {"{", -1}, {"\xC3\x89", -1},
        {"\xC3\xA9", -1}, {"\xC3\x9F", -1}, {"\xC5\xBF", 18}, {"\xEF\xAC\x86", 18}, {"\xEF\xAC\x81", -1}, {"\xE2\x84\xAA", -1},
        {"\xFF" "a", -1}, {"\xC3", -1}, {"\xC0\x81", -1},
    };
    for (const auto& [name, section] : cases)
        EXPECT_EQ(RecruitABTableViewController::letterSectionOfName(name), section) << name;
}

class RecruitScreen : public RecruitFixture {
protected:
    std::shared_ptr<RecruitABTableViewController> build(const std::vector<Card>& cards)
    {
        writeContacts(cards);
        auto controller = std::make_shared<RecruitABTableViewController>();
        controller->init();
        controller->loadView();
        return controller;
    }
    static std::string imageOf(const std::shared_ptr<kit::TableViewCell>& cell)
    {
        auto icon = std::dynamic_pointer_cast<kit::ImageView>(cell->viewWithTag(1003));
        return icon && icon->image() ? icon->image()->name() : "(none)";
    }
    static std::string textOf(const std::shared_ptr<kit::TableViewCell>& cell)
    {
        auto label = std::dynamic_pointer_cast<kit::Label>(cell->viewWithTag(1002));
        return label && label->text() ? *label->text() : "(none)";
    }
    void press(int index)
    {
        ASSERT_TRUE(kit::AlertView::frontmost());
        kit::AlertView::frontmost()->dismissWithClickedButtonIndex(index);
        kit::RunLoop::main().advance(0);
    }
};

TEST_F(RecruitScreen, BeforeTheBuildTheTableIsEmptyButTheIndexIsComplete)
{
    auto controller = std::make_shared<RecruitABTableViewController>();
    kit::TableView table;
    EXPECT_EQ(controller->numberOfSectionsInTableView(table), 0);
    EXPECT_EQ(controller->numberOfRowsInSection(table, 0), 0);
    auto index = controller->sectionIndexTitlesForTableView(table);
    ASSERT_EQ(index.size(), 26u);
    EXPECT_EQ(index.front() + index.back(), "AZ");
    controller->didSelectRowAtIndexPath(table, {0, 0}); // nothing to tick, nothing breaks
    EXPECT_TRUE(controller->boolDict().empty());
}

TEST_F(RecruitScreen, EachTapFlipsTheTickInBothStoresAndReusedCellsShowTheirOwnRow)
{
    std::vector<Card> cards;
    for (int i = 0; i < 12; ++i)
        cards.push_back({"Al" + std::to_string(i), i == 3 ? std::optional<std::string>("X#hidden") : std::nullopt});
    auto controller = build(cards);
    auto table = controller->tableView();
    EXPECT_EQ(imageOf(table->cellForRowAtIndexPath({0, 1})), "none.png");
    for (bool ticked : {true, false, true}) {
        table->userDidSelectRowAtIndexPath({0, 1});
        EXPECT_EQ(controller->boolArray()[0][1], ticked);
        EXPECT_EQ(controller->boolDict().at({0, 1}), ticked);
        EXPECT_EQ(imageOf(table->cellForRowAtIndexPath({0, 1})), ticked ? "invited_icon.png" : "none.png");
        EXPECT_EQ(table->indexPathForSelectedRow(), (kit::IndexPath{0, 1})) << "the tap leaves the row selected";
    }
    controller->deselect();
    EXPECT_FALSE(table->indexPathForSelectedRow());

    table->setVisibleRowCount(3);
    table->userDidSelectRowAtIndexPath({0, 7});
    std::set<kit::TableViewCell*> distinct;
    for (int pass = 0; pass < 2; ++pass)
        for (int row = 0; row < 12; ++row) {
            auto cell = table->cellForRowAtIndexPath({0, row});
            ASSERT_TRUE(cell);
            distinct.insert(cell.get());
            EXPECT_EQ(textOf(cell), "Al" + std::to_string(row) + " " + (row == 3 ? "X" : "")) << row;
            EXPECT_EQ(imageOf(cell), row == 1 || row == 7 ? "invited_icon.png" : "none.png") << row;
        }
    EXPECT_LE(distinct.size(), 4u) << "more cells than a screenful";
}

TEST_F(RecruitScreen, OnlyExactlyTitledToolbarItemsActAndOtherButtonsDoNothing)
{
    // The screen from an interface file whose toolbar has near-miss titles as well.
    auto file = nlohmann::json::parse(std::ifstream(dir_ + "/resources/interfaces/RecruitABContainer.json"));
    for (auto& object : file["objects"])
        if (object["id"] == "inviteTabBar")
            object["properties"]["items"] =
                nlohmann::json::parse(R"([{"title": "send invites"}, {"title": "Back "}, {"title": "Send Invites"}, {"title": "Back"}, {}])");
    std::ofstream(dir_ + "/resources/interfaces/RecruitNearMiss.json") << file.dump();
    auto main = std::make_shared<kit::ViewController>();
    auto screen = std::make_shared<RecruitABContainerController>("RecruitNearMiss");
    main->presentModalViewController(screen, true);
    std::vector<bool> wired;
    for (const auto& item : screen->inviteTabBar()->items())
        wired.push_back(item->hasAction());
    EXPECT_EQ(wired, (std::vector<bool>{false, false, true, true, false}));

    // No such button on the permission alert, and an alert of another tag with the screen as delegate.
    press(5);
    auto other = std::make_shared<kit::AlertView>("X", "Y", screen, "Cancel", std::vector<std::optional<std::string>>{"Go"});
    other->setTag(7);
    other->show();
    press(1);
    EXPECT_EQ(kit::ViewController::frontmostModal(), screen);
    EXPECT_TRUE(sink_.named("contacts").empty());

    // Closed by "Back", nothing else holds the screen.
    std::weak_ptr<RecruitABContainerController> closed = screen;
    screen->inviteTabBar()->items()[3]->userDidTap();
    kit::RunLoop::main().advance(0);
    screen.reset();
    EXPECT_EQ(kit::ViewController::frontmostModal(), nullptr);
    EXPECT_TRUE(closed.expired());
}

TEST(RecruitControllerDelegate, CancelsOnlyAndHidesThePickersRightButton)
{
    kit::PlatformSession session;
    auto presenter = std::make_shared<kit::ViewController>();
    presenter->presentModalViewController(std::make_shared<kit::ViewController>(), true);
    street::RecruitABControllerDelegate delegate;
    delegate.setParentViewController(presenter);
    street::ABPeoplePickerNavigationController picker;
    street::ABRecord person;
    EXPECT_FALSE(delegate.shouldContinueAfterSelectingPerson(picker, person));
    EXPECT_FALSE(delegate.shouldContinueAfterSelectingPerson(picker, person, 3, 0));
    street::NavigationController navigation;
    street::NavigationPage page;
    delegate.willShowViewController(navigation, page, true);
    ASSERT_TRUE(page.navigationItem.rightBarButtonItem && page.navigationItem.rightBarButtonItem->customView);
    EXPECT_EQ(page.navigationItem.rightBarButtonItem->customView->frame(), kit::Rect(0, 0, 0, 0));
    delegate.peoplePickerNavigationControllerDidCancel(picker);
    EXPECT_EQ(presenter->modalViewController(), nullptr);
}

} // namespace
