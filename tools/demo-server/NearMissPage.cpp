#include "NearMissPage.h"

#include "Query.h"

#include <string_view>

namespace demo {

namespace {

struct Miss {
    std::string_view label;
    std::string_view href;
};

constexpr Miss kLinks[] = {
    { "Key word in the wrong case", "/commands.php?hidetabbar=true&stopLoad=true" },
    { "Key word one letter short", "/bank.php?changeBgAfterLod=bg_other.jpg" },
    { "Key word inside a longer name", "/commands.php?oldsetTab1Badge=2&stopLoad=true" },
    { "Value that does not decode",
        "/commands.php?invokeAlertOneBtnTitle=Caf%E9&invokeAlertOneBtnBody=Fresh%20paint&invokeAlertOneBtnName=OK"
        "&stopLoad=true" },
    { "Second \"=\" in a pair", "/commands.php?goToURL=https://example.org/?q=1&stopLoad=true" },
};

} // namespace

std::string nearMissPage()
{
    std::string html = R"html(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Near misses</title>
<style>html, body { background: transparent; color: #f4f4f4; font: 15px/1.4 sans-serif; } a { color: #ffd24a; }</style>
</head>
<body>
<h1>Near misses</h1>
<p>Every command here is written almost right, so the client does nothing with it.</p>
<ul>
)html";
    for (const Miss& link : kLinks)
        html += "<li><a href=\"" + htmlEscape(link.href) + "\">" + htmlEscape(link.label) + "</a></li>\n";
    html += R"html(<li><a href="#" onclick="location.href='/fight.php?showAttackBg=true#changeBgAfterLoad=bg_other.jpg'; return false">Command after "#"</a></li>
</ul>
<form action="/commands.php">
<input type="hidden" name="invokeVibrate" value="1">
<input type="hidden" name="stopLoad" value="true">
<button>Vibrate, with a Boolean key word that is not "true"</button>
</form>
<form action="/commands.php">
<input name="invokeAlertOneBtnTitle" value="Race now"><input type="hidden" name="invokeAlertOneBtnBody" value="Ready">
<input type="hidden" name="invokeAlertOneBtnName" value="OK"><input type="hidden" name="stopLoad" value="true">
<button>An alert whose title a form sends with "+" for the blank</button>
</form>
<script>
function backToStart() { window.open('/index.php?invokeVibrate=true'); }
</script>
<p><a href="javascript:backToStart()">Vibrate through index.php</a></p>
</body>
</html>
)html";
    return html;
}

} // namespace demo
