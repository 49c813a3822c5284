#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

// One key press: a key, named as GDK names keys ("Return", "Tab", "Down", "space", "a", "4"),
// and the modifiers held with it.
struct KeyPress {
    enum Modifier : unsigned { Shift = 1, Control = 2, Alt = 4, Super = 8 };

    std::string name;
    unsigned modifiers = 0;

    // "Alt+4", "Shift+Tab", "space", "Ctrl+Shift+Left": modifiers (Shift, Ctrl or Control, Alt,
    // Super) joined by '+' before one key name. Names with another spelling are kept in the one
    // GDK reports ("Prior" is "Page_Up"). None, with `error` set, for anything else.
    static std::optional<KeyPress> parse(std::string_view text, std::string* error = nullptr);
    // Every key name parse() takes, as it keeps them.
    static const std::vector<std::string>& keyNames();
    // The name parse() keeps for a key that has more than one ("Prior": "Page_Up").
    static std::string canonicalName(std::string_view name);

    // The key with exactly these modifiers. Shift+Tab is also the key GDK names "ISO_Left_Tab";
    // Return is also the keypad's Enter.
    bool is(std::string_view key, unsigned withModifiers = 0) const;
    bool isTab() const { return is("Tab"); }
    bool isShiftTab() const { return is("Tab", Shift); }
    bool isReturn() const { return is("Return"); }

    // As a script writes it: "Alt+4".
    std::string text() const;
    bool operator==(const KeyPress&) const = default;
};

} // namespace kit
