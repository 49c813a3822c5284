#include "kit/DownloadPolicy.h"

#include "kit/NetworkError.h"
#include "kit/Text.h"

#include <string>

namespace kit {

Error DownloadPolicy::refused()
{
    return NetworkError::make(refusedCode, "The server sent a file to download; the game never saves files.");
}

bool DownloadPolicy::asksToSave(std::string_view value)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::string_view type = value.substr(0, value.find(';'));
    while (!type.empty() && blank(type.front()))
        type.remove_prefix(1);
    while (!type.empty() && blank(type.back()))
        type.remove_suffix(1);
    if (type.empty())
        return false; // no type, or only parameters: nothing is asked
    return !kit::Text::equalsIgnoringASCIICase(type, "inline");
}

} // namespace kit
