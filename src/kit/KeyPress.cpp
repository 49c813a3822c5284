#include "kit/KeyPress.h"

#include <algorithm>
#include <utility>

namespace kit {

namespace {

std::vector<std::string> makeKeyNames()
{
    std::vector<std::string> names;
    for (char c = 'a'; c <= 'z'; ++c)
        names.emplace_back(1, c);
    for (char c = 'A'; c <= 'Z'; ++c)
        names.emplace_back(1, c);
    for (char c = '0'; c <= '9'; ++c) {
        names.emplace_back(1, c);
        names.push_back(std::string("KP_") + c);
    }
    for (int f = 1; f <= 24; ++f)
        names.push_back("F" + std::to_string(f));
    for (const char* name :
         {"Return", "Tab", "ISO_Left_Tab", "Escape", "space", "BackSpace", "Delete", "Insert", "Home", "End", "Page_Up",
          "Page_Down", "Left", "Right", "Up", "Down", "Menu", "Print", "Pause", "Scroll_Lock", "Caps_Lock", "Num_Lock",
          "KP_Enter", "ISO_Enter", "KP_Add", "KP_Subtract", "KP_Multiply", "KP_Divide", "KP_Decimal", "KP_Home", "KP_End",
          "KP_Left", "KP_Right", "KP_Up", "KP_Down", "KP_Page_Up", "KP_Page_Down", "KP_Insert", "KP_Delete", "KP_Space",
          "KP_Tab", "Shift_L", "Shift_R", "Control_L", "Control_R", "Alt_L", "Alt_R", "Super_L", "Super_R", "Meta_L", "Meta_R",
          "exclam", "quotedbl", "numbersign", "dollar", "percent", "ampersand", "apostrophe", "parenleft", "parenright",
          "asterisk", "plus", "comma", "minus", "period", "slash", "colon", "semicolon", "less", "equal", "greater",
          "question", "at", "bracketleft", "backslash", "bracketright", "asciicircum", "underscore", "grave", "braceleft",
          "bar", "braceright", "asciitilde"})
        names.emplace_back(name);
    return names;
}

// Other spellings GDK takes for the same keys.
constexpr std::pair<std::string_view, std::string_view> aliases[] = {
    {"Prior", "Page_Up"}, {"Next", "Page_Down"}, {"KP_Prior", "KP_Page_Up"}, {"KP_Next", "KP_Page_Down"},
};

constexpr std::pair<std::string_view, unsigned> modifierNames[] = {
    {"Shift", KeyPress::Shift}, {"Ctrl", KeyPress::Control}, {"Control", KeyPress::Control}, {"Alt", KeyPress::Alt},
    {"Super", KeyPress::Super},
};

} // namespace

const std::vector<std::string>& KeyPress::keyNames()
{
    static const auto* names = new std::vector<std::string>(makeKeyNames());
    return *names;
}

std::string KeyPress::canonicalName(std::string_view name)
{
    for (const auto& [alias, canonical] : aliases)
        if (name == alias)
            return std::string(canonical);
    return std::string(name);
}

std::optional<KeyPress> KeyPress::parse(std::string_view text, std::string* error)
{
    auto fail = [error](std::string why) -> std::optional<KeyPress> {
        if (error)
            *error = std::move(why);
        return std::nullopt;
    };
    KeyPress key;
    while (true) {
        size_t plus = text.find('+');
        std::string_view part = text.substr(0, plus);
        if (part.empty())
            return fail(plus == std::string_view::npos ? "no key after the last '+'" : "an empty modifier before '+'");
        if (plus == std::string_view::npos) {
            std::string name = canonicalName(part);
            const auto& names = keyNames();
            if (std::find(names.begin(), names.end(), name) == names.end())
                return fail("unknown key name '" + std::string(part)
                            + "' (keys are named as GDK names them: Return, Escape, Tab, space, Down, a, 4...)");
            key.name = std::move(name);
            return key;
        }
        auto modifier = std::find_if(std::begin(modifierNames), std::end(modifierNames),
                                     [part](const auto& m) { return m.first == part; });
        if (modifier == std::end(modifierNames))
            return fail("unknown modifier '" + std::string(part) + "' (Shift, Ctrl, Alt or Super)");
        key.modifiers |= modifier->second;
        text.remove_prefix(plus + 1);
    }
}

bool KeyPress::is(std::string_view key, unsigned withModifiers) const
{
    if (key == "Tab" && withModifiers == Shift && name == "ISO_Left_Tab" && (modifiers == Shift || modifiers == 0))
        return true;
    if (key == "Return" && (name == "KP_Enter" || name == "ISO_Enter"))
        return modifiers == withModifiers;
    return name == key && modifiers == withModifiers;
}

std::string KeyPress::text() const
{
    std::string out;
    for (const auto& [label, bit] : {std::pair<const char*, unsigned>{"Ctrl", Control}, {"Alt", Alt}, {"Super", Super}, {"Shift", Shift}})
        if (modifiers & bit)
            out += std::string(label) + "+";
    return out + name;
}

} // namespace kit
