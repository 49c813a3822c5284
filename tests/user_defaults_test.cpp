// The defaults file: values survive a restart, the file is written only when something changed,
// an unusable file is reported once and kept aside, and a failed write loses nothing.

#include "kit/UserDefaults.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
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

void writeText(const fs::path& path, std::string_view text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<fs::path> setAsideFiles(const fs::path& dir)
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().starts_with("defaults.json.corrupt-"))
            found.push_back(entry.path());
    return found;
}

int reports(const std::string& err)
{
    int n = 0;
    for (auto pos = err.find("street-client: "); pos != std::string::npos; pos = err.find("street-client: ", pos + 1))
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
        UserDefaults::setDataDirectory(""); // no store left pointing here for what runs next
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

    fs::path root_, dir_;
};

TEST_F(UserDefaultsTest, ValuesSurviveARestartInAPrivateFileWrittenOnlyOnChange)
{
    EXPECT_FALSE(reopen().objectForKey("soundEnabled"));
    EXPECT_TRUE(UserDefaults::standardUserDefaults().synchronize());
    UserDefaults::resetStandardUserDefaults();
    EXPECT_FALSE(fs::exists(file())) << "written without a change";

    auto& defaults = UserDefaults::standardUserDefaults();
    defaults.setBool(false, "soundEnabled");
    defaults.setObject("Ann \"A\" \xc3\xa9", "nameString");
    defaults.setObject("gone", "removed");
    defaults.removeObjectForKey("removed");
    auto& again = reopen();
    EXPECT_EQ(again.objectForKey("soundEnabled"), json(false));
    EXPECT_EQ(again.stringForKey("nameString"), "Ann \"A\" \xc3\xa9");
    EXPECT_FALSE(again.objectForKey("removed"));
    EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(dir_).permissions() & fs::perms::all, fs::perms::owner_all);

    // A file only read is left exactly as it was, with no temporary files beside it.
    const std::string original = "{\"k\":   true}";
    writeText(file(), original);
    EXPECT_TRUE(reopen().boolForKey("k"));
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(readText(file()), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    // A missing nested directory is made on the first write.
    fs::path nested = root_ / "a" / "b";
    UserDefaults::setDataDirectory(nested.string() + "/");
    EXPECT_EQ(UserDefaults::dataDirectory(), nested.string());
    UserDefaults::standardUserDefaults().setBool(true, "k");
    EXPECT_TRUE(UserDefaults::standardUserDefaults().synchronize());
    EXPECT_TRUE(fs::is_regular_file(nested / "defaults.json"));
}

TEST_F(UserDefaultsTest, StoredValuesOfEveryKindReadAsTheirType)
{
    fs::create_directories(dir_);
    writeText(file(), R"({"t": true, "f": false, "one": 1, "zero": 0, "neg": -3, "half": 0.5, "fzero": 0.0,
        "big": 18446744073709551615, "s": "text", "yes": "YES", "y": "y", "true": "true", "T": "T", "no": "NO",
        "empty": "", "blank": " ", "num": "  +0012", "minus": "-1", "zeros": "000", "frac": "0.5", "nine": "9lives",
        "tab": "\tY", "signs": "+-1", "hex": "0x1", "nul": "0\u00001", "null": null, "arr": [true], "obj": {"a": 1}})");
    auto& defaults = UserDefaults::standardUserDefaults();
    // A text reads YES when, after blanks, one sign and leading zeros, it starts with Y, T or 1-9
    // (so "text" does).
    for (const char* key : {"t", "one", "neg", "half", "big", "s", "yes", "y", "true", "T", "num", "minus", "nine", "tab"})
        EXPECT_TRUE(defaults.boolForKey(key)) << key;
    for (const char* key : {"f", "zero", "fzero", "no", "empty", "blank", "zeros", "frac", "signs", "hex", "nul", "null",
                            "arr", "obj", "absent"})
        EXPECT_FALSE(defaults.boolForKey(key)) << key;
    EXPECT_EQ(defaults.stringForKey("s"), "text");
    for (const char* key : {"t", "one", "null", "arr", "absent"})
        EXPECT_EQ(defaults.stringForKey(key), std::nullopt) << key;
    EXPECT_TRUE(defaults.objectForKey("null"));
    EXPECT_FALSE(defaults.objectForKey("absent"));
}

