#include "app/ConfigSettings.h"

#include "kit/UserDefaults.h"

#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using kit::UserDefaults;
using nlohmann::json;
using street::ConfigSettings;

namespace {

struct Setting {
    const char* key;
    std::function<bool()> read;
    std::function<void(bool)> write;
};

const Setting kSettings[] = {
    {"soundEnabled", ConfigSettings::soundEnabled, ConfigSettings::setSoundEnabled},
    {"introAnimationEnabled", ConfigSettings::introAnimationEnabled, ConfigSettings::setIntroAnimationEnabled},
};

class ConfigSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "street-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        UserDefaults::setDataDirectory(dir_.string());
    }

    void TearDown() override
    {
        UserDefaults::setDataDirectory("");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    json fileContents() const
    {
        std::ifstream in(dir_ / "defaults.json");
        return json::parse(in, nullptr, false);
    }

    void storeRaw(const json& object)
    {
        // The next read picks the file up afresh.
        UserDefaults::resetStandardUserDefaults();
        std::ofstream(dir_ / "defaults.json") << object.dump();
    }

    fs::path dir_;
};

TEST_F(ConfigSettingsTest, FreshInstallationReadsYesAndWritesNothing)
{
    for (const auto& s : kSettings)
        EXPECT_TRUE(s.read()) << s.key;
    UserDefaults::resetStandardUserDefaults();
    EXPECT_FALSE(fs::exists(dir_ / "defaults.json"));
}

TEST_F(ConfigSettingsTest, WrittenValueIsOnDiskWhenTheSetterReturns)
{
    for (const auto& s : kSettings) {
        SCOPED_TRACE(s.key);
        s.write(false);
        EXPECT_FALSE(s.read());
        // Straight from the file, without any further flush.
        EXPECT_EQ(fileContents().value(s.key, json()), json(false));
        UserDefaults::resetStandardUserDefaults();
        EXPECT_FALSE(s.read());

        s.write(true);
        EXPECT_EQ(fileContents().value(s.key, json()), json(true));
        EXPECT_TRUE(s.read());
    }
    // Each setter touches only its own entry.
    EXPECT_EQ(fileContents(), json({{"soundEnabled", true}, {"introAnimationEnabled", true}}));
}

TEST_F(ConfigSettingsTest, StoredValuesOfEveryKind)
{
    struct Case {
        json stored;
        bool expected;
    };
    const Case cases[] = {
        {true, true},
        {false, false},
        {1, true},
        {0, false},
        {0.0, false},
        {2.5, true},
        // Not a Boolean reading at all: treated like no entry.
        {"NO", true},
        {"", true},
        {nullptr, true},
        {json::array({false}), true},
        {json::object(), true},
    };
    for (const auto& s : kSettings) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(s.key) + " = " + c.stored.dump());
            storeRaw({{s.key, c.stored}});
            EXPECT_EQ(s.read(), c.expected);
        }
    }
}

TEST_F(ConfigSettingsTest, OtherEntriesSurviveASetter)
{
    storeRaw({{"nameString", "Ann"}, {"soundEnabled", "garbage"}});
    ConfigSettings::setSoundEnabled(false);
    EXPECT_EQ(fileContents(), json({{"nameString", "Ann"}, {"soundEnabled", false}}));
}

}
