#include "backend/headless/NetworkError.h"

namespace backend::headless {

std::string NetworkError::defaultDescription(int code)
{
    switch (code) {
    case NotConnectedToInternet:
        return "The Internet connection appears to be offline.";
    case TimedOut:
        return "The request timed out.";
    case CannotFindHost:
        return "A server with the specified hostname could not be found.";
    case CannotConnectToHost:
        return "Could not connect to the server.";
    case NetworkConnectionLost:
        return "The network connection was lost.";
    case HTTPTooManyRedirects:
        return "too many HTTP redirects";
    case DataLengthExceedsMaximum:
        return "resource exceeds maximum size";
    case Cancelled:
        return "cancelled";
    default:
        return "The operation couldn\u2019t be completed. (error " + std::to_string(code) + ")";
    }
}

kit::Error NetworkError::make(int code, std::optional<std::string> description)
{
    return kit::Error{code, "NSURLErrorDomain", description ? std::move(*description) : defaultDescription(code)};
}

} // namespace backend::headless
