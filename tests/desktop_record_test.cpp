// A session in the window, recorded with --record, plays again headless on the virtual clock
// with no difference. Needs a display (./dev test runs the suite under xvfb-run).

#include "support/Desktop.h"

#include <gtest/gtest.h>

namespace {

using scenario::Transcript;

class DesktopRecordTest : public scenario::DesktopSuite {};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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

    scenario::ScenarioOptions raw;
    raw.rawCommandLine = true;
    raw.timeoutSeconds = 60;
    Transcript check = scenario::runScenario("", {"replay-check", recording, dir.path() + "/window.jsonl"}, raw);
    EXPECT_EQ(check.exitCode, 0) << check.stdoutText << check.stderrText << "\n" << recorded;
    EXPECT_TRUE(contains(check.stdoutText, "no difference")) << check.stdoutText;
}

}  // namespace
