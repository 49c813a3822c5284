#include "tools/ReplayCheck.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include <sys/wait.h>
#include <unistd.h>

namespace street::tools {

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: street-client replay-check RECORDED.script RECORDED.jsonl [--tolerance S]\n"
    "\n"
    "Plays a session written with --record by itself (headless, on the virtual clock, with the\n"
    "scripted engine) and compares what the client does with the transcript recorded beside it:\n"
    "the same events in the same order, each within S seconds (default 1) of its recorded time.\n"
    "Prints the first difference.\n"
    "\n"
    "Exit status: 0 when the replay agrees, 1 at a difference, 2 for a bad command line or files\n"
    "that cannot be read.\n";

// Only a window does these: a headless replay never will. Its real movie reports its own steps
// besides being prepared and played.
bool backendOnly(const nlohmann::json& line)
{
    std::string ev = line.value("ev", std::string());
    if (ev == "window")
        return true;
    if (ev == "movie") {
        std::string event = line.value("event", std::string());
        return event != "prepare" && event != "play";
    }
    return false;
}

std::optional<std::string> readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::vector<nlohmann::json>> readLines(const std::string& path, std::string& why)
{
    auto text = readText(path);
    if (!text) {
        why = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<nlohmann::json> lines;
    std::istringstream in(*text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty())
            continue;
        auto parsed = nlohmann::json::parse(line, nullptr, false);
        if (!parsed.is_object() || !parsed.contains("ev") || !parsed.contains("t") || !parsed["t"].is_number()) {
            why = path + " line " + std::to_string(number) + " is not a transcript line";
            return std::nullopt;
        }
        lines.push_back(std::move(parsed));
    }
    return lines;
}

// Where two values differ ("" when they agree), as a path into them.
std::string differs(const nlohmann::json& a, const nlohmann::json& b, const std::string& at)
{
    if (a.is_number() && b.is_number()) {
        double x = a.get<double>(), y = b.get<double>();
        bool whole = std::floor(x) == x && std::floor(y) == y;
        if (whole ? x == y : std::fabs(x - y) <= ReplayCheck::numberTolerance)
            return {};
        return at;
    }
    if (a.type() != b.type())
        return at;
    if (a.is_object()) {
        for (const auto& [key, value] : a.items()) {
            if (!b.contains(key))
                return at + "." + key;
            if (auto inner = differs(value, b[key], at + "." + key); !inner.empty())
                return inner;
        }
        for (const auto& [key, value] : b.items())
            if (!a.contains(key))
                return at + "." + key;
        return {};
    }
    if (a.is_array()) {
        if (a.size() != b.size())
            return at;
        for (size_t i = 0; i < a.size(); ++i)
            if (auto inner = differs(a[i], b[i], at + "[" + std::to_string(i) + "]"); !inner.empty())
                return inner;
        return {};
    }
    return a == b ? std::string() : at;
}

std::string trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return std::string(text);
}

// The replay, as its own process: it has the kit to itself, as a person's run would.
int replay(const std::string& script, const ReplayCheck::Header& header, const std::string& transcript, const std::string& dataDir)
{
    std::vector<std::string> arguments = {"street-client", "--headless", "--clock", "virtual", "--engine", "scripted",
                                          "--script", script, "--transcript", transcript, "--data-dir", dataDir};
    fs::path folder = fs::path(script).parent_path();
    for (size_t i = 0; i < header.options.size(); ++i) {
        const std::string& option = header.options[i];
        if (option == "--server" && i + 1 < header.options.size() && header.options[i + 1].empty()) {
            ++i;
            continue;
        }
        arguments.push_back(option);
        // The address book is beside the recording.
        if (option == "--contacts" && i + 1 < header.options.size()) {
            arguments.push_back((folder / header.options[++i]).string());
        }
    }
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string describe(const std::optional<nlohmann::json>& line)
{
    return line ? line->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) : std::string("(nothing)");
}

} // namespace

std::vector<nlohmann::json> ReplayCheck::comparable(const std::vector<nlohmann::json>& lines)
{
    std::vector<nlohmann::json> out;
    for (const auto& line : lines) {
        if (backendOnly(line))
            continue;
        std::string ev = line.value("ev", std::string());
        nlohmann::json kept = line;
        // How many frames a window drew while the post went out; what the window's widgets show.
        if (ev == "post")
            kept.erase("framesDrawn");
        if (ev == "state" && kept["state"].is_object())
            kept["state"].erase("window");
        out.push_back(std::move(kept));
    }
    return out;
}

