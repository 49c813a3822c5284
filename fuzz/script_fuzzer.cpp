// The scenario-script reader on any text; a script that reads (and is short) is then played on
// the client, which is started once and kept, like the runner plays it.
#include "AppHarness.h"
#include "FuzzSupport.h"

#include "shell/Script.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

using fuzz::check;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using shell::Script;
    using Kind = shell::ScriptCommand::Kind;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = Script::parse(text);

    size_t lines = 1;
    for (char c : text)
        lines += c == '\n';
    if (parsed.errorLine) {
        check(*parsed.errorLine >= 1 && static_cast<size_t>(*parsed.errorLine) <= lines, "the error names a line");
        check(!parsed.error.empty(), "an error says what is wrong");
        return 0;
    }
    int previous = 0;
    for (const auto& command : parsed.commands) {
        check(command.line > previous && static_cast<size_t>(command.line) <= lines, "commands keep their lines");
        previous = command.line;
    }
    if (parsed.commands.size() > 32)
        return 0;
    auto& app = fuzz::AppHarness::instance();
    for (const auto& command : parsed.commands) {
        if (command.kind == Kind::Quit)
            break;
        app.play(command);
    }
    // A player answers alerts; never let them pile up beyond a few.
    app.answerAlerts(4);
    return 0;
}
