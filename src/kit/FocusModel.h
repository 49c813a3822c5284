#pragma once

#include "kit/KeyPress.h"

#include <functional>
#include <nlohmann/json_fwd.hpp>

namespace kit {

class AlertView;
class View;

// What became of a key press.
enum class KeyResult {
    Handled,  // a control (or a shortcut) acted on it
    Ignored,  // it reaches nothing: what has focus has no use for it, or a shortcut's target is covered
    Passed,   // it belongs to the page or the text field that has focus, which the platform feeds
};

// Keyboard focus, one screen at a time: the frontmost alert while one shows, else the frontmost
// modal screen, else the key window. Each screen remembers which of its controls holds focus
// until it goes, and the keys do what a person expects of them there:
//
// - Tab and Shift+Tab move through the screen's controls, in the order of its views, round and
//   round: the page, the tab bar (one stop: Left and Right move between its items), toolbar
//   items, buttons, the table. An alert's are its text field and buttons: focus stays inside it.
// - Return and Space press the focused button, item or tab (= the user's tap). Space ticks the
//   focused row of a table (= the user's tap on it); Up and Down move through the rows, across
//   sections, scrolling to keep the row in view.
// - In an alert, Return presses the focused button, and the last one when focus is on the field
//   or has not moved; Escape presses button 0 of a two-button alert.
// - A toolbar item's key equivalent (Escape for "Back") taps it wherever focus is on its screen.
// - Alt+1 to Alt+9 tap that tab-bar item whenever a tap could reach the tab bar: on the key
//   window's screen, with the bar shown.
//
// Focus starts on a screen's table, else its page, else its first control.
class FocusModel {
public:
    struct Focus {
        enum class Control { None, Page, TabBar, ToolbarItem, Button, Table, AlertField, AlertButton };
        Control control = Control::None;
        View* view = nullptr;       // the web view, tab bar, toolbar, button or table
        AlertView* alert = nullptr;
        int index = -1;             // the tab-bar item, toolbar item or alert button
    };

    static Focus focus();
    static KeyResult handleKey(const KeyPress& key);

    // A control took focus by itself: a click into a text field, a page that gave focus up.
    // `index`: the tab-bar or toolbar item (the tab bar's selected item when -1).
    static void focusView(View& view, int index = -1);
    // -1: the alert's text field; else a button.
    static void focusAlertControl(AlertView& alert, int control);

    // Whether the platform's page takes key presses (a desktop's web engine does; a scripted
    // page does not). When it does, keys for a focused page are Passed, and Tab moves through
    // its links before it leaves.
    static void setPageTakesKeys(bool takes);
    // Told whenever focus may have moved, so that a backend can show it.
    static void setObserver(std::function<void()> observer);

    // The focus as `state` lines show it: null, or {"control": ..., and what names it}.
    static nlohmann::json describe();
};

} // namespace kit
