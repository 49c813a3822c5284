#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kit/AddressBook.h"

namespace kit {

// Reads person records out of vCard 2.1, 3.0 and 4.0 text as real exports write it. Pure text
// in, records out: a broken record is skipped and reading goes on at the next BEGIN:VCARD.
class VCard {
public:
    static std::vector<ABPerson> parse(std::string_view text, std::string* diagnostic);

    // The decoding steps, each usable on its own.
    static std::string latin1ToUtf8(std::string_view bytes);
    // "=XX" becomes the byte XX; a final "=" (soft break) goes; any other "=" is kept as it is.
    static std::string decodeQuotedPrintable(std::string_view text);
    // \, \; \: \\ \n \N; any other backslash stays.
    static std::string unescapeText(std::string_view text);
    // Splits at every ';' that is not escaped; the pieces keep their escapes.
    static std::vector<std::string_view> splitComponents(std::string_view value);
};

} // namespace kit
