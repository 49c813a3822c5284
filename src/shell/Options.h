#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

// What every way of running the client shares: the command line, the application's hooks, the
// scenario scripts and their transcripts, and the kit's set-up and tear-down around a run.
namespace shell {

enum class Engine { Scripted, Http };
enum class ClockKind { Virtual, Real };

// The command line (see the README / scenario docs for the meaning of each flag).
struct Options {
    bool headless = false;
    std::optional<std::string> script;      // "-" = standard input
    std::optional<std::string> transcript;  // "-" = standard output
    std::optional<std::string> server;      // [http://|https://]HOST[:PORT]
    std::vector<std::string> trustedHosts;  // [http://|https://]HOST[:PORT], each --trusted-host
    std::optional<std::string> caFile;      // further certificate authorities (PEM)
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
    bool movieScripted = false;             // --movie-scripted: headless, only the script moves the movie on
    std::optional<std::string> record;      // --record FILE: the session as a scenario script
    bool recordPrivate = false;             // --record-private: keep the texts typed and the contacts
    // The desktop window only.
    std::optional<int> scale;               // default: the largest that fits the monitor
    double loadTimeout = 60.0;              // seconds before a silent server fails a load
    bool recordOpenURLs = false;            // --open-urls record: never launch a browser
};

struct ParseResult {
    std::optional<Options> options;  // none: exit with exitCode after printing message
    int exitCode = 0;
    std::string message;             // usage/version text (stdout, exit 0) or error (stderr, exit 2)
};

// `desktop`: this build also has the desktop window, which runs when --headless is not given.
ParseResult parseCommandLine(int argc, char** argv, bool desktop = false);

// What the runner needs from the application, which it does not otherwise know.
struct AppHooks {
    std::string mainInterface = "MainWindow";
    std::string defaultResourceDirectory;
    std::function<void()> registerClasses;             // application classes for interface files
    std::function<void(const std::string&)> setServer; // the server in force (--server, or what stands in for it)
    // When the server in force is the built-in demo address: the address of a demo server
    // started for this run when nothing answers there, else none. Asked only of runs that
    // fetch their pages.
    std::function<std::optional<std::string>()> demoServer;
    std::function<void(const std::vector<std::string>&)> setTrustedHosts; // every --trusted-host
    std::function<nlohmann::json()> snapshot;          // the `state` object
};

} // namespace shell
