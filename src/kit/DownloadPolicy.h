#pragma once

#include "kit/Application.h"

#include <string_view>

namespace kit {

// The client saves no file a page or a server offers. A response that asks to be saved, or that
// the web view cannot show, is refused before anything is written, and its load fails with this
// error, so the page delegate handles it as any other failed load ("Unknown Error").
class DownloadPolicy {
public:
    // The code WebKit's "frame load interrupted" has in the window, where such loads always
    // ended that way; the description says what happened.
    static constexpr int refusedCode = -3102;
    static Error refused();

    // A Content-Disposition header's value asks for the body to be saved: its type is
    // "attachment", or one a recipient must treat so (anything but "inline").
    static bool asksToSave(std::string_view contentDisposition);
};

} // namespace kit
