// The page reader of check-page: any bytes as an HTML document. Besides the sanitizers, every
// link found must be a resolved URL with no byte a URL may not hold.
#include "tools/PageLinks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view html(reinterpret_cast<const char*>(data), size);
    for (const auto& link : street::tools::PageLinks::find(html, "http://127.0.0.1:8642/dir/page.php?x=1")) {
        for (unsigned char c : link.url) {
            if (c <= ' ' || c >= 0x7F || c == '"' || c == '<' || c == '>') {
                std::fprintf(stderr, "unescaped byte 0x%02X in %s\n", c, link.url.c_str());
                std::abort();
            }
        }
    }
    return 0;
}
