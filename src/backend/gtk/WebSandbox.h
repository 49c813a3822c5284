#pragma once

#include <glib.h>

#include <optional>
#include <string>

namespace backend::gtk {

// WebKit's sandbox for the web process: bubblewrap (bwrap) puts each page's process in
// namespaces of its own, with a seccomp filter and no new privileges, where the player's files
// are out of sight. The window shows no page without it, unless the player turns it off with
// WebKit's own variable, WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1.
class WebSandbox {
public:
    static constexpr const char* optOutVariable = "WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS";
    // The program WebKit starts the sandbox with.
    static constexpr const char* bubblewrap = "/usr/bin/bwrap";

    // The player has turned the sandbox off.
    static bool optedOut();
    // A run of bwrap as WebKit would need it (every namespace of its own), started at once and
    // waited for when its outcome is asked.
    class Trial {
    public:
        Trial();
        ~Trial();
        Trial(const Trial&) = delete;
        Trial& operator=(const Trial&) = delete;
        // Waits for the run to end: none when it worked, else what went wrong, in bwrap's words
        // where it gave some.
        std::optional<std::string> failure();

    private:
        GPid pid_ = 0;
        int errors_ = -1;
        std::optional<std::optional<std::string>> outcome_;
    };
};

} // namespace backend::gtk
