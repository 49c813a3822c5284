#pragma once

#include "shell/Options.h"

namespace backend::gtk {

// Runs the application in a desktop window (GTK + WebKitGTK) on the real clock; returns the exit
// status: 0 when the window was closed or the script ran to its end, 1 without a display or the
// web sandbox, 2 for
// a script or transcript that cannot be used.
int run(const shell::Options& options, const shell::AppHooks& hooks);

} // namespace backend::gtk

// The entry of the desktop module, which the program loads when it opens a window: run() above.
extern "C" int street_desktop_run(const shell::Options* options, const shell::AppHooks* hooks);
