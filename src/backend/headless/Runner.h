#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace backend::headless {

enum class Engine { Scripted, Http };
enum class ClockKind { Virtual, Real };

// The command line (see the README / scenario docs for the meaning of each flag).
struct Options {
    bool headless = false;
    std::optional<std::string> script;      // "-" = standard input
    std::optional<std::string> transcript;  // "-" = standard output
    std::optional<std::string> server;      // HOST[:PORT]
    std::vector<std::string> trustedHosts;  // HOST[:PORT], each --trusted-host
    std::optional<Engine> engine;           // default: scripted with the virtual clock, http with the real one
    std::optional<ClockKind> clock;         // default: virtual with a script, real without
    std::optional<std::string> dataDir;
    std::optional<std::string> resources;
    std::optional<std::string> contacts;
    std::optional<std::string> udid;
    std::optional<std::string> model;
    std::optional<std::string> systemVersion;
    std::optional<std::string> audioRoute;  // "none" or "" = silent; default "Speaker"
    bool push = true;
    bool iconBadge = true;
    double movieSeconds = 3.0;
};

struct ParseResult {
    std::optional<Options> options;  // none: exit with exitCode after printing message
    int exitCode = 0;
    std::string message;             // usage/version text (stdout, exit 0) or error (stderr, exit 2)
};

ParseResult parseCommandLine(int argc, char** argv);

// What the runner needs from the application, which it does not otherwise know.
struct AppHooks {
    std::string mainInterface = "MainWindow";
    std::string defaultResourceDirectory;
    std::function<void()> registerClasses;             // application classes for interface files
    std::function<void(const std::string&)> setServer; // HOST[:PORT] from --server
    std::function<void(const std::vector<std::string>&)> setTrustedHosts; // every --trusted-host
    std::function<nlohmann::json()> snapshot;          // the `state` object
};

// Runs the application with the headless backend; returns the exit status.
int run(const Options& options, const AppHooks& hooks);

} // namespace backend::headless
