#pragma once

#include "kit/Events.h"

#include <cstdio>
#include <memory>
#include <string>

namespace shell {

// Writes kit events as JSON Lines: {"t": seconds since launch, "ev": name, ...fields}. Each
// line is flushed as it is written, so a reader (or a crash) sees everything up to that point.
class TranscriptWriter : public kit::EventSink {
public:
    // "-" is standard output. Null (with `error` set) when the file cannot be opened.
    static std::unique_ptr<TranscriptWriter> open(const std::string& path, std::string* error);
    ~TranscriptWriter() override;
    TranscriptWriter(const TranscriptWriter&) = delete;
    TranscriptWriter& operator=(const TranscriptWriter&) = delete;

    void event(const std::string& name, nlohmann::json fields) override;

private:
    TranscriptWriter(std::FILE* file, bool owned) : file_(file), owned_(owned) {}
    std::FILE* file_;
    bool owned_;
};

} // namespace shell
