#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace street::tools {

// Plays a recorded session again and compares what the client did with what it did then.
class ReplayCheck {
public:
    // How far apart the same event's times may be: the recording's real clock runs late by
    // however long the machine took to get round to each thing, and a window's web engine
    // takes its time to start a page's load (its first most of all).
    static constexpr double defaultTolerance = 1.0;
    // Numbers with a fraction (an alpha value in mid-fade, say) may differ by this much.
    static constexpr double numberTolerance = 0.05;

    // The events that count: what only a backend does (the window's own) is left out, and so
    // are fields only a window adds.
    static std::vector<nlohmann::json> comparable(const std::vector<nlohmann::json>& lines);

    struct Difference {
        size_t index = 0;                        // 0-based, among the comparable events
        std::optional<nlohmann::json> recorded;  // none: the replay did more
        std::optional<nlohmann::json> replayed;  // none: the replay stopped short
        std::string what;                        // which part differs
    };
    // The first difference between two lists of comparable events, in order; none when they agree.
    // Times count from each list's first event.
    static std::optional<Difference> compare(const std::vector<nlohmann::json>& recorded,
                                             const std::vector<nlohmann::json>& replayed,
                                             double tolerance = defaultTolerance);

    // What a recording's header says to replay it with: the command-line options and the
    // settings at start. None when the text is no recording.
    struct Header {
        std::vector<std::string> options;
        nlohmann::json settings = nlohmann::json::object();
    };
    static std::optional<Header> readHeader(const std::string& script);

    // street-client replay-check RECORDED.script RECORDED.jsonl [--tolerance S]
    static int run(int argc, char** argv);
};

} // namespace street::tools
