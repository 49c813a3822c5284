#include "recruit_fixture.h"

#include "app/RecruitABTableViewController.h"

#include "kit/ImageView.h"
#include "kit/Label.h"
#include "kit/TableView.h"

#include <map>
#include <set>

using namespace recruit_test;
using street::RecruitABTableViewController;

namespace {

const std::string kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

class RecruitList : public RecruitFixture {
protected:
    std::shared_ptr<RecruitABTableViewController> build(const std::vector<Card>& cards)
    {
        writeContacts(cards);
        auto controller = std::make_shared<RecruitABTableViewController>();
        controller->init();
        controller->loadView();
        return controller;
    }

    // Non-empty sections by letter.
    static std::map<char, std::vector<std::string>> sections(const RecruitABTableViewController& c)
    {
        std::map<char, std::vector<std::string>> found;
        for (size_t k = 0; k < c.sectionArray().size(); ++k)
            if (!c.sectionArray()[k].empty())
                found[kLetters[k]] = c.sectionArray()[k];
        return found;
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
};

struct SectioningCase {
    const char* what;
    std::vector<Card> cards;
    std::map<char, std::vector<std::string>> expected;
};

TEST_F(RecruitList, SortsContactsIntoLetterSectionsByTheirFirstCharacter)
{
    const std::vector<SectioningCase> cases = {
        {"lower-case names keep their case", {{"anna", "berg"}}, {{'A', {"anna berg"}}}},
        {"first name alone keeps a trailing blank", {{"Anna", std::nullopt}}, {{'A', {"Anna "}}}},
        {"last name alone", {{std::nullopt, "Zed"}}, {{'Z', {"Zed"}}}},
        {"a leading blank is no letter", {{" ", "Berg"}}, {}},
        {"accented capital", {{"Émile", "Zola"}}, {}},
        {"accented small", {{"émile", "zola"}}, {}},
        {"digit", {{std::nullopt, "2Pac"}}, {}},
        {"punctuation", {{"(Boss)", std::nullopt}}, {}},
        {"other scripts", {{"Иван", "Петров"}, {"李", "小龙"}}, {}},
        {"only FN, no N: no name at all", {{Card{"Acme", "Corp", {}, {}, true}}}, {}},
        {"duplicates both listed, in book order",
         {{"Bob", "Smith", {{"HOME", "1"}}}, {"Bob", "Smith", {{"HOME", "2"}}}},
         {{'B', {"Bob Smith", "Bob Smith"}}}},
        {"book order within a section, never sorted",
         {{"Zoe", "Q"}, {"Amy", "Z"}, {"Al", "B"}, {"amy", "A"}},
         {{'A', {"Amy Z", "Al B", "amy A"}}, {'Z', {"Zoe Q"}}}},
        {"a decomposed accent starts with its plain letter", {{"E\xCC\x81mile", std::nullopt}}, {{'E', {"E\xCC\x81mile "}}}},
        {"dotless i upper-cases to I", {{"\xC4\xB1smail", std::nullopt}}, {{'I', {"\xC4\xB1smail "}}}},
        {"an empty book", {}, {}},
    };
    for (const auto& c : cases) {
        auto controller = build(c.cards);
        EXPECT_EQ(sections(*controller), c.expected) << c.what;
        ASSERT_EQ(controller->sectionArray().size(), 26u) << c.what;
        for (size_t k = 0; k < 26; ++k) {
            size_t rows = controller->sectionArray()[k].size();
            EXPECT_EQ(controller->sectionNumberArray()[k].size(), rows) << c.what;
            EXPECT_EQ(controller->sectionEmailArray()[k].size(), rows) << c.what;
            EXPECT_EQ(controller->boolArray()[k], std::vector<bool>(rows, false)) << c.what;
            EXPECT_EQ(controller->sectionTitles()[k], rows ? std::string(1, kLetters[k]) : "") << c.what;
        }
        EXPECT_TRUE(controller->boolDict().empty()) << c.what;
        size_t listed = 0;
        for (const auto& [letter, names] : c.expected)
            listed += names.size();
        auto counts = sink_.named("contacts");
        ASSERT_FALSE(counts.empty()) << c.what;
        EXPECT_EQ(counts.back().fields["count"], listed) << c.what;
    }
}

TEST_F(RecruitList, TitlesNameOnlyTheLettersThatHaveContacts)
{
    auto controller = build({{"Dora", "X"}, {"bea", std::nullopt}, {"Dan", std::nullopt}});
    std::vector<std::string> expected(26, "");
    expected[1] = "B";
    expected[3] = "D";
    EXPECT_EQ(controller->sectionTitles(), expected);
    kit::TableView& table = *controller->tableView();
    EXPECT_EQ(controller->titleForHeaderInSection(table, 0), "");
    EXPECT_EQ(controller->titleForHeaderInSection(table, 3), "D");
    EXPECT_EQ(controller->numberOfRowsInSection(table, 3), 2);
    EXPECT_EQ(controller->numberOfRowsInSection(table, 0), 0);
}

TEST_F(RecruitList, PicksTheFirstMobileNumberElseTheFirstNumberAndTheFirstEmail)
{
    struct Case {
        const char* what;
        Card card;
        std::string number;
        std::string email;
    };
    const std::vector<Case> cases = {
        {"home, mobile, mobile", {"A", "1", {{"HOME", "h"}, {"CELL", "m1"}, {"CELL", "m2"}}}, "m1", ""},
        {"home, work", {"A", "2", {{"HOME", "h"}, {"WORK", "w"}}}, "h", ""},
        {"no phone, two e-mails", {"A", "3", {}, {"one@x.test", "two@x.test"}}, "", "one@x.test"},
        {"nothing at all", {"A", "4"}, "", ""},
    };
    std::vector<Card> cards;
    for (const auto& c : cases)
        cards.push_back(c.card);
    auto controller = build(cards);
    ASSERT_EQ(controller->sectionArray()[0].size(), cases.size());
    for (size_t r = 0; r < cases.size(); ++r) {
        EXPECT_EQ(controller->sectionNumberArray()[0][r], cases[r].number) << cases[r].what;
        EXPECT_EQ(controller->sectionEmailArray()[0][r], cases[r].email) << cases[r].what;
    }
}

TEST_F(RecruitList, EveryLoadRebuildsTheListsAndForgetsTheTicks)
{
    auto controller = build({{"Ann", "A"}, {"Ben", "B"}});
    auto& table = *controller->tableView();
    table.userDidSelectRowAtIndexPath({0, 0});
    ASSERT_TRUE(controller->boolArray()[0][0]);
    writeContacts({{"Ann", "A"}, {"Abe", "A"}});
    controller->loadView();
    EXPECT_EQ(controller->sectionArray()[0], (std::vector<std::string>{"Ann A", "Abe A"}));
    EXPECT_TRUE(controller->sectionArray()[1].empty());
    EXPECT_EQ(controller->boolArray()[0], (std::vector<bool>{false, false}));
    EXPECT_TRUE(controller->boolDict().empty());
}

TEST(RecruitFirstLetter, IsTheUpperCaseOfTheFirstCodePoint)
{
    const std::vector<std::pair<std::string, int>> cases = {
        {"a", 0}, {"Z", 25}, {"zz", 25}, {"", -1}, {" a", -1}, {"1", -1}, {"@", -1}, {"[", -1}, {"`", -1},
        {"{", -1}, {"\xC3\x89", -1}, {"\xC3\xA9", -1}, {"\xC3\x9F", -1}, {"\xC5\xBF", 18}, {"\xEF\xAC\x86", 18},
        {"\xEF\xAC\x81", -1}, {"\xE2\x84\xAA", -1}, {"\xFF" "a", -1}, {"\xC3", -1}, {"\xC0\x81", -1},
    };
    for (const auto& [name, section] : cases)
        EXPECT_EQ(RecruitABTableViewController::letterSectionOfName(name), section) << name;
}

TEST_F(RecruitList, BeforeTheBuildTheTableIsEmptyButTheIndexIsComplete)
{
    auto controller = std::make_shared<RecruitABTableViewController>();
    kit::TableView table;
    EXPECT_EQ(controller->numberOfSectionsInTableView(table), 0);
    EXPECT_EQ(controller->numberOfRowsInSection(table, 0), 0);
    auto index = controller->sectionIndexTitlesForTableView(table);
    ASSERT_EQ(index.size(), 26u);
    EXPECT_EQ(index.front(), "A");
    EXPECT_EQ(index.back(), "Z");
    controller->didSelectRowAtIndexPath(table, {0, 0}); // nothing to tick, nothing breaks
    EXPECT_TRUE(controller->boolDict().empty());
}

TEST_F(RecruitList, EachTapFlipsTheTickInBothStoresAndTheIcon)
{
    auto controller = build({{"Ann", "A"}, {"Bea", "B"}, {"Bob", "B"}});
    auto table = controller->tableView();
    const std::vector<std::pair<bool, std::string>> afterTap = {
        {true, "invited_icon.png"}, {false, "none.png"}, {true, "invited_icon.png"}};
    EXPECT_EQ(imageOf(table->cellForRowAtIndexPath({1, 1})), "none.png");
    for (const auto& [ticked, image] : afterTap) {
        table->userDidSelectRowAtIndexPath({1, 1});
        EXPECT_EQ(controller->boolArray()[1][1], ticked);
        EXPECT_EQ(controller->boolDict().at({1, 1}), ticked);
        EXPECT_EQ(imageOf(table->cellForRowAtIndexPath({1, 1})), image);
        // The tap leaves the row selected.
        EXPECT_EQ(table->indexPathForSelectedRow(), (kit::IndexPath{1, 1}));
    }
    table->userDidSelectRowAtIndexPath({0, 0});
    table->userDidSelectRowAtIndexPath({1, 1}); // unticks
    EXPECT_EQ(controller->boolArray()[0], std::vector<bool>{true});
    EXPECT_EQ(controller->boolArray()[1], (std::vector<bool>{false, false}));

    controller->deselect();
    EXPECT_FALSE(table->indexPathForSelectedRow());
}

TEST_F(RecruitList, CellsShowTheirOwnRowWhenReused)
{
    std::vector<Card> cards;
    for (int i = 0; i < 12; ++i)
        cards.push_back({"Al" + std::to_string(i), i == 3 ? std::optional<std::string>("X#hidden") : std::nullopt});
    auto controller = build(cards);
    auto table = controller->tableView();
    table->setVisibleRowCount(3);
    table->userDidSelectRowAtIndexPath({0, 1});
    table->userDidSelectRowAtIndexPath({0, 7});

    std::set<kit::TableViewCell*> distinct;
    for (int pass = 0; pass < 2; ++pass) {
        for (int row = 0; row < 12; ++row) {
            auto cell = table->cellForRowAtIndexPath({0, row});
            ASSERT_TRUE(cell);
            distinct.insert(cell.get());
            std::string name = "Al" + std::to_string(row) + " " + (row == 3 ? "X" : "");
            EXPECT_EQ(textOf(cell), name) << row;
            EXPECT_EQ(imageOf(cell), row == 1 || row == 7 ? "invited_icon.png" : "none.png") << row;
        }
    }
    // Only a screenful of cells was ever made.
    EXPECT_LE(distinct.size(), 4u);
}

TEST_F(RecruitList, ACellIsMadeUpOnceWithItsLabelAndIcon)
{
    auto controller = build({{"Ann", "A"}});
    auto cell = controller->tableView()->cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->reuseIdentifier(), "any-cell");
    EXPECT_EQ(cell->selectionStyle(), kit::TableViewCellSelectionStyle::Blue);
    EXPECT_EQ(cell->indentationLevel(), 5);
    ASSERT_EQ(cell->subviews().size(), 2u);
    auto label = std::dynamic_pointer_cast<kit::Label>(cell->subviews()[0]);
    ASSERT_TRUE(label);
    EXPECT_EQ(label->tag(), 1002);
    EXPECT_EQ(label->frame(), kit::Rect(4, 16, 260, 24));
    EXPECT_EQ(label->font().name, "Arial-BoldMT");
    EXPECT_EQ(label->font().size, 19);
    auto icon = std::dynamic_pointer_cast<kit::ImageView>(cell->subviews()[1]);
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->tag(), 1003);
    EXPECT_EQ(icon->frame(), kit::Rect(260, 7, 30, 30));
}

} // namespace
