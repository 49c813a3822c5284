#pragma once

// Small helpers for scenario tests that read a transcript as a timeline: runs with a fixed
// device identity, a data directory with the intro switched off, and look-ups of the `state`
// line written at a given virtual time.

#include "support/Scenario.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace timeline {

using nlohmann::json;

inline const std::string kBase = "http://127.0.0.1:8642/";

// Transcript times are whole microseconds written as seconds.
inline bool sameTime(double a, double b) { return std::fabs(a - b) < 5e-7; }

// A data directory that already holds stored settings (the intro off, for instance).
class DataDir {
public:
    explicit DataDir(bool introAnimationEnabled)
    {
        json defaults = {{"introAnimationEnabled", introAnimationEnabled}};
        scenario::writeFile(dir_.path() + "/defaults.json", defaults.dump());
    }
    const std::string& path() const { return dir_.path(); }

private:
    scenario::TempDir dir_{"street-timeline"};
};

enum class Intro { On, Off };

// Runs the client with a fixed identity; the intro's setting is stored before launch.
inline scenario::Transcript run(const std::string& script, Intro intro = Intro::On, std::vector<std::string> extraArgs = {})
{
    std::vector<std::string> args{"--udid", "TIMELINE-UDID", "--model", "iPhone", "--system-version", "2.2"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    DataDir data(intro == Intro::On);
    scenario::ScenarioOptions options;
    options.dataDir = data.path();
    scenario::Transcript transcript = scenario::runScenario(script, args, options);
    EXPECT_EQ(transcript.exitCode, 0) << transcript.stderrText << transcript.dump();
    EXPECT_TRUE(transcript.malformedLines.empty()) << transcript.dump();
    return transcript;
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

// Events of one kind up to and including time `t`.
inline std::vector<json> eventsUntil(const scenario::Transcript& transcript, const std::string& ev, double t)
{
    std::vector<json> out;
    for (const auto& line : transcript.events(ev))
        if (line.value("t", -1.0) <= t + 5e-7)
            out.push_back(line);
    return out;
}

// Titles of the alerts shown (the `alert` events), in order.
inline std::vector<std::string> alertTitles(const scenario::Transcript& transcript)
{
    std::vector<std::string> titles;
    for (const auto& line : transcript.events("alert"))
        titles.push_back(line.value("title", ""));
    return titles;
}

// Alpha of a layer as the state reports it (rounded to 3 decimals).
inline double alphaOf(const json& state, const std::string& layer)
{
    return state.at("backgrounds").at(layer).at("alpha").get<double>();
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
