#pragma once

#include "shell/Options.h"
#include "shell/Script.h"
#include "shell/TranscriptWriter.h"

#include <memory>
#include <optional>

namespace shell {

// The steps of a run, in this order, that the headless run and the window share.

// Reads and checks the script the options name (none: nothing to do); false after printing why not.
bool loadScript(const Options& options, std::optional<Script::Parsed>& script);
// The transcript the options name (none: nothing written); false after printing why it cannot be
// written.
bool openTranscript(const Options& options, std::unique_ptr<TranscriptWriter>& transcript);
// The kit as the options say: a fresh run loop on that clock, resources, defaults, device identity,
// server, platform offers and audio route. The backend supplies the engines and the movie player.
void configureKit(const Options& options, const AppHooks& hooks, ClockKind clock);
// Loads the main interface file: the application launches.
void launch(const AppHooks& hooks);
// Saves the defaults and lets everything go, leaving the kit as a fresh process has it.
void finishKit();

} // namespace shell
