// The Recruit screen in the window: a player's clicks go through the toolbar, button and table
// widgets; the table draws the kit's cells, pins headers and jumps by its index. Needs a
// display (./dev test runs the suite under xvfb-run).

#include "backend/gtk/TableViewPeer.h"
#include "backend/gtk/WindowPeer.h"
#include "kit/Label.h"
#include "kit/TableView.h"
#include "kit/Window.h"
#include "support/Desktop.h"
#include "support/Picture.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <array>
#include <cstdlib>

namespace {

using scenario::Transcript;


using scenario::Picture;
using scenario::Pixel;

class DesktopRecruitTest : public scenario::DesktopSuite {};

const nlohmann::json* widget(const nlohmann::json& state, const std::string& id) { return scenario::widget(state, "id", id); }

TEST_F(DesktopRecruitTest, WholeFlowThroughTheWidgets)
{
    scenario::TempDir dir;
    std::string contacts = dir.path() + "/contacts.vcf";
    // A: two rows, C: one, Z: one; B and the rest have none and show no header.
    scenario::writeFile(contacts, "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Able;Anna;;;\r\nTEL;TYPE=CELL:+1 555 0101\r\nEND:VCARD\r\n"
                                  "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Apple;Andy;;;\r\nEMAIL:andy@example.test\r\nEND:VCARD\r\n"
                                  "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Cole;Carl;;;\r\nTEL;TYPE=HOME:+1 555 0103\r\nEND:VCARD\r\n"
                                  "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Zed;Zoe;;;\r\nEND:VCARD\r\n");
    std::string picture = dir.path() + "/recruit.png";
    std::string script = "wait 4\nnavigate " + server_->baseURL() + "/commands.php?showABRecruit=true\n"
        "wait 1.5\nstate\nstate\n"
        "row 0 0\npress Continue\ntype Racer One\npress Done\n"    // the alert blocks the row
        "row 0 0\nrow 2 0\nrow 0 1\nrow 0 1\nrow 1 0\nwait 0.3\nstate\nsnapshot " + picture + "\n"
        "toolbar Send Invites\nwait 3\nstate\npress OK\n"
        "toolbar Back\nstate\nwait 0.6\nstate\n";
    auto t = scenario::runInWindow(script, server_->hostPort(), "0.5", {"--contacts", contacts});
    ASSERT_EQ(t.exitCode, 0);
    auto states = t.states();
    ASSERT_EQ(states.size(), 6u) << t.dump();

    // Slid up from below in many frames, to cover the whole window, tab bar included; then it
    // stays.
    const auto* slid = widget(states[0], "recruitView");
    ASSERT_TRUE(slid) << states[0].dump();
    EXPECT_EQ((*slid)["rect"], nlohmann::json({0, 0, 320, 460}));
    EXPECT_GT((*slid)["moves"].get<int>(), 5);
    EXPECT_EQ((*widget(states[1], "recruitView"))["moves"], 0);
    EXPECT_EQ(states[1]["modal"], "RecruitABContainer");

    // The row under the permission alert is not reached; `row 1 0` has no row (B is empty).
    auto ignored = t.events("ignored");
    ASSERT_EQ(ignored.size(), 2u) << t.dump();
    EXPECT_EQ(ignored[0]["command"], "row 0 0");
    EXPECT_EQ(ignored[1]["command"], "row 1 0");
    const auto& ticked = states[2]["recruit"];
    EXPECT_EQ(ticked["nameLabel"], "Racer One");
    EXPECT_EQ(ticked["rows"][0], nlohmann::json::parse(R"([{"name":"Anna Able","ticked":true},{"name":"Andy Apple","ticked":false}])"));
    EXPECT_EQ(ticked["rows"][2][0]["ticked"], true);
    const auto* table = widget(states[2], "tableView");
    ASSERT_TRUE(table);
    EXPECT_EQ((*table)["table"]["offset"], 0);

    // The post carries the two ticked contacts; the server's answer is the window's alert.
    const auto* post = t.first("post");
    ASSERT_TRUE(post) << t.dump();
    EXPECT_NE((*post)["body"].get<std::string>().find("Anna Able,+1 555 0101,,Carl Cole,+1 555 0103,,"), std::string::npos);
    ASSERT_EQ(states[3]["alerts"].size(), 1u) << t.dump();
    bool accepted = false;
    for (const auto& line : server_->requestLog())
        accepted = accepted || line.find("invite: 2 invitation(s)") != std::string::npos;
    std::string log;
    for (const auto& line : server_->requestLog())
        log += line + "\n";
    EXPECT_EQ(states[3]["alerts"][0]["title"], accepted ? "Invites Sent" : "Fail") << log;
    EXPECT_EQ(states[3]["window"]["layers"], 1);

    // Back: the screen is gone at once for the model, its picture slides down, no tab selected.
    EXPECT_EQ(states[4]["modal"], nullptr);
    EXPECT_EQ(states[4]["window"]["leaving"], 1);
    EXPECT_EQ(states[5]["window"]["leaving"], 0);
    EXPECT_EQ(states[5]["tabBar"]["selected"], nullptr);
    EXPECT_FALSE(widget(states[5], "tableView"));

    // The picture: header strips for A and C only, the kit's tick icons where ticked, names in
    // dark letters at x 4, the index along the right edge.
    Picture window(picture);
    ASSERT_TRUE(window.loaded());
    Picture tickedIcon(std::string(STREET_RESOURCES_DIR) + "/images/invited_icon.png");
    Picture untickedIcon(std::string(STREET_RESOURCES_DIR) + "/images/none.png");
    ASSERT_TRUE(tickedIcon.loaded() && untickedIcon.loaded());
    const int top = 84;  // the table's top in the window
    auto isHeader = [&](int y) { auto p = window.at(150, y); return p[2] > p[0] && p[0] < 215 && p[0] > 120; };
    auto isWhite = [&](int y) { auto p = window.at(150, y); return p[0] > 245 && p[1] > 245 && p[2] > 245; };
    int rowA0 = top + 22, rowA1 = rowA0 + 44, headerC = rowA1 + 44, rowC0 = headerC + 22, headerZ = rowC0 + 44;
    EXPECT_TRUE(isHeader(top + 11));
    EXPECT_TRUE(isWhite(rowA0 + 5));
    EXPECT_TRUE(isHeader(headerC + 11));
    EXPECT_TRUE(isHeader(headerZ + 11));
    EXPECT_LT(window.difference(260, rowA0 + 7, tickedIcon, 30), 12);
    EXPECT_LT(window.difference(260, rowA1 + 7, untickedIcon, 30), 12);
    EXPECT_LT(window.difference(260, rowC0 + 7, tickedIcon, 30), 12);
    auto darkIn = [&](int x0, int x1, int y0, int y1) {
        int dark = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                dark += window.at(x, y)[0] < 130;
        return dark;
    };
    EXPECT_GT(darkIn(4, 120, rowA0 + 16, rowA0 + 40), 40);
    EXPECT_EQ(darkIn(0, 4, rowA0 + 16, rowA0 + 40), 0);
    EXPECT_GT(darkIn(296, 320, top + 6, top + 370), 60);
}

// Keys and the wheel in the window go through the same kit behaviour as headless scripts: real
// key events reach the kit's focus model first, and the wheel scrolls the kit's table.
TEST_F(DesktopRecruitTest, KeysAndTheWheelActAsTheKitSays)
{
    scenario::TempDir dir;
    std::string contacts = dir.path() + "/contacts.vcf";
    std::string cards;
    for (int i = 0; i < 12; ++i)
        cards += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;A" + std::to_string(i) + ";;;\r\nEND:VCARD\r\n";
    scenario::writeFile(contacts, cards);
    std::string picture = dir.path() + "/keys.png";
    std::string alert = "navigate " + server_->baseURL()
        + "/commands.php?invokeAlertTwoBtnTitle=Race%3F&invokeAlertTwoBtnBody=Now&invokeAlertTwoBtn1Name=Not%20now"
          "&invokeAlertTwoBtn2Name=Race&invokeAlertTwoBtn1JS=document.title%3D%27declined%27"
          "&invokeAlertTwoBtn2JS=document.title%3D%27racing%27&stopLoad=true\n";
    std::string script = "wait 4\n" + alert + "wait 1\nkey Tab\nkey Return\nwait 1\nkey Alt+4\nwait 1.5\nstate\n"
        "navigate " + server_->baseURL() + "/commands.php?showABRecruit=true\nwait 1\n"
        "key Alt+1\nkey Return\ntype Me\nkey Return\nkey Down\nkey Down\nkey space\nscroll 30\nwait 0.3\nstate\n"
        "snapshot " + picture + "\n"
        "scroll -100\nkey Shift+Tab\nstate\nkey Escape\nwait 0.6\nstate\n";
    // At scale 2 (the last --scale counts).
    auto t = scenario::runInWindow(script, server_->hostPort(), "0.5", {"--scale", "2", "--contacts", contacts});
    ASSERT_EQ(t.exitCode, 0);
    auto states = t.states();
    ASSERT_EQ(states.size(), 4u) << t.dump();

    // Tab moved focus to "Not now": Return pressed it, not the last button. Alt+4 is the Cars tab.
    // At scale 2 the backgrounds are drawn from their double-size pictures.
    const auto* background = widget(states[0], "imageViewBg");
    ASSERT_TRUE(background) << states[0].dump();
    std::string drawn = (*background)["image"];
    EXPECT_EQ(drawn.substr(drawn.size() - 7), "@2x.jpg") << drawn;
    auto presses = t.events("alert-press");
    ASSERT_GE(presses.size(), 1u) << t.dump();
    EXPECT_EQ(presses[0]["index"], 0);
    EXPECT_EQ(states[0]["tabBar"]["selected"], 3);
    EXPECT_EQ(states[0]["focus"], nlohmann::json({{"control", "page"}}));

    // The permission alert covers the tab bar: Alt+1 reaches nothing. Then rows by keys, the wheel.
    auto ignored = t.events("ignored");
    ASSERT_EQ(ignored.size(), 1u) << t.dump();
    EXPECT_EQ(ignored[0]["command"], "key Alt+1");
    EXPECT_EQ(states[1]["focus"], nlohmann::json({{"control", "table"}, {"row", {0, 1}}}));
    EXPECT_EQ(states[1]["recruit"]["rows"][0][1]["ticked"], true);
    EXPECT_EQ(states[1]["recruitTable"]["offset"], 30);
    const auto* table = widget(states[1], "tableView");
    ASSERT_TRUE(table);
    EXPECT_EQ((*table)["table"]["offset"], 30);
    EXPECT_EQ((*table)["table"]["top"], nlohmann::json({0, 0}));
    EXPECT_EQ(states[2]["recruitTable"]["offset"], 0);
    EXPECT_EQ(states[2]["focus"], nlohmann::json({{"control", "button"}, {"id", "infoButton"}}));

    // The index follows the focused row: its "A" stands out in blue, the other letters do not.
    Picture window(picture);
    ASSERT_TRUE(window.loaded());
    auto blueAroundTitle = [&](int position) {
        // The table's top is 84 points down the window; 26 titles share its 376 points less 6
        // at each end. Scale 2.
        int cx = 2 * 308, cy = static_cast<int>(2 * (84 + 6 + (position + 0.5) * 14));
        int blue = 0;
        for (int y = cy - 12; y < cy + 12; ++y)
            for (int x = cx - 14; x < cx + 14; ++x) {
                auto p = window.at(x, y);
                blue += p[2] - p[0] > 100;
            }
        return blue;
    };
    EXPECT_GT(blueAroundTitle(0), 10);
    for (int position : {1, 2, 12, 25})
        EXPECT_EQ(blueAroundTitle(position), 0) << position;

    // Escape is "Back".
    EXPECT_EQ(states[3]["modal"], nullptr);
    EXPECT_EQ(states[3]["tabBar"]["selected"], nullptr);
    EXPECT_EQ(t.count("dismiss"), 1u);
}

// The table on its own, in an offscreen window: a long list, clicked through its widget.
class Rows : public kit::Object, public kit::TableViewDataSource, public kit::TableViewDelegate {
public:
    int numberOfSectionsInTableView(kit::TableView&) override { return 26; }
    int numberOfRowsInSection(kit::TableView&, int section) override { return section % 5 == 1 ? 0 : 400; }
    std::optional<std::string> titleForHeaderInSection(kit::TableView&, int section) override
    {
        return std::string(1, static_cast<char>('A' + section));
    }
    std::vector<std::string> sectionIndexTitlesForTableView(kit::TableView&) override
    {
        std::vector<std::string> titles;
        for (char c = 'A'; c <= 'Z'; ++c)
            titles.emplace_back(1, c);
        return titles;
    }
    std::shared_ptr<kit::TableViewCell> cellForRowAtIndexPath(kit::TableView& table, kit::IndexPath path) override
    {
        auto cell = table.dequeueReusableCellWithIdentifier("row");
        if (!cell) {
            cell = std::make_shared<kit::TableViewCell>(kit::Rect(), "row");
            cell->addSubview(std::make_shared<kit::Label>(kit::Rect(4, 16, 260, 24)));
            ++made;
        }
        std::static_pointer_cast<kit::Label>(cell->subviews()[0])->setText(std::to_string(path.row));
        return cell;
    }
    void didSelectRowAtIndexPath(kit::TableView& table, kit::IndexPath path) override
    {
        selected.push_back(path);
        table.reloadData();
    }
    int made = 0;
    std::vector<kit::IndexPath> selected;
};

TEST(DesktopTableTest, IndexJumpsRowsClickAndCellsAreReused)
{
    if (!scenario::haveDisplay() || !gtk_init_check(nullptr, nullptr))
        GTEST_SKIP() << "needs a display";
    auto rows = std::make_shared<Rows>();
    auto table = std::make_shared<kit::TableView>(kit::Rect(0, 0, 320, 376));
    table->setDataSource(rows);
    table->setDelegate(rows);
    // The table's peer is the window's to make.
    auto model = std::make_shared<kit::Window>(kit::Rect(0, 0, 320, 480));
    model->addSubview(table);
    auto window = std::make_shared<backend::gtk::WindowPeer>(*model, 1);
    model->setPeer(window);
    window->sync();
    gtk_widget_show(GTK_WIDGET(window->gtkWindow()));
    auto* peer = dynamic_cast<backend::gtk::TableViewPeer*>(table->peer());
    ASSERT_NE(peer, nullptr);
    peer->update();
    auto draw = [&] {
        while (g_main_context_pending(nullptr))
            g_main_context_iteration(nullptr, FALSE);
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 320, 376);
        cairo_t* cr = cairo_create(surface);
        gtk_widget_draw(peer->widget(), cr);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    };

