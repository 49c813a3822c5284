#include "kit/UserDefaults.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using kit::UserDefaults;
using nlohmann::json;
using namespace std::string_view_literals;

namespace {

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeText(const fs::path& path, std::string_view text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<fs::path> setAsideFiles(const fs::path& dir)
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().starts_with("defaults.json.corrupt-"))
            found.push_back(entry.path());
    }
    return found;
}

int countOccurrences(const std::string& haystack, const std::string& needle)
{
    int n = 0;
    for (auto pos = haystack.find(needle); pos != std::string::npos; pos = haystack.find(needle, pos + 1))
        ++n;
    return n;
}

class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "street-defaults-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        dir_ = root_ / "config";
        UserDefaults::setDataDirectory(dir_.string());
    }

    void TearDown() override
    {
        ::chmod(dir_.c_str(), 0700);
        // Leave no store pointing at our directory for whatever runs next.
        UserDefaults::setDataDirectory("");
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path file() const { return dir_ / "defaults.json"; }

    // Drops the shared store and reads the file again, as a restart would.
    static UserDefaults& reopen()
    {
        UserDefaults::resetStandardUserDefaults();
        return UserDefaults::standardUserDefaults();
    }

    fs::path root_;
    fs::path dir_;
};

TEST_F(UserDefaultsTest, ValuesSurviveAReopen)
{
    auto& defaults = UserDefaults::standardUserDefaults();
    defaults.setBool(false, "soundEnabled");
    defaults.setBool(true, "other");
    defaults.setObject("Ann \"A\" \xc3\xa9", "nameString");
    defaults.setObject("gone", "removed");
    defaults.removeObjectForKey("removed");

    auto& again = reopen();
    EXPECT_EQ(again.objectForKey("soundEnabled"), json(false));
    EXPECT_TRUE(again.boolForKey("other"));
    EXPECT_EQ(again.stringForKey("nameString"), "Ann \"A\" \xc3\xa9");
    EXPECT_FALSE(again.objectForKey("removed"));

    // The file is a plain JSON object, private to the user, in a private directory.
    EXPECT_TRUE(json::parse(readText(file())).is_object());
    EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(dir_).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(UserDefaultsTest, NestedMissingDirectoryIsCreated)
{
    fs::path nested = root_ / "a" / "b" / "c";
    UserDefaults::setDataDirectory(nested.string() + "/");
    EXPECT_EQ(UserDefaults::dataDirectory(), nested.string());
    UserDefaults::standardUserDefaults().setBool(true, "k");
    EXPECT_TRUE(UserDefaults::standardUserDefaults().synchronize());
    EXPECT_TRUE(fs::is_regular_file(nested / "defaults.json"));
}

TEST_F(UserDefaultsTest, NothingIsWrittenUntilSomethingChanges)
{
    auto& defaults = UserDefaults::standardUserDefaults();
    EXPECT_FALSE(defaults.objectForKey("soundEnabled"));
    EXPECT_TRUE(defaults.synchronize());
    UserDefaults::resetStandardUserDefaults();
    EXPECT_FALSE(fs::exists(file()));

    // An existing file is left exactly as it was when only read.
    fs::create_directories(dir_);
    const std::string original = "{\"k\":   true}";
    writeText(file(), original);
    EXPECT_TRUE(reopen().boolForKey("k"));
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(readText(file()), original);
    // No temporary files are left behind either.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(UserDefaultsTest, ValuesOfOtherTypesReadAsAbsentOrFalse)
{
    fs::create_directories(dir_);
    writeText(file(), R"({"t": true, "f": false, "one": 1, "zero": 0, "neg": -3, "half": 0.5,
        "fzero": 0.0, "big": 18446744073709551615, "s": "text", "yes": "YES", "null": null,
        "arr": [true], "obj": {"a": 1}})");
    auto& defaults = UserDefaults::standardUserDefaults();

    struct Case {
        const char* key;
        bool boolValue;
        std::optional<std::string> stringValue;
    };
    const Case cases[] = {
        {"t", true, std::nullopt},
        {"f", false, std::nullopt},
        {"one", true, std::nullopt},
        {"zero", false, std::nullopt},
        {"neg", true, std::nullopt},
        {"half", true, std::nullopt},
        {"fzero", false, std::nullopt},
        {"big", true, std::nullopt},
        {"s", false, "text"},
        {"yes", false, "YES"},
        {"null", false, std::nullopt},
        {"arr", false, std::nullopt},
        {"obj", false, std::nullopt},
        {"absent", false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(defaults.boolForKey(c.key), c.boolValue);
        EXPECT_EQ(defaults.stringForKey(c.key), c.stringValue);
        EXPECT_EQ(defaults.objectForKey(c.key).has_value(), std::string_view(c.key) != "absent");
    }
}

TEST_F(UserDefaultsTest, UnusableFileReadsEmptyIsReportedAndKeptAside)
{
    const std::string_view contents[] = {
        "",
        "{\"soundEnabled\": fal",
        "{\"a\": 1}}",
        "[1, 2]",
        "42",
        "\"text\"",
        "null",
        "\x89PNG\r\n\x1a\n\x00\x01"sv,
    };
    int round = 0;
    for (auto content : contents) {
        SCOPED_TRACE(std::string(content));
        fs::path dir = root_ / ("round" + std::to_string(round++));
        fs::create_directories(dir);
        fs::path path = dir / "defaults.json";
        writeText(path, content);
        UserDefaults::setDataDirectory(dir.string());

        testing::internal::CaptureStderr();
        auto& defaults = UserDefaults::standardUserDefaults();
        EXPECT_FALSE(defaults.objectForKey("soundEnabled"));
        // Reopening without a write does not repeat the report.
        reopen();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(countOccurrences(err, "street-client: "), 1) << err;
        EXPECT_NE(err.find(path.string()), std::string::npos) << err;

        // Until something is written the file stays where it is, untouched.
        EXPECT_EQ(readText(path), content);

        UserDefaults::standardUserDefaults().setBool(false, "soundEnabled");
        EXPECT_TRUE(UserDefaults::standardUserDefaults().synchronize());
        auto aside = setAsideFiles(dir);
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(readText(aside[0]), content);
        EXPECT_EQ(json::parse(readText(path)), json({{"soundEnabled", false}}));
        EXPECT_EQ(reopen().objectForKey("soundEnabled"), json(false));
    }
}

TEST_F(UserDefaultsTest, UnwritableDirectoryFailsLoudlyAndLosesNothing)
{
    UserDefaults::standardUserDefaults().setBool(true, "before");
    UserDefaults::resetStandardUserDefaults();

    ::chmod(dir_.c_str(), 0500);
    // Privileged users write through the mode bits; then there is nothing to test here.
    fs::path probe = dir_ / "probe";
    if (std::FILE* f = std::fopen(probe.c_str(), "w")) {
        std::fclose(f);
        fs::remove(probe);
        GTEST_SKIP() << "directory permissions are not enforced for this user";
    }

    auto& defaults = UserDefaults::standardUserDefaults();
    defaults.setBool(false, "soundEnabled");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(defaults.synchronize());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(countOccurrences(err, "street-client: "), 1) << err;
    EXPECT_NE(err.find(file().string()), std::string::npos) << err;

    // The reset cannot write either, so it keeps the values instead of dropping them.
    testing::internal::CaptureStderr();
    UserDefaults::resetStandardUserDefaults();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(UserDefaults::standardUserDefaults().objectForKey("soundEnabled"), json(false));
    EXPECT_TRUE(UserDefaults::standardUserDefaults().boolForKey("before"));

    ::chmod(dir_.c_str(), 0700);
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(reopen().objectForKey("soundEnabled"), json(false));
    EXPECT_TRUE(UserDefaults::standardUserDefaults().boolForKey("before"));
}

// Works for every user, root included: no directory can be made below a regular file.
TEST_F(UserDefaultsTest, UncreatableDirectoryFailsLoudlyAndLosesNothing)
{
    fs::create_directories(root_);
    writeText(root_ / "plainfile", "x");
    UserDefaults::setDataDirectory((root_ / "plainfile" / "config").string());

    auto& defaults = UserDefaults::standardUserDefaults();
    defaults.setObject("Ann", "nameString");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(defaults.synchronize());
    UserDefaults::resetStandardUserDefaults();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(countOccurrences(err, "street-client: "), 2) << err; // one per failed attempt
    EXPECT_NE(err.find("plainfile"), std::string::npos) << err;

    EXPECT_EQ(UserDefaults::standardUserDefaults().stringForKey("nameString"), "Ann");

    // Once the location is usable again the kept values reach the disk.
    fs::remove(root_ / "plainfile");
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(reopen().stringForKey("nameString"), "Ann");
}

TEST_F(UserDefaultsTest, DirectoryInPlaceOfTheFileIsMovedAsideNotDestroyed)
{
    fs::create_directories(dir_);
    // A directory in the file's place cannot be read; renaming over it would fail, and
    // removing it would lose whatever it holds.
    fs::create_directories(file() / "inside");
    testing::internal::CaptureStderr();
    auto& defaults = UserDefaults::standardUserDefaults();
    EXPECT_FALSE(defaults.objectForKey("k"));
    defaults.setBool(true, "k");
    bool saved = defaults.synchronize();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(countOccurrences(err, "street-client: "), 1) << err;
    EXPECT_TRUE(saved);
    auto aside = setAsideFiles(dir_);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_TRUE(fs::is_directory(aside[0] / "inside"));
    EXPECT_TRUE(reopen().boolForKey("k"));
}

TEST(UserDefaultsLocation, FollowsTheEnvironment)
{
    struct Saved {
        std::optional<std::string> xdg, home;
    } saved;
    if (const char* v = std::getenv("XDG_CONFIG_HOME"))
        saved.xdg = v;
    if (const char* v = std::getenv("HOME"))
        saved.home = v;

    struct Case {
        const char* xdg; // nullptr: unset
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/x/cfg", "/home/u", "/x/cfg/street-client"},
        {nullptr, "/home/u", "/home/u/.config/street-client"},
        {"", "/home/u", "/home/u/.config/street-client"},
        {"relative/cfg", "/home/u", "/home/u/.config/street-client"},
    };
    UserDefaults::setDataDirectory("");
    for (const auto& c : cases) {
        if (c.xdg)
            ::setenv("XDG_CONFIG_HOME", c.xdg, 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        ::setenv("HOME", c.home, 1);
        EXPECT_EQ(UserDefaults::dataDirectory(), c.expected);
    }
    UserDefaults::setDataDirectory("/somewhere/else");
    EXPECT_EQ(UserDefaults::dataDirectory(), "/somewhere/else");
    UserDefaults::setDataDirectory("");
    EXPECT_EQ(UserDefaults::dataDirectory(), "/home/u/.config/street-client");

    if (saved.xdg)
        ::setenv("XDG_CONFIG_HOME", saved.xdg->c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    if (saved.home)
        ::setenv("HOME", saved.home->c_str(), 1);
    else
        ::unsetenv("HOME");
}

}
