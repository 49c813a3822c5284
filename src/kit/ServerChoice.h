#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

// Which game server the client talks to. The first of these that names one wins: the command
// line, the environment (STREET_SERVER), the player's configuration file (server= in
// client.ini), the one compiled into the build. Each takes the forms --server takes.
class ServerChoice {
public:
    enum class Source { CommandLine, Environment, File, CompiledIn };
    static constexpr const char* environmentVariable = "STREET_SERVER";
    static constexpr const char* fileName = "client.ini";
    // A configuration file is a handful of lines; anything larger is not one.
    static constexpr std::size_t maxFileSize = 64 * 1024;

    struct Inputs {
        std::optional<std::string> commandLine;  // --server, already checked
        std::optional<std::string> environment;  // STREET_SERVER's value; empty names none
        std::string configFile;                  // read only when the two above name none
        std::string compiledIn;                  // never empty
    };
    struct Outcome {
        std::string server;              // the server in force (empty when `error` is set)
        Source source = Source::CompiledIn;
        std::vector<std::string> warnings;  // one line each: unknown keys in the file
        std::string error;               // one line: a bad value and where it came from
        int exitCode = 0;                // with `error`: 2 for the player's own settings, 1 for the build's
    };

    // The player's configuration file: client.ini in the configuration directory
    // ($XDG_CONFIG_HOME/street-client, else ~/.config/street-client).
    static std::string configFilePath();
    // `Inputs` as this process has them: the environment and the player's file.
    static Inputs fromProcess(std::optional<std::string> commandLine, std::string compiledIn);
    static Outcome resolve(const Inputs& inputs);

    // What a configuration file's text says: its last server= value (none when it names none),
    // warnings for keys it does not know, or an error naming `path` and the line.
    struct FileSettings {
        std::optional<std::string> server;
        std::vector<std::string> warnings;
        std::string error;
    };
    static FileSettings parseFile(std::string_view text, const std::string& path);
};

} // namespace kit