std::optional<ReplayCheck::Difference> ReplayCheck::compare(const std::vector<nlohmann::json>& recorded,
                                                            const std::vector<nlohmann::json>& replayed, double tolerance)
{
    for (size_t i = 0; i < std::max(recorded.size(), replayed.size()); ++i) {
        Difference difference;
        difference.index = i;
        if (i >= recorded.size()) {
            difference.replayed = replayed[i];
            difference.what = "the replay did more";
            return difference;
        }
        if (i >= replayed.size()) {
            difference.recorded = recorded[i];
            difference.what = "the replay stopped short";
            return difference;
        }
        const auto& a = recorded[i];
        const auto& b = replayed[i];
        difference.recorded = a;
        difference.replayed = b;
        if (a.value("ev", std::string()) != b.value("ev", std::string())) {
            difference.what = "another event";
            return difference;
        }
        nlohmann::json fieldsA = a, fieldsB = b;
        fieldsA.erase("t");
        fieldsB.erase("t");
        if (auto at = differs(fieldsA, fieldsB, ""); !at.empty()) {
            difference.what = "the field " + at.substr(1);
            return difference;
        }
        // From each side's first event: a window takes a moment to come up before the client
        // launches, which a headless replay does not.
        double ta = a["t"].get<double>() - recorded.front()["t"].get<double>();
        double tb = b["t"].get<double>() - replayed.front()["t"].get<double>();
        if (std::fabs(ta - tb) > tolerance) {
            char text[96];
            std::snprintf(text, sizeof text, "the time: %.6f s apart (more than %.3f s)", std::fabs(ta - tb), tolerance);
            difference.what = text;
            return difference;
        }
    }
    return std::nullopt;
}

std::optional<ReplayCheck::Header> ReplayCheck::readHeader(const std::string& script)
{
    std::optional<Header> header;
    std::istringstream in(script);
    std::string line;
    bool haveOptions = false;
    while (std::getline(in, line)) {
        std::string text = trimmed(line);
        if (text.empty())
            continue;
        if (text.front() != '#')
            break;
        text = trimmed(std::string_view(text).substr(1));
        auto value = [&](std::string_view key) -> std::optional<std::string> {
            if (text.compare(0, key.size(), key) != 0)
                return std::nullopt;
            return trimmed(std::string_view(text).substr(key.size()));
        };
        if (auto options = value("replay-options:")) {
            auto parsed = nlohmann::json::parse(*options, nullptr, false);
            if (!parsed.is_array())
                return std::nullopt;
            if (!header)
                header.emplace();
            for (const auto& item : parsed) {
                if (!item.is_string())
                    return std::nullopt;
                header->options.push_back(item.get<std::string>());
            }
            haveOptions = true;
        } else if (auto settings = value("replay-settings:")) {
            auto parsed = nlohmann::json::parse(*settings, nullptr, false);
            if (!parsed.is_object())
                return std::nullopt;
            if (!header)
                header.emplace();
            header->settings = std::move(parsed);
        }
    }
    if (!haveOptions)
        return std::nullopt;
    return header;
}

int ReplayCheck::run(int argc, char** argv)
{
    std::vector<std::string> files;
    double tolerance = defaultTolerance;
    auto bad = [](const std::string& why) {
        std::fprintf(stderr, "street-client: %s\nTry 'street-client replay-check --help' for more information.\n", why.c_str());
        return 2;
    };
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--tolerance" || arg.rfind("--tolerance=", 0) == 0) {
            std::string value;
            if (arg == "--tolerance") {
                if (i + 1 >= argc)
                    return bad("--tolerance needs a number of seconds");
                value = argv[++i];
            } else {
                value = arg.substr(std::strlen("--tolerance="));
            }
            char* end = nullptr;
            tolerance = std::strtod(value.c_str(), &end);
            if (value.empty() || *end || !std::isfinite(tolerance) || tolerance < 0)
                return bad("--tolerance needs a number of seconds (0 or more), not '" + value + "'");
            continue;
        }
        if (arg.size() > 1 && arg.front() == '-')
            return bad("unknown option '" + arg + "'");
        files.push_back(arg);
    }
    if (files.size() != 2)
        return bad("replay-check needs the recorded script and the transcript recorded beside it");

    auto script = readText(files[0]);
    if (!script)
        return bad("cannot read the recording " + files[0] + ": " + std::strerror(errno));
    auto header = readHeader(*script);
    if (!header)
        return bad(files[0] + " is not a recorded session (its header has no replay-options line)");
    std::string why;
    auto recorded = readLines(files[1], why);
    if (!recorded)
        return bad(why);

    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "street-replay-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return bad("cannot make a folder for the replay: " + std::string(std::strerror(errno)));
    std::string folder = pattern;
    if (!header->settings.empty()) {
        std::ofstream defaults(folder + "/defaults.json", std::ios::binary);
        defaults << header->settings.dump(2) << "\n";
    }
    std::string transcript = folder + "/replay.jsonl";
    int status = replay(fs::absolute(files[0], error).string(), *header, transcript, folder);
    auto replayed = readLines(transcript, why);
    fs::remove_all(folder, error);
    if (status != 0 || !replayed) {
        std::fprintf(stderr, "street-client: the replay did not run to its end (exit status %d)\n", status);
        return 2;
    }

    auto difference = compare(comparable(*recorded), comparable(*replayed), tolerance);
    if (!difference) {
        std::printf("replay-check: no difference (%zu events)\n", comparable(*replayed).size());
        return 0;
    }
    std::printf("replay-check: first difference at event %zu: %s\n  recorded: %s\n  replayed: %s\n", difference->index + 1,
                difference->what.c_str(), describe(difference->recorded).c_str(), describe(difference->replayed).c_str());
    return 1;
}

} // namespace street::tools
