#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace kit {

// What the platform did, as it happens: a decision of the page delegate, an alert shown, a sound
// played... The headless backend writes these as the transcript; a desktop backend may log them.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void event(const std::string& name, nlohmann::json fields) = 0;
};

void setEventSink(EventSink* sink);
void emit(const std::string& name, nlohmann::json fields = nlohmann::json::object());

} // namespace kit
