#pragma once

#include "shell/Options.h"
#include "shell/Script.h"
#include "shell/TranscriptWriter.h"
#include "kit/Platform.h"
#include "kit/RunLoop.h"

#include <memory>
#include <optional>

namespace shell {

// The steps of a run, in this order, that the headless run and the window share.

// Reads and checks the script the options name (none: nothing to do); false after printing why not.
bool loadScript(const Options& options, std::optional<Script::Parsed>& script);
// The transcript the options name (none: nothing written); false after printing why it cannot be
// written.
bool openTranscript(const Options& options, std::unique_ptr<TranscriptWriter>& transcript);
// The run loop's clock the options ask for.
kit::RunLoop::Clock runLoopClock(ClockKind clock);
// The kit as the options say, within the backend's platform session (its engines, movie player
// and services): resources, defaults, device identity, server, platform offers and audio route.
// `fetchesPages`: the run's pages come from the server (not from the script), so a demo server
// may stand in for the built-in demo address (AppHooks::demoServer).
void configureKit(const Options& options, const AppHooks& hooks, bool fetchesPages = false);
// Loads the main interface file: the application launches. False when the main interface file
// could not be loaded (said on stderr): there is no application to run.
bool launch(const AppHooks& hooks);
// Saves the defaults and ends the session: everything goes, leaving the kit as a fresh process
// has it.
void finishKit(kit::PlatformSession& session);

} // namespace shell