    // Each index title jumps to its section; an empty section's title lands where the next begins.
    struct Jump {
        size_t title;
        kit::IndexPath top;
    };
    for (const Jump& jump : {Jump{12, {12, 0}}, Jump{6, {7, 0}}, Jump{0, {0, 0}}, Jump{25, {25, 0}}}) {
        ASSERT_TRUE(peer->clickIndex(jump.title));
        draw();
        EXPECT_EQ(peer->topRow(), jump.top) << "title " << jump.title;
    }

    // A click ticks the row under it and keeps the scroll position through the reload.
    ASSERT_TRUE(peer->clickIndex(3));
    draw();
    double offset = peer->offset();
    ASSERT_TRUE(peer->clickRow({3, 2}));
    ASSERT_TRUE(peer->clickRow({3, 30}));  // below the screen: scrolled into view first
    ASSERT_EQ(rows->selected.size(), 2u);
    EXPECT_EQ(rows->selected[0], (kit::IndexPath{3, 2}));
    EXPECT_EQ(rows->selected[1], (kit::IndexPath{3, 30}));
    EXPECT_GT(peer->offset(), offset);
    EXPECT_FALSE(peer->clickRow({1, 0}));

    // Scrolling the whole list realises no more than a screenful of cells.
    for (double y = 0; y <= peer->maxOffset(); y += 397) {
        peer->scrollTo(y);
        draw();
    }
    EXPECT_LE(rows->made, 13);
    EXPECT_LE(table->subviews().size(), 12u);
    model->setPeer(nullptr);
}

} // namespace
