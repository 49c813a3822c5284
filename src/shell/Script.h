#pragma once

#include "kit/KeyPress.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shell {

// One line of a scenario script, parsed.
struct ScriptCommand {
    enum class Kind {
        Wait, Tap, Navigate, Finish, Fail, Press, Type, Token, PushFail, MoviePreloaded, MovieFinished,
        Row, Toolbar, ButtonInfo, ButtonName, State, Snapshot, Key, Quit, Scroll,
        NavigateFrame, Redirect, Reply, TypeRedacted
    };

    Kind kind = Kind::State;
    int line = 0;            // 1-based line number in the script
    std::string source;      // the line as written, trimmed
    std::string text;        // TEXT / URL / title / label / file argument / key name
    std::optional<size_t> index;  // `tap #N`, `press #N`
    double seconds = 0;      // wait
    double points = 0;       // scroll
    int code = 0;            // fail; reply (the HTTP status, 0: no reply at all)
    size_t count = 0;        // type-redacted
    std::optional<std::string> description;  // fail
    int section = 0;         // row
    int row = 0;             // row
    std::vector<std::uint8_t> bytes;  // token
    kit::KeyPress key;       // key
};

class Script {
public:
    struct Parsed {
        std::vector<ScriptCommand> commands;
        // Set when a line cannot be parsed; `commands` is then incomplete and must not run.
        std::optional<int> errorLine;
        std::string error;
    };

    // Parses a whole script. Blank lines and lines starting with '#' are skipped.
    static Parsed parse(std::string_view text);

    // A TEXT argument: the rest of the line, or one double-quoted string (backslash escapes
    // only a quote or a backslash) with nothing after it. None (with `error` set) when malformed.
    static std::optional<std::string> parseText(std::string_view rest, std::string* error);
    // As parseText, with \\n, \\r, \\t and \\xHH escapes besides (the reply's body may hold any byte).
    static std::optional<std::string> parseEscapedText(std::string_view rest, std::string* error);
    // A text as a quoted argument that parseText / parseEscapedText reads back as it was (quote:
    // line breaks become blanks).
    static std::string quote(std::string_view text);
    static std::string quoteEscaped(std::string_view text);
    // Bytes from hex digits (blanks and surrounding <> allowed, as in a printed token).
    static std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text);
};

} // namespace shell
