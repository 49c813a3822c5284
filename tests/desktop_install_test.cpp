// Installing like a desktop program: the files land where desktops look for them, they pass the
// desktop's own validators, and the installed program finds its resources from its prefix.

#include "shell/DemoServerProcess.h"
#include "support/Desktop.h"
#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace {

int shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

TEST(DesktopInstall, InstalledFilesValidateAndTheProgramFindsItsResources)
{
    const std::string source = STREET_SOURCE_DIR;
    EXPECT_EQ(shell("desktop-file-validate " + source + "/desktop/net.streetclient.StreetClient.desktop"), 0);
    EXPECT_EQ(shell("appstreamcli validate --no-net " + source + "/desktop/net.streetclient.StreetClient.metainfo.xml"), 0);

    scenario::TempDir prefix("street-install");
    ASSERT_EQ(shell(std::string(STREET_CMAKE) + " --install " + STREET_BUILD_DIR + " --prefix " + prefix.path()), 0);
    const std::string share = prefix.path() + "/share/";
    for (const std::string path : {"applications/net.streetclient.StreetClient.desktop",
                                   "metainfo/net.streetclient.StreetClient.metainfo.xml",
                                   "icons/hicolor/48x48/apps/net.streetclient.StreetClient.png",
                                   "icons/hicolor/128x128/apps/net.streetclient.StreetClient.png",
                                   "icons/hicolor/256x256/apps/net.streetclient.StreetClient.png",
                                   "icons/hicolor/scalable/apps/net.streetclient.StreetClient.svg",
                                   "street-client/images/tab_home.svg"})
        EXPECT_TRUE(std::filesystem::exists(share + path)) << path;
    EXPECT_EQ(shell("desktop-file-validate " + share + "applications/net.streetclient.StreetClient.desktop"), 0);

    // No --resources: the program uses the copy beside itself. Without the start picture there,
    // the background shows nothing (and nothing breaks), where the build's copy would show it.
    std::filesystem::remove(share + "street-client/images/bg_start.jpg");
    scenario::TempDir work;
    scenario::writeFile(work.path() + "/s.txt", "state\n");
    ASSERT_EQ(shell(prefix.path() + "/bin/street-client --headless --data-dir " + work.path() + " --script "
                    + work.path() + "/s.txt --transcript " + work.path() + "/t.jsonl"),
              0);
    auto text = scenario::readFile(work.path() + "/t.jsonl");
    EXPECT_NE(text.find("\"imageViewBg\":{\"alpha\""), std::string::npos) << text;
    EXPECT_EQ(text.find("bg_start.jpg"), std::string::npos) << text;

    // The window is a module of its own, found from the prefix: here it loads and then finds no
    // display, which it says itself (past the sandbox's trial, which a chroot cannot pass).
    std::string said = work.path() + "/stderr.txt";
    int status = std::system(("env -u WAYLAND_DISPLAY DISPLAY=:none WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1 " + prefix.path() + "/bin/street-client --data-dir "
                              + work.path() + " >/dev/null 2>" + said).c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(scenario::readFile(said).find("cannot open the display"), std::string::npos) << scenario::readFile(said);
}

// Launched from the menu, no server named: the window plays the demo server it started itself.
TEST(DesktopInstall, TheWindowWithNoServerNamedPlaysTheDemoServer)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    if (scenario::compiledInServer() != scenario::kDemoAddress
        || shell::DemoServerProcess::loopbackAnswers(8642, std::chrono::milliseconds(500)))
        GTEST_SKIP() << "needs the built-in demo address, free";
    scenario::ScenarioOptions options;
    options.desktop = true;
    options.timeoutSeconds = 60;
    options.environment = {{"STREET_SERVER", ""}};
    auto t = scenario::runScenario("wait 4\nstate\n", {"--scale", "1", "--movie-seconds", "0.2", "--open-urls", "record"}, options);
    EXPECT_EQ(t.exitCode, 0) << t.stderrText;
    EXPECT_NE(t.stderrText.find("playing the demo server started at 127.0.0.1:"), std::string::npos) << t.stderrText;
    ASSERT_NE(t.first("load-start"), nullptr) << t.dump();
    std::string entry = (*t.first("load-start"))["url"];
    EXPECT_TRUE(entry.starts_with("http://127.0.0.1:") && !entry.starts_with("http://127.0.0.1:8642/")) << entry;
    EXPECT_NE(t.first("load-finish"), nullptr) << t.dump();
}

// A program away from its files opens no window: one line, status 1, on a display where it could.
TEST(DesktopInstall, AProgramWithoutItsResourcesOpensNoWindow)
{
    if (!scenario::haveDisplay())
        GTEST_SKIP() << "needs a display (./dev test runs the suite under xvfb-run)";
    scenario::TempDir dir("street-lone-window");
    std::filesystem::copy_file(STREET_CLIENT_BIN, dir.path() + "/street-client");
    scenario::ScenarioOptions options;
    options.rawCommandLine = true;
    options.launcher = {"/bin/sh", "-c", "shift; exec \"$0\" \"$@\"", dir.path() + "/street-client"};
    auto t = scenario::runScenario("", {"--data-dir", dir.path()}, options);
    EXPECT_EQ(t.exitCode, 1);
    EXPECT_EQ(t.stderrText, "street-client: the resource folder " + std::filesystem::path(dir.path()).parent_path().string()
                                + "/share/street-client is missing: this installation is incomplete\n");
}

} // namespace
