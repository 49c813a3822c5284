// The table's own behaviour, without a display: its layout, the scroll position and its bounds,
// the pinned header, the section index, hitting rows, telling a tap from a drag, and the row
// that keyboard focus is on.

#include "kit/Platform.h"
#include "kit/RunLoop.h"
#include "kit/TableView.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using kit::IndexPath;
using kit::Point;
using kit::TableView;

// Sections of the given sizes and titles; the full A-Z index unless told otherwise.
class Rows : public kit::Object, public kit::TableViewDataSource, public kit::TableViewDelegate {
public:
    Rows(std::vector<std::pair<int, std::string>> sections, bool index = true) : sections(std::move(sections)), index(index) {}
    int numberOfSectionsInTableView(TableView&) override { return static_cast<int>(sections.size()); }
    int numberOfRowsInSection(TableView&, int section) override { return sections[section].first; }
    std::optional<std::string> titleForHeaderInSection(TableView&, int section) override { return sections[section].second; }
    std::vector<std::string> sectionIndexTitlesForTableView(TableView&) override
    {
        std::vector<std::string> titles;
        for (char c = 'A'; index && c <= 'Z'; ++c)
            titles.emplace_back(1, c);
        return titles;
    }
    std::shared_ptr<kit::TableViewCell> cellForRowAtIndexPath(TableView& table, IndexPath) override
    {
        auto cell = table.dequeueReusableCellWithIdentifier("row");
        return cell ? cell : std::make_shared<kit::TableViewCell>(kit::Rect(), "row");
    }
    void didSelectRowAtIndexPath(TableView&, IndexPath path) override { selected.push_back(path); }

    std::vector<std::pair<int, std::string>> sections;
    bool index;
    std::vector<IndexPath> selected;
};

class TableViewTest : public ::testing::Test {
protected:
    kit::PlatformSession session;

    // A: two rows; B: none; an untitled section of three; D: one. 320 x `height` points.
    std::shared_ptr<TableView> make(double height = 100, std::vector<std::pair<int, std::string>> sections = {
                                                             {2, "A"}, {0, "B"}, {3, ""}, {1, "D"}})
    {
        rows = std::make_shared<Rows>(std::move(sections));
        auto table = std::make_shared<TableView>(kit::Rect(0, 0, 320, height));
        table->setDataSource(rows);
        table->setDelegate(rows);
        return table;
    }
    std::shared_ptr<Rows> rows;
};

TEST_F(TableViewTest, SectionsAreAHeaderAndRowsOfFixedHeights)
{
    auto table = make();
    struct Expected {
        double top, rowsTop;
        int rows;
        bool header;
    };
    // A section without rows, or without a title, has no header.
    const Expected expected[] = {{0, 22, 2, true}, {110, 110, 0, false}, {110, 110, 3, false}, {242, 264, 1, true}};
    const auto& layout = table->sectionLayout();
    ASSERT_EQ(layout.size(), 4u);
    for (size_t s = 0; s < 4; ++s) {
        EXPECT_EQ(layout[s].top, expected[s].top) << s;
        EXPECT_EQ(layout[s].rowsTop, expected[s].rowsTop) << s;
        EXPECT_EQ(layout[s].rows, expected[s].rows) << s;
        EXPECT_EQ(layout[s].header, expected[s].header) << s;
    }
    EXPECT_EQ(table->contentHeight(), 308);
    EXPECT_EQ(table->rowTop({3, 0}), 264);
    EXPECT_EQ(table->rowTop({2, 2}), 198);
    EXPECT_FALSE(table->rowTop({1, 0}));
    EXPECT_FALSE(table->rowTop({3, 1}));
    EXPECT_EQ(table->sectionTop(9), 308);

    // The layout is the data source's answer at the last reload.
    rows->sections[1].first = 1;
    EXPECT_EQ(table->contentHeight(), 308);
    table->reloadData();
    EXPECT_EQ(table->contentHeight(), 374);
    EXPECT_TRUE(table->sectionLayout()[1].header);

    // A screenful of cells and the ones cut at both edges exist at once.
    EXPECT_EQ(make(376)->visibleRowCount(), 12u);
    EXPECT_EQ(make(0)->visibleRowCount(), 10u);
}

TEST_F(TableViewTest, TheScrollPositionStaysWithinTheList)
{
    auto table = make();
    EXPECT_EQ(table->maxContentOffset(), 208);
    const std::pair<double, double> moves[] = {{50, 50}, {-60, 0}, {1e9, 208}, {NAN, 208}, {-1e9, 0}, {207.5, 207.5}};
    for (const auto& [offset, expected] : moves) {
        table->setContentOffset(offset);
        EXPECT_EQ(table->contentOffset(), expected) << offset;
    }
    table->scrollBy(-7.5);
    EXPECT_EQ(table->contentOffset(), 200);

    // Rows gone: the position moves back as far as it must.
    rows->sections = {{2, "A"}, {1, "B"}};
    table->reloadData();
    EXPECT_EQ(table->contentOffset(), 76);
    rows->sections = {{1, "A"}};
    table->reloadData();
    EXPECT_EQ(table->contentOffset(), 0);
    EXPECT_EQ(table->maxContentOffset(), 0);
    table->scrollBy(40);
    EXPECT_EQ(table->contentOffset(), 0);

    // Brought into view below the pinned header, moving as little as it takes.
    table = make();
    table->scrollToRowAtIndexPath({3, 0});
    EXPECT_EQ(table->contentOffset(), 208);
    table->scrollToRowAtIndexPath({2, 2});
    EXPECT_EQ(table->contentOffset(), 198);
    table->scrollToRowAtIndexPath({0, 1});
    EXPECT_EQ(table->contentOffset(), 44);
    table->scrollToRowAtIndexPath({2, 0});
    EXPECT_EQ(table->contentOffset(), 54);
}

