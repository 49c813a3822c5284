// The settings file as the client finds it at launch, whatever it holds: the store is opened
// afresh on the input, the client's settings are read from it, and one setting is written back
// (which must keep an unreadable file aside rather than overwrite it).
//
// Nesting depth is bounded by the input size (-max_len in fuzz/run.sh): files nested thousands
// deep are a known fault with a fix of its own.
#include "FuzzSupport.h"
#include "app/ConfigSettings.h"
#include "kit/UserDefaults.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>
#include <string>

namespace {

using fuzz::check;

struct Setup {
    std::string dir;

    Setup()
    {
        dir = fuzz::scratchDirectory("settings-");
    }
    ~Setup()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Setup setup;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(setup.dir, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    const std::string file = setup.dir + "/defaults.json";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    // Dropping the shared store makes the next use read the file again.
    kit::UserDefaults::setDataDirectory(setup.dir);
    auto& defaults = kit::UserDefaults::standardUserDefaults();
    bool sound = street::ConfigSettings::soundEnabled();
    (void)street::ConfigSettings::introAnimationEnabled();
    (void)defaults.stringForKey("nameString");
    (void)defaults.objectForKey("nameString");
    auto stored = defaults.objectForKey("soundEnabled");
    if (!stored)
        check(sound, "an absent setting reads YES");
    else if (stored->is_boolean())
        check(sound == stored->get<bool>(), "a stored YES or NO reads as stored");

    street::ConfigSettings::setSoundEnabled(!sound);
    check(street::ConfigSettings::soundEnabled() == !sound, "a written setting reads back");
    // A file the store could not use is kept aside as it was, never overwritten.
    std::string original(reinterpret_cast<const char*>(data), size);
    auto parsed = nlohmann::json::parse(original, nullptr, false);
    if (!parsed.is_object()) {
        bool kept = false;
        for (const auto& entry : std::filesystem::directory_iterator(setup.dir, ignored)) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            kept = kept || (entry.path() != file && text == original);
        }
        check(kept, "an unreadable settings file is kept aside");
    }
    return 0;
}
