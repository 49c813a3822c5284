#pragma once

#include "shell/Options.h"

namespace backend::headless {

// Runs the application with the headless backend; returns the exit status.
int run(const shell::Options& options, const shell::AppHooks& hooks);

} // namespace backend::headless
