#pragma once

#include <nlohmann/json.hpp>

namespace street {

// The whole screen as the headless runner's `state` line reports it: tab bar, web view, the two
// background layers, the indicator, alerts, the modal screen, settings, the icon badge and the
// page delegate's flags. The Recruit screen reports its own "recruit" field (RecruitState).
class ScreenState {
public:
    static nlohmann::json snapshot();
};

} // namespace street
