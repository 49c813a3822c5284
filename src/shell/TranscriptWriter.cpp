#include "shell/TranscriptWriter.h"

#include "kit/RunLoop.h"

#include <cerrno>
#include <cstring>

namespace shell {

std::unique_ptr<TranscriptWriter> TranscriptWriter::open(const std::string& path, std::string* error)
{
    if (path == "-")
        return std::unique_ptr<TranscriptWriter>(new TranscriptWriter(stdout, false));
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        if (error)
            *error = "cannot write the transcript " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<TranscriptWriter>(new TranscriptWriter(file, true));
}

TranscriptWriter::~TranscriptWriter()
{
    if (owned_)
        std::fclose(file_);
    else
        std::fflush(file_);
}

void TranscriptWriter::event(const std::string& name, nlohmann::json fields)
{
    // "t" and "ev" lead each line; the event's own fields follow.
    nlohmann::ordered_json line;
    line["t"] = kit::RunLoop::main().nowSeconds();
    line["ev"] = name;
    if (fields.is_object())
        for (auto& [key, value] : fields.items())
            line[key] = value;
    // Page-supplied texts need not be valid UTF-8; never let one end the run.
    std::string text = line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

} // namespace shell
