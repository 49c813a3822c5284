// The two persisted switches over the real defaults file: YES until written, on disk when the
// setter returns, and whatever is stored read the way the defaults read a Boolean.

#include "app/ConfigSettings.h"
#include "kit/UserDefaults.h"
#include "support/Scenario.h"

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

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
    void SetUp() override { UserDefaults::setDataDirectory(dir_.path()); }
    void TearDown() override { UserDefaults::setDataDirectory(""); }

    std::string file() const { return dir_.path() + "/defaults.json"; }
    json onDisk() const { return json::parse(scenario::readFile(file()), nullptr, false); }
    // A file written by someone else; the next read picks it up afresh.
    void store(const json& object)
    {
        UserDefaults::resetStandardUserDefaults();
        scenario::writeFile(file(), object.dump());
    }

    scenario::TempDir dir_{"street-settings"};
};

TEST_F(ConfigSettingsTest, YesUntilWrittenAndEveryWriteIsOnDiskAtOnce)
{
    for (const auto& s : kSettings)
        EXPECT_TRUE(s.read()) << s.key;
    UserDefaults::resetStandardUserDefaults();
    EXPECT_FALSE(std::filesystem::exists(file())) << "reading wrote the file";

    store({{"nameString", "Ann"}});
    for (const auto& s : kSettings) {
        s.write(false);
        EXPECT_EQ(onDisk().value(s.key, json()), false) << s.key; // no further flush needed
        UserDefaults::resetStandardUserDefaults();
        EXPECT_FALSE(s.read()) << s.key;
    }
    ConfigSettings::setSoundEnabled(true);
    EXPECT_TRUE(ConfigSettings::soundEnabled());
    // Each setter touches only its own entry.
    EXPECT_EQ(onDisk(), json({{"nameString", "Ann"}, {"soundEnabled", true}, {"introAnimationEnabled", false}}));
}

TEST_F(ConfigSettingsTest, OnlyAnAbsentEntryReadsYes)
{
    const std::pair<json, bool> cases[] = {
        {true, true}, {false, false}, {1, true}, {0, false}, {0.0, false}, {2.5, true}, {"YES", true},
        {"NO", false}, {"", false}, {nullptr, false}, {json::array({true}), false}, {json::object(), false},
    };
    for (const auto& s : kSettings)
        for (const auto& [stored, expected] : cases) {
            store({{s.key, stored}});
            EXPECT_EQ(s.read(), expected) << s.key << " = " << stored.dump();
        }
}

} // namespace
