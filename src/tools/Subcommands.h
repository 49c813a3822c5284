#pragma once

#include <functional>
#include <optional>
#include <string>

namespace street::tools {

// The commands for the people who write the game's pages, whatever the backend:
//   street-client explain URL [--phase first-load|started] [--json]
//   street-client check-page FILE|URL [--server HOST[:PORT]] [--phase first-load|started] [--json]
//   street-client replay-check RECORDED.script RECORDED.jsonl [--tolerance S]
// The exit status when argv[1] names one of them; none otherwise.
// `chooseServer` puts the game server in force as the client would (given check-page's
// --server, if any) and answers 0, or an exit status after saying why it cannot; without it,
// only --server moves the game server.
using ServerChooser = std::function<int(const std::optional<std::string>& commandLine)>;
std::optional<int> runSubcommand(int argc, char** argv, const ServerChooser& chooseServer = {});

} // namespace street::tools
