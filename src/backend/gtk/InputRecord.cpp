#include "backend/gtk/InputRecord.h"

#include "shell/Recorder.h"
#include "shell/Script.h"

namespace backend::gtk {

void InputRecord::setRecorder(shell::Recorder* recorder)
{
    recorder_ = recorder;
    typed_.reset();
}

std::string InputRecord::label(const std::string& text)
{
    std::string error;
    auto read = shell::Script::parseText(text, &error);
    bool bare = read && *read == text && !text.empty() && text.front() != '#';
    return bare ? text : shell::Script::quote(text);
}

void InputRecord::flushTyping()
{
    if (!recorder_ || !typed_)
        return;
    shell::ScriptCommand command;
    command.kind = shell::ScriptCommand::Kind::Type;
    command.text = std::move(*typed_);
    typed_.reset();
    recorder_->input(command);
}

void InputRecord::typing(const std::string& text)
{
    if (firsthand())
        typed_ = text;
}

void InputRecord::input(const std::string& line)
{
    if (!firsthand())
        return;
    flushTyping();
    auto parsed = shell::Script::parse(line);
    if (parsed.errorLine || parsed.commands.size() != 1)
        return;  // a title no line can name
    recorder_->input(parsed.commands.front());
}

} // namespace backend::gtk
