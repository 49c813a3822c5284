#pragma once

#include "app/DecisionObserver.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kit {
class TabBar;
}

namespace street {

class WebViewDelegate;

// What the client does with one URL, for the people who write the game's pages: recorded while
// the page delegate decides (as its observer), completed from its state afterwards, plus the
// near-misses in the URL that make a command silently do nothing.
class Explanation : public DecisionObserver {
public:
    enum class Phase { FirstLoad, Started };

    struct Found {
        std::string keyWord;
        bool valueRead = false;
        std::optional<std::string> value;  // none: it does not decode
        std::string effect;
    };

    struct Warning {
        std::string kind;  // "case", "edit", "inside", "boolean", "decode", "plus", "two-equals", "after-hash", "index-php"
        std::string text;
    };
    struct Button {
        std::string label;
        std::optional<std::string> script;  // what a press runs; none: nothing (from a fresh start)
    };
    struct Alert {
        std::optional<std::string> title;
        std::optional<std::string> message;
        std::vector<Button> buttons;
    };
    struct Row {
        int number = 0;
        std::string page;  // empty: the row of every other page
        std::string effect;
    };
    struct After {
        std::optional<std::string> background;  // the picture put behind the page when it has loaded
        std::string tabBar;                     // "shown", "hidden" or "shown with the first page"
        std::optional<size_t> selectedTab;
        std::vector<std::optional<std::string>> badges;
    };

    Explanation(std::string url, Phase phase);

    // DecisionObserver
    void command(const Command& command) override;
    void alertShown(const kit::AlertView& alert) override;
    void pageRow(int number, std::string_view page, const std::string& effect) override;
    void decided(bool allow, const std::string& why) override;

    // Completes the record from the delegate that has just decided: the scripts each alert button
    // will run, the background and tab bar that follow, and the near-misses.
    void finish(const WebViewDelegate& delegate, const kit::TabBar& tabBar);

    // The near-misses in a URL: key words almost written, values the client cannot read.
    static std::vector<Warning> nearMisses(std::string_view url);

    const std::string& url() const { return url_; }
    Phase phase() const { return phase_; }
    bool allowed() const { return allow_; }
    const std::string& why() const { return why_; }
    const std::vector<Found>& commands() const { return commands_; }
    const std::vector<Alert>& alerts() const { return alerts_; }
    const std::optional<Row>& row() const { return row_; }
    const std::optional<After>& after() const { return after_; }
    const std::vector<Warning>& warnings() const { return warnings_; }

    // Plain words, one item a line, each line indented by `indent`.
    std::string text(std::string_view indent = "") const;
    nlohmann::json json() const;

private:
    std::string url_;
    Phase phase_;
    bool allow_ = true;
    std::string why_;
    std::vector<Found> commands_;
    std::vector<Alert> alerts_;
    std::optional<Row> row_;
    std::optional<After> after_;
    std::vector<Warning> warnings_;
};

} // namespace street
