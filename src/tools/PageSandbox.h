#pragma once

#include "app/Explanation.h"

#include <optional>
#include <string>

namespace street::tools {

// A page delegate on its own, for explaining URLs: no window, no network, a virtual clock that
// never moves, push registration and the icon badge offered but going nowhere, outside links
// opened nowhere, and settings written to a throwaway directory that is removed afterwards.
// Each URL meets a fresh delegate, as a fresh process would.
class PageSandbox {
public:
    PageSandbox();
    ~PageSandbox();
    PageSandbox(const PageSandbox&) = delete;
    PageSandbox& operator=(const PageSandbox&) = delete;

    // False when the throwaway directory could not be made (nothing is explained then).
    bool ready() const { return !dataDir_.empty(); }

    // The URL as a page at `startingDocument` loads it (a link, a frame, a script); by default a
    // page of the game server.
    Explanation explain(const std::string& url, Explanation::Phase phase,
                        const std::optional<std::string>& startingDocument = std::nullopt);

private:
    std::string dataDir_;
    std::string previousDataDir_;
};

} // namespace street::tools
