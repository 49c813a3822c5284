#pragma once

#include "kit/Application.h"

#include <optional>
#include <string>

namespace backend::headless {

// The errors a web engine reports for failed loads, with the platform's codes and texts.
class NetworkError {
public:
    static constexpr int Cancelled = -999;
    static constexpr int TimedOut = -1001;
    static constexpr int CannotFindHost = -1003;
    static constexpr int CannotConnectToHost = -1004;
    static constexpr int NetworkConnectionLost = -1005;
    static constexpr int HTTPTooManyRedirects = -1007;
    static constexpr int NotConnectedToInternet = -1009;
    static constexpr int DataLengthExceedsMaximum = -1103;

    // The platform's description of a code ("The request timed out."); a generic text for
    // codes it has no words for.
    static std::string defaultDescription(int code);
    static kit::Error make(int code, std::optional<std::string> description = std::nullopt);
};

} // namespace backend::headless
