// A session in the window, recorded with --record, plays again headless on the virtual clock
// with no difference. Needs a display (./dev test runs the suite under xvfb-run).

#include "support/Desktop.h"
#include "support/OwnDisplay.h"
#include "support/Sway.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>

namespace {

using scenario::Transcript;

class DesktopRecordTest : public scenario::DesktopSuite {};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// No difference between a recording's replay and the recorded session.
void expectReplaysAlike(const std::string& recording, const std::string& transcript)
{
    scenario::ScenarioOptions raw;
    raw.rawCommandLine = true;
    raw.timeoutSeconds = 60;
    Transcript check = scenario::runScenario("", {"replay-check", recording, transcript}, raw);
    EXPECT_EQ(check.exitCode, 0) << check.stdoutText << check.stderrText << "\n" << scenario::readFile(recording);
    EXPECT_TRUE(contains(check.stdoutText, "no difference")) << check.stdoutText;
}

TEST_F(DesktopRecordTest, AWindowSessionReplaysHeadlessWithNoDifference)
{
    scenario::TempDir dir("street-record");
    const std::string book = dir.path() + "/book.vcf", recording = dir.path() + "/window.script";
    scenario::writeFile(book, "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nTEL;TYPE=CELL:+1 555 0101\r\nEND:VCARD\r\n"
                              "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Fox;Amy;;;\r\nEMAIL:amy@fox.example\r\nEND:VCARD\r\n");
    const std::string base = server_->baseURL();
    const std::string gone = "http://127.0.0.1:" + std::to_string(scenario::closedLoopbackPort()) + "/missions.php";
    // Tabs; a page alert and its button; a load that fails; Recruit with two ticks and a send.
    const std::string script = "wait 4\nstate\ntap Cars\nwait 1.5\ntap Street\nwait 1.5\nstate\n"
        "navigate " + base + "/commands.php?invokeAlertOneBtnTitle=Garage&invokeAlertOneBtnBody=Ready&invokeAlertOneBtnName=Great"
        "&invokeAlertOneBtnJS=document.title%3D%27pressed%27\nwait 1.5\npress Great\nwait 1\n"
        "navigate " + gone + "\nwait 2\nstate\npress OK\nwait 1\n"
        "navigate " + base + "/commands.php?showABRecruit=true\nwait 1.5\npress Continue\ntype Racer\npress Done\nwait 0.5\n"
        "row 0 0\nrow 0 1\nwait 0.5\nstate\ntoolbar Send Invites\nwait 1\nstate\npress OK\nwait 1\nstate\n";
    Transcript t = scenario::runInWindow(script, server_->hostPort(), "0.5", {"--contacts", book, "--record", recording});
    ASSERT_EQ(t.exitCode, 0);
    const std::string recorded = scenario::readFile(recording);
    EXPECT_TRUE(contains(recorded, "\nmovie preloaded\n")) << recorded;
    EXPECT_TRUE(contains(recorded, "\nreply 200 ")) << recorded;
    EXPECT_TRUE(contains(recorded, "\ntype-redacted 5\n")) << recorded;
    EXPECT_TRUE(contains(recorded, "\nfail ")) << recorded;
    EXPECT_FALSE(contains(recorded, "Racer")) << recorded;
    // A script's line reaches the widgets as a click or key would, and is written once.
    EXPECT_EQ(count(recorded, "\ntap Cars\n"), 1u) << recorded;
    EXPECT_EQ(count(recorded, "\npress Great\n"), 1u) << recorded;
    EXPECT_EQ(count(recorded, "\ntoolbar Send Invites\n"), 1u) << recorded;
    expectReplaysAlike(recording, dir.path() + "/window.jsonl");
}

// Keys pressed at a real keyboard (through the X server) are written as the script's own `key`
// lines, once each: Return pressing the alert's button is not written again as `press`.
TEST(DesktopRecordByHand, RealKeyPressesAreRecordedAndReplay)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    if (scenario::onWayland())
        GTEST_SKIP() << "presses keys through XTest, which only an X server has";
    scenario::OwnDisplay display;
    ASSERT_TRUE(display.started()) << "Xvfb did not start";
    scenario::DemoServer server;
    ASSERT_TRUE(server.started());
    scenario::TempDir dir("street-record-keys");
    const std::string recording = dir.path() + "/keys.script";

    const std::string alert = "/commands.php?invokeAlertTwoBtnTitle=Race%3F&invokeAlertTwoBtnBody=Now"
                              "&invokeAlertTwoBtn1Name=Not%20now&invokeAlertTwoBtn2Name=Race&stopLoad=true";
    auto session = scenario::answerAnAlertByKeys(display, "wait 4\nnavigate " + server.baseURL() + alert + "\nwait 8\nstate\n",
                                                 {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record",
                                                  "--server", server.hostPort(), "--record", recording});
    const auto& t = session.transcript;
    const auto& unpressed = session.unpressed;
    const int step = session.steps;
    ASSERT_EQ(t.exitCode, 0) << t.stderrText << t.dump();
    ASSERT_TRUE(unpressed.empty()) << unpressed.front();
    ASSERT_EQ(step, 2) << t.dump();
    ASSERT_EQ(t.events("alert-press").size(), 1u) << t.dump();

    const std::string recorded = scenario::readFile(recording);
    for (const char* line : {"\nkey Tab\n", "\nkey Return\n", "\nkey Alt+4\n"})
        EXPECT_EQ(count(recorded, line), 1u) << line << "\n" << recorded;
    EXPECT_FALSE(contains(recorded, "\npress ")) << recorded;
    // Each key comes after the time waited for it.
    EXPECT_TRUE(recorded.find("\nwait ") < recorded.find("\nkey Tab\n")) << recorded;
    expectReplaysAlike(recording, dir.path() + "/keys.jsonl");
}

}  // namespace