TEST_F(TableViewTest, TheTopSectionsHeaderIsPinnedUntilItsRowsEnd)
{
    auto table = make();
    struct Case {
        double offset;
        std::optional<IndexPath> top;
        std::optional<std::pair<int, double>> pinned;  // section, y
        std::vector<int> headers;                      // the others in view
        std::vector<IndexPath> firstAndLast;
    };
    const Case cases[] = {
        {0, IndexPath{0, 0}, {{0, 0}}, {}, {{0, 0}, {0, 1}}},  // the untitled section starts below
        {30, IndexPath{0, 0}, {{0, 0}}, {}, {{0, 0}, {2, 0}}},
        {44, IndexPath{0, 1}, {{0, 0}}, {}, {{0, 0}, {2, 0}}},
        {100, IndexPath{2, 0}, {{0, -12}}, {}, {{0, 1}, {2, 2}}},  // pushed away by its last row's end
        {120, IndexPath{2, 0}, std::nullopt, {}, {{2, 0}, {2, 2}}},  // the untitled section has none to pin
        {200, IndexPath{2, 2}, {{3, 42}}, {}, {{2, 2}, {3, 0}}},
        {208, IndexPath{2, 2}, {{3, 34}}, {}, {{2, 2}, {3, 0}}},
    };
    for (const auto& c : cases) {
        table->setContentOffset(c.offset);
        EXPECT_EQ(table->topRow(), c.top) << c.offset;
        auto pinned = table->pinnedHeader();
        ASSERT_EQ(pinned.has_value(), c.pinned.has_value()) << c.offset;
        if (pinned) {
            EXPECT_EQ(pinned->section, c.pinned->first) << c.offset;
            EXPECT_EQ(pinned->y, c.pinned->second) << c.offset;
        }
        std::vector<int> headers;
        for (const auto& h : table->visibleHeaders())
            headers.push_back(h.section);
        EXPECT_EQ(headers, c.headers) << c.offset;
        auto visible = table->visibleRows();
        ASSERT_FALSE(visible.empty());
        EXPECT_EQ(visible.front().path, c.firstAndLast[0]) << c.offset;
        EXPECT_EQ(visible.back().path, c.firstAndLast[1]) << c.offset;
        EXPECT_EQ(visible.front().y, *table->rowTop(visible.front().path) - c.offset);
    }

    // A header that is not pinned is drawn where its section starts.
    table = make(300);
    table->setContentOffset(0);
    auto headers = table->visibleHeaders();
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].section, 3);
    EXPECT_EQ(headers[0].title, "D");
    EXPECT_EQ(headers[0].y, 242);
    EXPECT_FALSE(make(100, {})->topRow());
}

TEST_F(TableViewTest, APointMeansTheRowDrawnThereButNotUnderAHeader)
{
    auto table = make();
    struct Case {
        double offset, y;
        std::optional<IndexPath> row;
    };
    const Case cases[] = {
        {0, 0, std::nullopt}, {0, 21.9, std::nullopt}, {0, 22, IndexPath{0, 0}}, {0, 66, IndexPath{0, 1}}, {0, 99, IndexPath{0, 1}},
        {100, 5, std::nullopt},  // the pushed header still covers its top
        {100, 10, IndexPath{2, 0}}, {120, 0, IndexPath{2, 0}}, {200, 41, IndexPath{2, 2}}, {200, 50, std::nullopt},
        {200, 64, IndexPath{3, 0}}, {208, 99, IndexPath{3, 0}}, {208, 100, std::nullopt},
    };
    for (const auto& c : cases) {
        table->setContentOffset(c.offset);
        EXPECT_EQ(table->indexPathForRowAtPoint({100, c.y}), c.row) << c.offset << " " << c.y;
    }
}

