#pragma once

#include <optional>

namespace street::tools {

// The commands for the people who write the game's pages, whatever the backend:
//   street-client explain URL [--phase first-load|started] [--json]
//   street-client check-page FILE|URL [--server HOST[:PORT]] [--phase first-load|started] [--json]
// The exit status when argv[1] names one of them; none otherwise.
std::optional<int> runSubcommand(int argc, char** argv);

} // namespace street::tools
