#include "kit/Events.h"

namespace kit {

static EventSink* currentSink = nullptr;

void setEventSink(EventSink* sink) { currentSink = sink; }

void emit(const std::string& name, nlohmann::json fields)
{
    if (currentSink)
        currentSink->event(name, std::move(fields));
}

} // namespace kit
