// What the client keeps is the player's alone: its own data directory and everything in it lose
// group and other permissions at start (a directory the player names is closed, its other files
// left as they are), and temporaries that an interrupted save left behind go, while every other
// file stays.

#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <sys/stat.h>
#include <utime.h>

namespace {

namespace fs = std::filesystem;

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

void age(const std::string& path, long seconds)
{
    struct utimbuf times {};
    times.actime = times.modtime = std::time(nullptr) - seconds;
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

TEST(PrivateFiles, TheDataDirectoryIsMadePrivateAndInterruptedSavesAreCleared)
{
    scenario::TempDir dir("street-private");
    // The client's own settings directory, where the desktop keeps programs' settings.
    const std::string data = dir.path() + "/config/street-client", outside = dir.path() + "/outside.txt";
    fs::create_directories(data + "/sub");
    scenario::writeFile(data + "/defaults.json", R"({"soundEnabled": false})");
    scenario::writeFile(data + "/sub/inner.txt", "x");
    scenario::writeFile(outside, "x");
    fs::create_symlink(outside, data + "/link.txt");
    for (const auto& [path, mode] : {std::pair{data, 0755}, {data + "/sub", 0775}, {data + "/defaults.json", 0644},
                                     {data + "/sub/inner.txt", 0664}, {outside, 0644}})
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);

    struct Leftover {
        std::string name;
        long ageSeconds;
        bool removed;
    };
    const std::vector<Leftover> leftovers{
        {"defaults.json.a1B2c3", 3600, true},   // a save cut short, an hour ago
        {"defaults.json.Qw9rTy", 120, true},
        {"defaults.json.xYzzyQ", 120, true},    // letters only, but mixed case
        {"cookies.txt.k3J4h5", 3600, true},     // the cookie file's own
        {"defaults.json.Zx81qP", 5, false},     // may be another run's save under way
        {"defaults.json.backup", 3600, false},  // names a person gives
        {"defaults.json.Backup", 3600, false},
        {"defaults.json.BACKUP", 3600, false},
        {"defaults.json.202401", 3600, false},
        {"defaults.json.a1B2c3d", 3600, false}, // not six characters
        {"defaults.json.a1-2c3", 3600, false},
        {"defaults.json.corrupt-20240101-101010", 3600, false},
        {"defaults.jsonXa1B2c3", 3600, false},
        {"other.json.a1B2c3", 3600, false},
    };
    for (const auto& l : leftovers) {
        scenario::writeFile(data + "/" + l.name, "{\n  \"soundEnabled\": tr");
        age(data + "/" + l.name, l.ageSeconds);
    }
    fs::create_directory(data + "/defaults.json.d1R2c3");   // not a file
    fs::create_symlink(outside, data + "/defaults.json.s1Y2m3");
    age(data + "/defaults.json.d1R2c3", 3600);

    scenario::ScenarioOptions options;
    options.defaultDataDirectories = true;
    options.environment = {{"XDG_CONFIG_HOME", dir.path() + "/config"}};
    auto t = scenario::runScenario("wait 0.1\nstate\n", {}, options);
    ASSERT_EQ(t.exitCode, 0) << t.dump();
    EXPECT_EQ(t.states().at(0)["settings"]["soundEnabled"], false) << "the settings file itself stays";

    for (const auto& l : leftovers) {
        SCOPED_TRACE(l.name);
        EXPECT_EQ(fs::exists(data + "/" + l.name), !l.removed);
    }
    EXPECT_TRUE(fs::is_directory(data + "/defaults.json.d1R2c3"));
    EXPECT_TRUE(fs::is_symlink(data + "/defaults.json.s1Y2m3"));
    EXPECT_TRUE(fs::exists(outside));

    EXPECT_EQ(modeOf(data), 0700u);
    EXPECT_EQ(modeOf(data + "/sub"), 0700u);
    EXPECT_EQ(modeOf(data + "/defaults.json"), 0600u);
    EXPECT_EQ(modeOf(data + "/sub/inner.txt"), 0600u);
    EXPECT_EQ(modeOf(outside), 0644u) << "a link's target outside is not ours to change";
}

// A directory the player names may hold other files of theirs (here, a home): it is closed to
// others, but what it holds keeps its modes; only the client's own leftovers go.
TEST(PrivateFiles, ADataDirectoryNamedOnTheCommandLineIsClosedButItsOtherFilesKeepTheirModes)
{
    scenario::TempDir dir("street-private");
    const std::string home = dir.path() + "/home";
    fs::create_directories(home + "/public_html");
    scenario::writeFile(home + "/public_html/index.html", "x");
    scenario::writeFile(home + "/notes.txt", "x");
    scenario::writeFile(home + "/defaults.json.a1B2c3", "{");
    age(home + "/defaults.json.a1B2c3", 3600);
    for (const auto& [path, mode] : {std::pair{home, 0755}, {home + "/public_html", 0755},
                                     {home + "/public_html/index.html", 0644}, {home + "/notes.txt", 0644}})
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    scenario::ScenarioOptions options;
    options.dataDir = home;
    auto t = scenario::runScenario("wait 0.1\nstate\n", {}, options);
    ASSERT_EQ(t.exitCode, 0) << t.dump();
    EXPECT_EQ(modeOf(home), 0700u);
    EXPECT_EQ(modeOf(home + "/public_html"), 0755u);
    EXPECT_EQ(modeOf(home + "/public_html/index.html"), 0644u);
    EXPECT_EQ(modeOf(home + "/notes.txt"), 0644u);
    EXPECT_FALSE(fs::exists(home + "/defaults.json.a1B2c3"));
}

// A directory shared with others (sticky, as /tmp is) is nobody's own: its modes stay.
TEST(PrivateFiles, ASharedDirectoryGivenAsTheDataDirectoryKeepsItsModes)
{
    scenario::TempDir dir("street-private");
    const std::string shared = dir.path() + "/shared";
    fs::create_directory(shared);
    scenario::writeFile(shared + "/someone-else.txt", "x");
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(::chmod((shared + "/someone-else.txt").c_str(), 0644), 0);
    scenario::ScenarioOptions options;
    options.dataDir = shared;
    auto t = scenario::runScenario("wait 0.1\n", {}, options);
    ASSERT_EQ(t.exitCode, 0) << t.dump();
    EXPECT_EQ(modeOf(shared), 01777u);
    EXPECT_EQ(modeOf(shared + "/someone-else.txt"), 0644u);
}

} // namespace
