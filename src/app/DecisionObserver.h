#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kit {
class AlertView;
}

namespace street {

// Hears the page delegate decide on a load, step by step, while it decides. Whatever explains a
// URL to a person listens here, so the explanation cannot drift from what the client does.
// Every method is a no-op by default.
class DecisionObserver {
public:
    struct Command {
        std::string_view keyWord;
        // False for a command that is a bare key word ("invokeVibrate=true").
        bool valueRead = false;
        // The value as read: decoded once; none when it does not decode.
        std::optional<std::string> value;
        // What the client does about it, in plain words.
        std::string effect;
    };

    virtual ~DecisionObserver() = default;

    // A command found in the URL, in the order the delegate runs it.
    virtual void command(const Command&) {}
    // A page alert is shown (its buttons run the scripts in force when they are pressed).
    virtual void alertShown(const kit::AlertView&) {}
    // The page-table row that applies; `page` is empty for the row of every other page.
    virtual void pageRow(int /*number*/, std::string_view /*page*/, const std::string& /*effect*/) {}
    // The answer, and why.
    virtual void decided(bool /*allow*/, const std::string& /*why*/) {}
};

} // namespace street
