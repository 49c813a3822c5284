#include "shell/Script.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace shell {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Splits off the first blank-separated word.
std::pair<std::string_view, std::string_view> firstWord(std::string_view text)
{
    size_t end = 0;
    while (end < text.size() && !isBlank(text[end]))
        ++end;
    return {text.substr(0, end), trim(text.substr(end))};
}

template<typename T>
std::optional<T> parseNumber(std::string_view text)
{
    T value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// Fills `command` from its arguments; answers an error message, or empty when the line is good.
std::string parseArguments(ScriptCommand& command, std::string_view name, std::string_view rest)
{
    using Kind = ScriptCommand::Kind;
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on `"literal" + std::string(...)`.
    auto quoted = [&] {
        std::string out = "'";
        out.append(name);
        return out;
    };
    auto noArguments = [&](Kind kind) -> std::string {
        command.kind = kind;
        return rest.empty() ? std::string() : quoted() + "' takes no arguments";
    };
    auto text = [&](Kind kind, const char* what) -> std::string {
        command.kind = kind;
        if (rest.empty())
            return quoted() + "' needs " + what;
        std::string error;
        auto value = Script::parseText(rest, &error);
        if (!value)
            return error;
        command.text = std::move(*value);
        return {};
    };
    // `#N` picks by index; a quoted text is always a title or label.
    auto textOrIndex = [&](Kind kind, const char* what) -> std::string {
        command.kind = kind;
        if (!rest.empty() && rest.front() == '#') {
            auto index = parseNumber<size_t>(rest.substr(1));
            if (!index)
                return quoted() + " #N' needs a number after '#' (quote a text that starts with '#')";
            command.index = index;
            return {};
        }
        return text(kind, what);
    };

    if (name == "wait") {
        command.kind = Kind::Wait;
        auto seconds = parseNumber<double>(rest);
        if (!seconds || !std::isfinite(*seconds) || *seconds < 0)
            return "'wait' needs a number of seconds (0 or more)";
        command.seconds = *seconds;
        return {};
    }
    if (name == "tap")
        return textOrIndex(Kind::Tap, "a tab title or #N");
    if (name == "navigate") {
        auto error = text(Kind::Navigate, "a URL");
        if (error.empty() && command.text.empty())
            return "'navigate' needs a URL";
        return error;
    }
    if (name == "navigate-frame" || name == "redirect") {
        auto error = text(name == "redirect" ? Kind::Redirect : Kind::NavigateFrame, "a URL");
        if (error.empty() && command.text.empty())
            return quoted() + "' needs a URL";
        return error;
    }
    if (name == "finish")
        return noArguments(Kind::Finish);
    if (name == "fail") {
        command.kind = Kind::Fail;
        auto [codeText, description] = firstWord(rest);
        auto code = parseNumber<int>(codeText);
        if (!code)
            return "'fail' needs an error code (an integer such as -1009)";
        command.code = *code;
        if (!description.empty()) {
            std::string error;
            auto value = Script::parseText(description, &error);
            if (!value)
                return error;
            command.description = std::move(*value);
        }
        return {};
    }
    if (name == "press")
        return textOrIndex(Kind::Press, "a button label or #N");
    if (name == "type")
        return text(Kind::Type, "a text (\"\" for none)");
    if (name == "type-redacted") {
        command.kind = Kind::TypeRedacted;
        auto count = parseNumber<size_t>(rest);
        if (!count || *count > 100000)
            return "'type-redacted' needs a number of letters (0 to 100000)";
        command.count = *count;
        return {};
    }
    if (name == "reply") {
        command.kind = Kind::Reply;
        auto [statusText, body] = firstWord(rest);
        auto status = parseNumber<int>(statusText);
        if (!status || *status < 0 || *status > 999)
            return "'reply' needs an HTTP status (0 for no reply at all) and the reply's body";
        command.code = *status;
        std::string error;
        auto value = Script::parseEscapedText(body, &error);
        if (!value)
            return error;
        command.text = std::move(*value);
        return {};
    }
    if (name == "token") {
        command.kind = Kind::Token;
        auto bytes = Script::parseHex(rest);
        if (!bytes)
            return "'token' needs the token's bytes as hex digits (an even number of them)";
        command.bytes = std::move(*bytes);
        return {};
    }
    if (name == "push-fail")
        return noArguments(Kind::PushFail);
    if (name == "movie") {
        if (rest == "preloaded")
            command.kind = Kind::MoviePreloaded;
        else if (rest == "finished")
            command.kind = Kind::MovieFinished;
        else
            return "'movie' needs 'preloaded' or 'finished'";
        return {};
    }
    if (name == "row") {
        command.kind = Kind::Row;
        auto [first, second] = firstWord(rest);
        auto section = parseNumber<int>(first);
        auto row = parseNumber<int>(second);
        if (!section || !row || *section < 0 || *row < 0)
            return "'row' needs a section and a row (two numbers, 0 or more)";
        command.section = *section;
        command.row = *row;
        return {};
    }
    if (name == "scroll") {
        command.kind = Kind::Scroll;
        auto points = parseNumber<double>(rest);
        if (!points || !std::isfinite(*points))
            return "'scroll' needs a number of points (down the list when positive, up when negative)";
        command.points = *points;
        return {};
    }
    if (name == "toolbar")
        return text(Kind::Toolbar, "a toolbar item title");
    if (name == "button") {
        if (rest == "info")
            command.kind = Kind::ButtonInfo;
        else if (rest == "name")
            command.kind = Kind::ButtonName;
        else
            return "'button' needs 'info' or 'name'";
        return {};
    }
    if (name == "state")
        return noArguments(Kind::State);
    if (name == "snapshot") {
        auto error = text(Kind::Snapshot, "a file name");
        if (error.empty() && command.text.empty())
            return "'snapshot' needs a file name";
        return error;
    }
    if (name == "key") {
        command.kind = Kind::Key;
        if (rest.empty())
            return "'key' needs a key name such as Return, Tab, Shift+Tab, Down, space or Alt+4";
        std::string error;
        auto key = kit::KeyPress::parse(rest, &error);
        if (!key)
            return "'key': " + error;
        command.key = std::move(*key);
        command.text = std::string(rest);
        return {};
    }
    if (name == "quit")
        return noArguments(Kind::Quit);
    return "unknown command '" + std::string(name) + "'";
}

} // namespace

