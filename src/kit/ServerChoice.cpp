#include "kit/ServerChoice.h"

#include "kit/AtomicFile.h"
#include "kit/URL.h"
#include "kit/UserDefaults.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kit {

namespace {

constexpr const char* kForms = "HOST[:PORT], http://HOST[:PORT] or https://HOST[:PORT]";

// A value as a message shows it: control bytes escaped, so a stray one cannot garble the
// terminal, and a long one cut short.
std::string shown(std::string_view text)
{
    std::string out;
    for (unsigned char c : text.substr(0, 200)) {
        if (c < 0x20 || c == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > 200)
        out += "...";
    return "'" + out + "'";
}

std::string_view trimmed(std::string_view text)
{
    auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace

std::string ServerChoice::configFilePath()
{
    return UserDefaults::configDirectory() + "/" + fileName;
}

ServerChoice::Inputs ServerChoice::fromProcess(std::optional<std::string> commandLine, std::string compiledIn)
{
    Inputs inputs;
    inputs.commandLine = std::move(commandLine);
    if (const char* value = std::getenv(environmentVariable))
        inputs.environment = value;
    inputs.configFile = configFilePath();
    inputs.compiledIn = std::move(compiledIn);
    return inputs;
}

ServerChoice::FileSettings ServerChoice::parseFile(std::string_view text, const std::string& path)
{
    FileSettings settings;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    for (int number = 1; !text.empty(); ++number) {
        auto end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        std::string where = path + " line " + std::to_string(number) + ": ";
        auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            settings.error = where + "not a KEY=VALUE line: " + shown(line);
            return settings;
        }
        auto key = trimmed(line.substr(0, equals));
        auto value = trimmed(line.substr(equals + 1));
        if (key != "server") {
            settings.warnings.push_back(where + "unknown key " + shown(key) + ", ignored");
        } else if (value.empty()) {
            settings.server.reset();
        } else if (!URL::serverAddress(value)) {
            settings.error = where + "server takes " + kForms + ", not " + shown(value);
            return settings;
        } else {
            settings.server = std::string(value);
        }
    }
    return settings;
}

ServerChoice::Outcome ServerChoice::resolve(const Inputs& inputs)
{
    Outcome outcome;
    auto fail = [&outcome](std::string message, int status) {
        outcome.server.clear();
        outcome.error = std::move(message);
        outcome.exitCode = status;
        return outcome;
    };
    // The build's own value is checked whatever overrides it: a broken build says so at once.
    if (!URL::serverAddress(inputs.compiledIn))
        return fail("the game server this build was made with (STREET_GAME_SERVER) is not " + std::string(kForms) + ": "
                        + shown(inputs.compiledIn),
                    1);
    if (inputs.commandLine) {
        outcome.server = *inputs.commandLine;
        outcome.source = Source::CommandLine;
        return outcome;
    }
    if (inputs.environment && !inputs.environment->empty()) {
        if (!URL::serverAddress(*inputs.environment))
            return fail(std::string(environmentVariable) + " takes " + kForms + ", not " + shown(*inputs.environment), 2);
        outcome.server = *inputs.environment;
        outcome.source = Source::Environment;
        return outcome;
    }
    // Never block on what sits at the path: a FIFO or a device is no configuration file.
    int readError = 0;
    auto text = AtomicFile::read(inputs.configFile, maxFileSize, readError);
    if (readError && readError != ENOENT && readError != ENOTDIR) {
        std::string problem = readError == EINVAL  ? "is not a regular file"
                            : readError == EFBIG   ? "is larger than " + std::to_string(maxFileSize) + " bytes"
                                                   : std::string("cannot be read (") + std::strerror(readError) + ")";
        return fail(inputs.configFile + " " + problem, 2);
    }
    if (text) {
        auto settings = parseFile(*text, inputs.configFile);
        if (!settings.error.empty())
            return fail(settings.error, 2);
        outcome.warnings = std::move(settings.warnings);
        if (settings.server) {
            outcome.server = *settings.server;
            outcome.source = Source::File;
            return outcome;
        }
    }
    outcome.server = inputs.compiledIn;
    outcome.source = Source::CompiledIn;
    return outcome;
}

} // namespace kit
