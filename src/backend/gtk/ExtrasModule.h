#pragma once

#include "backend/gtk/SoundDecoder.h"
#include "kit/AddressBook.h"

#include <optional>
#include <string>
#include <vector>

namespace backend::gtk {

// A heavy part of the window in a module of its own (see WebModule): FFmpeg (the sounds) and
// the desktop's address books, loaded when first used.
struct ExtrasModule {
    std::optional<DecodedSound> (*decodeSound)(const std::string& path);
    std::optional<std::vector<kit::ABPerson>> (*readAddressBooks)();

    static const ExtrasModule* get(std::string* why = nullptr);
    // Without loading it.
    static bool loaded();
    static constexpr const char* fileName = "street-desktop-extras.so";
};

} // namespace backend::gtk
