#pragma once

// Small helpers for scenario tests that read a transcript as a timeline: runs with a fixed
// device identity and stored settings, checks of the `state` line written at a given virtual
// time, and the fields of events.

#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace timeline {

using nlohmann::json;

inline const std::string kBase = "http://127.0.0.1:8642/";

// Transcript times are whole microseconds written as seconds.
inline bool sameTime(double a, double b) { return std::fabs(a - b) < 5e-7; }

enum class Intro { On, Off };

inline const std::vector<std::string> kDeviceArgs{"--udid", "TIMELINE-UDID", "--model", "iPhone", "--system-version", "2.2"};

// Runs the client with a fixed identity in this data directory (a fresh one when not given).
inline scenario::Transcript runIn(const std::string& script, std::optional<std::string> dataDir, std::vector<std::string> extraArgs = {})
{
    std::vector<std::string> args = kDeviceArgs;
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    scenario::ScenarioOptions options;
    options.dataDir = std::move(dataDir);
    scenario::Transcript transcript = scenario::runScenario(script, args, options);
    EXPECT_EQ(transcript.exitCode, 0) << transcript.stderrText << transcript.dump();
    EXPECT_TRUE(transcript.malformedLines.empty()) << transcript.dump();
    return transcript;
}

// Runs the client with these settings stored before launch (an empty object: a fresh installation).
inline scenario::Transcript runWith(const json& defaults, const std::string& script, std::vector<std::string> extraArgs = {})
{
    scenario::TempDir data("street-timeline");
    if (!defaults.empty())
        scenario::writeFile(data.path() + "/defaults.json", defaults.dump());
    return runIn(script, data.path(), std::move(extraArgs));
}

// Runs the client with a fixed identity; the intro's setting is stored before launch.
inline scenario::Transcript run(const std::string& script, Intro intro = Intro::On, std::vector<std::string> extraArgs = {})
{
    return runWith({{"introAnimationEnabled", intro == Intro::On}}, script, std::move(extraArgs));
}

// A page request that only carries commands: the bridge runs them and refuses the load.
inline std::string command(const std::string& query) { return "navigate " + kBase + "cmd.php?stopLoad=true&" + query + "\n"; }

// Checks several values of a state at once: `expected` maps JSON pointers ("/page/firstLoad")
// to their values; a failure shows every checked value next to the expected ones.
inline void expectState(const json& state, const json& expected, const std::string& where = "")
{
    if (!state.is_object())
        return; // already reported by whoever looked the state up
    json actual = json::object();
    for (const auto& [pointer, value] : expected.items())
        actual[pointer] = state.value(json::json_pointer(pointer), json("(absent)"));
    EXPECT_EQ(actual, expected) << where;
}

// The values of one field of every event of that kind, in order.
inline std::vector<json> fieldOf(const scenario::Transcript& transcript, const std::string& ev, const std::string& field)
{
    std::vector<json> out;
    for (const auto& line : transcript.events(ev))
        out.push_back(line.value(field, json()));
    return out;
}

// The state written by the last `state` line at time `t`; a null json (and a test failure)
// when the script wrote none then.
inline json stateAt(const scenario::Transcript& transcript, double t)
{
    const json* found = nullptr;
    for (const auto& line : transcript.lines)
        if (line.value("ev", "") == "state" && sameTime(line.value("t", -1.0), t))
            found = &line;
    if (!found) {
        ADD_FAILURE() << "no state line at t=" << t << "\n" << transcript.dump();
        return json();
    }
    return found->at("state");
}

// The state written at time `t` (see stateAt) holds these values (see expectState).
inline void expectAt(const scenario::Transcript& transcript, double t, const json& expected)
{
    expectState(stateAt(transcript, t), expected, "at t=" + std::to_string(t));
}

inline json frame(double x, double y, double w, double h) { return json::array({x, y, w, h}); }

inline const std::string kNoConnectionTitle = "Unable to Reach Internet";
inline const std::string kNoConnectionMessage = "You must have access to the Internet in order to use this application.";
inline std::string unknownErrorMessage(const std::string& description)
{
    return "Unknown error occurred (" + description + ").  Please close the application and try again.";
}

// Launch with the intro off, finish the entry request at 0.5 s: the first page is revealed at
// 2.4 s and fully faded in at 3.0 s, where this prefix leaves the clock.
inline const std::string kFirstPageShownIntroOff = "wait 0.5\nfinish\nwait 2.5\n";

} // namespace timeline
