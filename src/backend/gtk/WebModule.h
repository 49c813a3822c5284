#pragma once

#include "backend/gtk/PageEngine.h"

#include <memory>
#include <optional>
#include <string>

namespace backend::gtk {

// The window's heavy parts live in modules of their own, beside the window's module, so that the
// window maps without the hundred-odd libraries they bring (see also ExtrasModule). Where their
// code is linked into the program itself (tests), that is used instead.

// WebKit: loaded once the window is on screen.
struct WebModule {
    std::unique_ptr<PageEngineMaker> (*makePages)(const PageSettings& settings);

    // Loads it the first time; none (with `why`, then and later) when it cannot be.
    static const WebModule* get(std::string* why = nullptr);
    static constexpr const char* fileName = "street-desktop-web.so";
};

} // namespace backend::gtk
