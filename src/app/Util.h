#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace street {

// Text helpers shared by the page commands and the entry request. No state.
class Util {
public:
    // The value of parameter `name` in the query of `req` (after the first "?", or the first
    // "#" when there is no "?"), percent-decoded. "" when absent, empty or when `req` has no
    // query; none when the value does not decode to ASCII.
    static std::optional<std::string> extractParamVal(std::string_view name, std::string_view req);
    // MD5 of the bytes before the first zero byte, as 32 upper-case hex digits.
    static std::string md5(std::string_view text);
    // Standard Base64 with padding, on one line.
    static std::string base64EncodingWithLineLength(std::span<const std::uint8_t> data);
    static std::string base64EncodingWithLineLength(std::string_view data);
};

}