TEST_F(TableViewTest, TheIndexNamesSectionsAlongTheRightEdge)
{
    auto table = make(376);
    // 26 titles share 376 - 2 * 6 points: 14 each, from y 6.
    EXPECT_FALSE(table->isOnIndex({295.9, 100}));
    EXPECT_TRUE(table->isOnIndex({296, 100}));
    EXPECT_EQ(table->centerOfIndexTitle(0), (Point{308, 13}));
    EXPECT_EQ(table->centerOfIndexTitle(25), (Point{308, 363}));
    EXPECT_FALSE(table->centerOfIndexTitle(26));
    const std::pair<double, int> heights[] = {{-20, 0}, {0, 0}, {19.9, 0}, {20, 1}, {48, 3}, {60, 3}, {370, 3}, {1000, 3}};
    for (const auto& [y, section] : heights)
        EXPECT_EQ(table->sectionForIndexAt(y), section) << y;  // past the last section: the last

    // A touch on the index jumps to the section it names, and ticks nothing.
    table = make(100, {{5, "A"}, {5, "B"}, {5, "C"}});
    const double step = 88.0 / 26;
    table->touchBegan({310, 6 + step * 0.5});
    EXPECT_EQ(table->contentOffset(), 0);
    table->touchMoved({310, 6 + step * 1.5});
    EXPECT_EQ(table->contentOffset(), 242);
    table->touchMoved({310, 6 + step * 2.5});
    EXPECT_EQ(table->contentOffset(), 484);
    table->touchEnded({310, 6 + step * 2.5});
    EXPECT_EQ(table->topRow(), (IndexPath{2, 0}));
    EXPECT_TRUE(rows->selected.empty());

    // Without titles there is no index: the edge is rows like the rest.
    rows = std::make_shared<Rows>(std::vector<std::pair<int, std::string>>{{5, "A"}}, false);
    table->setDataSource(rows);
    table->setDelegate(rows);
    EXPECT_FALSE(table->isOnIndex({310, 50}));
    EXPECT_FALSE(table->sectionForIndexAt(50));
    EXPECT_EQ(table->contentOffset(), 142);  // the shorter list's end
    table->touchBegan({310, 50});
    table->touchEnded({310, 50});
    EXPECT_EQ(rows->selected, (std::vector<IndexPath>{{0, 3}}));
}

TEST_F(TableViewTest, ATouchThatMovesFarEnoughIsADragNotATap)
{
    struct Case {
        Point move;
        double offset;  // after the touch, from 50
        bool tap;
    };
    const Case cases[] = {
        {{0, 0}, 50, true}, {{5.9, -5.9}, 50, true}, {{0, -6}, 56, false}, {{6, 0}, 50, false}, {{0, 30}, 20, false},
        {{0, -500}, 208, false},
    };
    for (const auto& c : cases) {
        auto table = make();
        table->setContentOffset(50);
        table->touchBegan({100, 50});
        table->touchMoved({100 + c.move.x, 50 + c.move.y});
        table->touchEnded({100 + c.move.x, 50 + c.move.y});
        EXPECT_EQ(table->contentOffset(), c.offset) << c.move.x << "," << c.move.y;
        // The tap is on the row under the finger when it lifts.
        EXPECT_EQ(rows->selected.size(), c.tap ? 1u : 0u) << c.move.x << "," << c.move.y;
        if (c.tap) {
            EXPECT_EQ(rows->selected[0], (IndexPath{0, 1}));
        }
        EXPECT_EQ(table->indexPathForSelectedRow().has_value(), c.tap);
    }

    // A drag that came back where it started is still a drag; a cancelled touch does nothing.
    auto table = make();
    table->touchBegan({100, 50});
    table->touchMoved({100, 80});
    table->touchMoved({100, 50});
    table->touchEnded({100, 50});
    table->touchBegan({100, 50});
    table->touchCancelled();
    table->touchEnded({100, 50});
    table->touchMoved({100, 90});
    EXPECT_TRUE(rows->selected.empty());
    EXPECT_EQ(table->contentOffset(), 0);
}

TEST_F(TableViewTest, KeyboardFocusMovesThroughRowsAcrossSectionsAndStaysInView)
{
    auto table = make();
    EXPECT_FALSE(table->focusedRow());
    // The first move takes the row at the top.
    table->setContentOffset(44);
    ASSERT_TRUE(table->moveFocusedRow(1));
    EXPECT_EQ(table->focusedRow(), (IndexPath{0, 1}));
    const std::pair<int, IndexPath> moves[] = {{1, {2, 0}}, {2, {2, 2}}, {1, {3, 0}}, {1, {3, 0}}, {-3, {2, 0}}, {-9, {0, 0}}};
    for (const auto& [by, expected] : moves) {
        EXPECT_TRUE(table->moveFocusedRow(by));
        EXPECT_EQ(table->focusedRow(), expected) << by;
        auto top = *table->rowTop(expected);
        double above = table->sectionLayout()[expected.section].header ? TableView::headerHeight : 0;
        EXPECT_GE(top, table->contentOffset() + above) << by;
        EXPECT_LE(top + TableView::rowHeight, table->contentOffset() + 100) << by;
    }
    EXPECT_EQ(table->contentOffset(), 0);

    // A tick reloads the table: the focused row stays, unless it is gone.
    table->moveFocusedRow(3);
    table->reloadData();
    EXPECT_EQ(table->focusedRow(), (IndexPath{2, 1}));
    rows->sections[2].first = 1;
    table->reloadData();
    EXPECT_FALSE(table->focusedRow());
    table->setFocusedRow(IndexPath{1, 0});  // no such row
    EXPECT_FALSE(table->focusedRow());
    EXPECT_FALSE(make(100, {{0, "A"}, {0, "B"}})->moveFocusedRow(1));
}

} // namespace