TEST_F(UserDefaultsTest, UnusableFileReadsEmptyIsReportedOnceAndKeptAsideOnTheNextWrite)
{
    int round = 0;
    for (auto content : {""sv, "{\"soundEnabled\": fal"sv, "{\"a\": 1}}"sv, "[1, 2]"sv, "42"sv, "\"text\""sv, "null"sv,
                         "\x89PNG\r\n\x1a\n\x00\x01"sv}) {
        SCOPED_TRACE(std::string(content));
        fs::path dir = root_ / ("round" + std::to_string(round++));
        fs::create_directories(dir);
        writeText(dir / "defaults.json", content);
        UserDefaults::setDataDirectory(dir.string());

        testing::internal::CaptureStderr();
        EXPECT_FALSE(UserDefaults::standardUserDefaults().objectForKey("soundEnabled"));
        reopen(); // without a write: not reported again
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(reports(err), 1) << err;
        EXPECT_NE(err.find((dir / "defaults.json").string()), std::string::npos) << err;
        EXPECT_EQ(readText(dir / "defaults.json"), content) << "touched before a write";

        UserDefaults::standardUserDefaults().setBool(false, "soundEnabled");
        EXPECT_TRUE(UserDefaults::standardUserDefaults().synchronize());
        auto aside = setAsideFiles(dir);
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(readText(aside[0]), content);
        EXPECT_EQ(reopen().objectForKey("soundEnabled"), json(false));
    }

    // A directory in the file's place is moved aside with what it holds, not removed.
    UserDefaults::setDataDirectory(dir_.string());
    fs::create_directories(file() / "inside");
    testing::internal::CaptureStderr();
    UserDefaults::standardUserDefaults().setBool(true, "k");
    EXPECT_TRUE(UserDefaults::standardUserDefaults().synchronize());
    EXPECT_EQ(reports(testing::internal::GetCapturedStderr()), 1);
    auto aside = setAsideFiles(dir_);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_TRUE(fs::is_directory(aside[0] / "inside"));
    EXPECT_TRUE(reopen().boolForKey("k"));
}

// No directory can be made below a regular file, whoever runs the test.
TEST_F(UserDefaultsTest, FailedWriteIsReportedAndKeepsEveryValueUntilTheDiskTakesIt)
{
    writeText(root_ / "plainfile", "x");
    UserDefaults::setDataDirectory((root_ / "plainfile" / "config").string());
    UserDefaults::standardUserDefaults().setObject("Ann", "nameString");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(UserDefaults::standardUserDefaults().synchronize());
    UserDefaults::resetStandardUserDefaults(); // cannot write either, so it keeps the store
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(reports(err), 2) << err;
    EXPECT_NE(err.find("plainfile"), std::string::npos) << err;
    EXPECT_EQ(UserDefaults::standardUserDefaults().stringForKey("nameString"), "Ann");

    fs::remove(root_ / "plainfile");
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(reopen().stringForKey("nameString"), "Ann");
}

TEST(UserDefaultsLocation, FollowsTheEnvironment)
{
    auto saved = [](const char* name) { const char* v = std::getenv(name); return v ? std::optional<std::string>(v) : std::nullopt; };
    auto restore = [](const char* name, const std::optional<std::string>& v) { v ? ::setenv(name, v->c_str(), 1) : ::unsetenv(name); };
    auto xdg = saved("XDG_CONFIG_HOME"), home = saved("HOME");
    UserDefaults::setDataDirectory("");
    ::setenv("HOME", "/home/u", 1);
    const std::pair<const char*, const char*> cases[] = {
        {"/x/cfg", "/x/cfg/street-client"}, {nullptr, "/home/u/.config/street-client"},
        {"", "/home/u/.config/street-client"}, {"relative/cfg", "/home/u/.config/street-client"}};
    for (const auto& [value, expected] : cases) {
        restore("XDG_CONFIG_HOME", value ? std::optional<std::string>(value) : std::nullopt);
        EXPECT_EQ(UserDefaults::dataDirectory(), expected) << (value ? value : "(unset)");
    }
    UserDefaults::setDataDirectory("/somewhere/else");
    EXPECT_EQ(UserDefaults::dataDirectory(), "/somewhere/else");
    UserDefaults::setDataDirectory("");
    EXPECT_EQ(UserDefaults::dataDirectory(), "/home/u/.config/street-client");
    restore("XDG_CONFIG_HOME", xdg);
    restore("HOME", home);
}

} // namespace
