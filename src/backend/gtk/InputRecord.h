#pragma once

#include <memory>
#include <optional>
#include <string>

namespace shell {
class Recorder;
}

namespace backend::gtk {

// The player's input as it reaches the window's widgets, written to the session's recording
// as the script line that plays it again. Each input is written once, by the outermost path it
// takes: a script line (whose player writes it) or a click or key, not again by the widgets it
// sets off on its way (a key that presses an alert's button, a script's click on a tab).
class InputRecord {
public:
    // None: nothing is recorded.
    static void setRecorder(shell::Recorder* recorder);

    // While one lives, input reaching the widgets belongs to the one being delivered.
    class Delivering {
    public:
        Delivering() { ++depth_; }
        ~Delivering() { --depth_; }
        Delivering(const Delivering&) = delete;
        Delivering& operator=(const Delivering&) = delete;
    };
    // Whether input arriving now is the player's own (not part of one being delivered).
    static bool firsthand() { return recorder_ && depth_ == 0; }

    // A title or label as a script line names it: as it is when it reads back the same, else quoted.
    static std::string label(const std::string& text);
    // A script line's text for an input that reached a widget by hand; written when firsthand.
    static void input(const std::string& line);
    // The text of an alert's field as typed by hand: written as one `type` line before the next
    // input (the button or key that sends it), or when the alert goes.
    static void typing(const std::string& text);
    static void flushTyping();
    static void dropTyping() { typed_.reset(); }

private:
    static inline shell::Recorder* recorder_ = nullptr;
    static inline int depth_ = 0;
    static inline std::optional<std::string> typed_;
};

} // namespace backend::gtk
