#pragma once

#include <string>
#include <string_view>

namespace demo {

// 32 upper-case hexadecimal digits.
std::string md5Hex(std::string_view text);

// The entry request is signed with MD5(udid ":" salt ":" "45"); `udid` is the
// already decoded device identifier.
bool entrySignatureValid(std::string_view udid, std::string_view pf);

} // namespace demo
