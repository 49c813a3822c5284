#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace street::tools {

// The URLs a page can load that can be seen without running it: links, forms (a GET form as
// it would send its fields), literal `location` assignments and `window.open` calls, meta
// refresh and frames.
class PageLinks {
public:
    struct Link {
        std::string source;  // "a", "form (get)", "meta refresh", "script", "onclick", ...
        int line = 0;        // where the element starts in the page
        std::string url;     // resolved against the page's address
    };

    // In document order. `address` is where the page was loaded from; a <base href> overrides it.
    static std::vector<Link> find(std::string_view html, const std::string& address);

    // `reference` against `base`, as a browser resolves a link; characters that may not stand
    // in a URL (blanks, quotes, angle brackets, bytes outside ASCII) come out percent-escaped.
    static std::string resolve(std::string_view base, std::string_view reference);

    // The literal strings a script assigns to `location` (or its href, or passes to its assign or
    // replace) or opens with `window.open`; anything built at run time is left out.
    static std::vector<std::string> fromScript(std::string_view script);

    // A form's fields as a GET sends them: application/x-www-form-urlencoded.
    static std::string formEncode(std::string_view text);
};

} // namespace street::tools