std::optional<std::string> Script::parseText(std::string_view rest, std::string* error)
{
    rest = trim(rest);
    if (rest.empty() || rest.front() != '"')
        return std::string(rest);
    std::string out;
    for (size_t i = 1; i < rest.size(); ++i) {
        char c = rest[i];
        if (c == '"') {
            if (!trim(rest.substr(i + 1)).empty()) {
                if (error)
                    *error = "unexpected text after the closing quote";
                return std::nullopt;
            }
            return out;
        }
        if (c == '\\') {
            if (i + 1 >= rest.size() || (rest[i + 1] != '"' && rest[i + 1] != '\\')) {
                if (error)
                    *error = "only \\\" and \\\\ may follow a backslash inside quotes";
                return std::nullopt;
            }
            c = rest[++i];
        }
        out += c;
    }
    if (error)
        *error = "missing closing quote";
    return std::nullopt;
}

std::optional<std::string> Script::parseEscapedText(std::string_view rest, std::string* error)
{
    rest = trim(rest);
    if (rest.empty() || rest.front() != '"')
        return std::string(rest);
    auto fail = [&](const char* why) -> std::optional<std::string> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    std::string out;
    for (size_t i = 1; i < rest.size(); ++i) {
        char c = rest[i];
        if (c == '"') {
            if (!trim(rest.substr(i + 1)).empty())
                return fail("unexpected text after the closing quote");
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= rest.size())
            break;
        switch (rest[i]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x': {
            auto byte = i + 2 < rest.size() ? parseHex(rest.substr(i + 1, 2)) : std::nullopt;
            if (!byte)
                return fail("'\\x' needs two hex digits");
            out += static_cast<char>((*byte)[0]);
            i += 2;
            break;
        }
        default:
            return fail("only \\\", \\\\, \\n, \\r, \\t and \\xHH may follow a backslash inside quotes");
        }
    }
    return fail("missing closing quote");
}

std::string Script::quoteEscaped(std::string_view text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string Script::quote(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        // A line break would end the line: a blank stands in for it.
        out += (c == '\n' || c == '\r') ? ' ' : c;
    }
    out += '"';
    return out;
}

std::optional<std::vector<std::uint8_t>> Script::parseHex(std::string_view text)
{
    text = trim(text);
    if (text.size() >= 2 && text.front() == '<' && text.back() == '>')
        text = text.substr(1, text.size() - 2);
    std::string digits;
    for (char c : text) {
        if (isBlank(c))
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

Script::Parsed Script::parse(std::string_view text)
{
    Parsed parsed;
    int lineNumber = 0;
    while (!text.empty() || lineNumber == 0) {
        ++lineNumber;
        size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        line = trim(line);
        if (line.empty() || line.front() == '#')
            continue;
        ScriptCommand command;
        command.line = lineNumber;
        command.source = std::string(line);
        auto [name, rest] = firstWord(line);
        auto error = parseArguments(command, name, rest);
        if (!error.empty()) {
            parsed.errorLine = lineNumber;
            parsed.error = std::move(error);
            return parsed;
        }
        parsed.commands.push_back(std::move(command));
    }
    return parsed;
}

} // namespace shell
