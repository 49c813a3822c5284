#pragma once

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
    // Runs bwrap once as WebKit would need it (every namespace of its own): none when that
    // works, else what went wrong, in bwrap's words where it gave some.
    static std::optional<std::string> trialFailure();
};

} // namespace backend::gtk
