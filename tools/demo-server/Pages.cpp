#include "Pages.h"

#include "Query.h"

#include <initializer_list>
#include <utility>
#include <vector>

namespace demo {

namespace {

struct Link {
    std::string label;
    std::string href;
};

const std::vector<Link>& navigation()
{
    static const std::vector<Link> links = {
        { "Home", "/home.php?showHomeBg=true" },
        { "Street", "/missions.php?showMissionsBg=true" },
        { "Race", "/fight.php?showAttackBg=true" },
        { "Cars", "/cars.php?showCarsBg=true" },
        { "Crew", "/group.php?showGroupBg=true" },
        { "Bank", "/bank.php" },
        { "Hospital", "/hospital.php" },
        { "Favors", "/favor.php" },
        { "Investments", "/investment.php" },
        { "Commands", "/commands.php" },
    };
    return links;
}

std::string document(std::string_view title, std::string_view file, std::string_view body)
{
    std::string html = R"(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=320, initial-scale=1, user-scalable=no">
<title>)" + htmlEscape(title) + R"(</title>
<style>
html, body { background: transparent; margin: 0; }
body { color: #f4f4f4; font: 15px/1.4 sans-serif; padding: 10px 14px 60px; text-shadow: 0 1px 2px #000; }
h1 { font-size: 24px; margin: 6px 0 2px; }
h2 { font-size: 16px; margin: 14px 0 4px; color: #ffe08a; }
.file { font-size: 12px; color: #c8c8c8; margin: 0 0 10px; }
a { color: #ffd24a; }
ul { list-style: none; margin: 0; padding: 0; }
li { margin: 5px 0; }
</style>
</head>
<body>
<h1>)" + htmlEscape(title) + "</h1>\n<p class=\"file\">" + htmlEscape(file) + "</p>\n";
    html += body;
    html += "</body>\n</html>\n";
    return html;
}

std::string linkList(const std::vector<Link>& links)
{
    std::string html = "<ul>\n";
    for (const Link& link : links)
        html += "<li><a href=\"" + htmlEscape(link.href) + "\">" + htmlEscape(link.label) + "</a></li>\n";
    html += "</ul>\n";
    return html;
}

struct GamePage {
    std::string_view file;
    std::string_view title;
    std::string_view blurb;
};

constexpr GamePage kGamePages[] = {
    { "home.php", "Home", "Welcome back, racer. Pick a street job, a race or a car." },
    { "missions.php", "Street", "Street jobs: deliver parts, run a lookout, earn cash and respect." },
    { "fight.php", "Race", "Pick a rival and race for the pot." },
    { "cars.php", "Cars", "Your garage: buy, tune and sell cars." },
    { "group.php", "Crew", "Your crew. Bigger crews win bigger races." },
    { "bank.php", "Bank", "Keep your winnings safe from other racers." },
    { "hospital.php", "Hospital", "Patch yourself up after a crash." },
    { "favor.php", "Favors", "Trade favors for rare parts." },
    { "investment.php", "Investments", "Buy garages and body shops for a steady income." },
};

using Query = std::initializer_list<std::pair<std::string_view, std::string_view>>;

// A link back to this page carrying commands; `stopLoad` keeps the page from reloading.
std::string commandHref(std::string_view file, Query query, bool stopLoad)
{
    std::string href = "/";
    href.append(file);
    char separator = '?';
    for (const auto& [name, value] : query) {
        href += separator;
        href += name;
        href += '=';
        href += percentEncode(value);
        separator = '&';
    }
    if (stopLoad) {
        href += separator;
        href += "stopLoad=true";
    }
    return href;
}

std::string command(Query query)
{
    return commandHref("commands.php", query, true);
}

} // namespace

std::optional<std::string> gamePage(std::string_view file, const std::optional<std::string>& player)
{
    if (file == "register.php") {
        return document("Sign up", file,
            "<p>New on the streets? Grab a car and go.</p>\n"
                + linkList({ { "Start racing", "/home.php?showHomeBg=true" } }));
    }
    for (const GamePage& page : kGamePages) {
        if (page.file != file)
            continue;
        if (!player) {
            return document("Session expired", file,
                "<p>Your session has expired. Start the game again to carry on.</p>\n");
        }
        std::string body = "<p class=\"greeting\">Hello, " + htmlEscape(*player) + "!</p>\n<p>"
            + htmlEscape(page.blurb) + "</p>\n" + linkList(navigation());
        if (page.file == "home.php")
            body += "<h2>More</h2>\n" + linkList({ { "Sign-up page", "/register.php" } });
        return document(page.title, file, body);
    }
    return std::nullopt;
}

std::string commandsPage()
{
    struct Section {
        std::string_view heading;
        std::vector<Link> links;
    };
    const std::vector<Section> sections = {
        { "Device",
            {
                { "Ask for push notifications (badge, sound, alert)", command({ { "requestPushNotification", "7" } }) },
                { "Sound on", command({ { "setSoundEnabled", "enabled" } }) },
                { "Sound off", command({ { "setSoundEnabled", "off" } }) },
                { "Intro movie on", command({ { "setIntroAnimationEnabled", "enabled" } }) },
                { "Intro movie off", command({ { "setIntroAnimationEnabled", "off" } }) },
                { "Icon badge 3", command({ { "changeApplicationBadge", "3" } }) },
                { "Clear icon badge", command({ { "changeApplicationBadge", "0" } }) },
                { "Vibrate", command({ { "invokeVibrate", "true" } }) },
            } },
        { "Alerts",
            {
                { "One-button alert",
                    command({ { "invokeAlertOneBtnTitle", "Garage" },
                        { "invokeAlertOneBtnBody", "Your car is ready for the next race." },
                        { "invokeAlertOneBtnName", "Great" },
                        { "invokeAlertOneBtnJS", "document.title='pressed'" } }) },
                { "Two-button alert",
                    command({ { "invokeAlertTwoBtnTitle", "Race challenge" },
                        { "invokeAlertTwoBtnBody", "Race Vex for $500 & the pink slip?" },
                        { "invokeAlertTwoBtn1Name", "Not now" }, { "invokeAlertTwoBtn2Name", "Race!" },
                        { "invokeAlertTwoBtn1JS", "document.title='declined'" },
                        { "invokeAlertTwoBtn2JS", "document.title='accepted'" } }) },
            } },
        { "Sounds",
            {
                { "Tap sound", command({ { "invokeTapSound", "true" } }) },
                { "Tap sound in 1.5 s", command({ { "invokeTapSound", "true" }, { "invokeSoundDelay", "1.5" } }) },
                { "Horn (aif)", command({ { "invokeSoundAIF", "horn" } }) },
                { "Engine (caf)", command({ { "invokeSoundCAF", "engine" } }) },
            } },
        { "Outside links",
            {
                { "Store page of app 12345", command({ { "goToAppId", "12345" } }) },
                { "Open example.org", command({ { "goToURL", "https://example.org/" } }) },
                { "Open a link with its own query",
                    command({ { "goToEncodedURL", "https://example.org/search?q=street race&page=2" } }) },
            } },
        { "Screen",
            {
                { "Background: fight, now", command({ { "changeBgInstant", "bg_fight.jpg" } }) },
                { "Hide the tab bar", command({ { "hideTabBar", "true" } }) },
                { "Show the tab bar", command({ { "showTabBar", "true" } }) },
                { "Badge 2 on Street", command({ { "setTab1Badge", "2" } }) },
                { "Remove the Street badge", command({ { "setTab1Badge", "" } }) },
            } },
        { "Pages",
            {
                { "Bank, with the bank background after loading",
                    commandHref("bank.php", { { "changeBgAfterLoad", "bg_bank.jpg" } }, false) },
                { "Bank", "/bank.php" },
                { "Hospital", "/hospital.php" },
                { "Favors", "/favor.php" },
                { "Investments", "/investment.php" },
                // Refused by the client itself: it opens the Recruit screen instead of loading.
                { "Recruit friends", commandHref("commands.php", { { "showABRecruit", "true" } }, false) },
                { "Home", "/home.php?showHomeBg=true" },
            } },
    };
    std::string body = "<p>Each link asks the client for one native action.</p>\n";
    for (const Section& section : sections)
        body += "<h2>" + htmlEscape(section.heading) + "</h2>\n" + linkList(section.links);
    return document("Commands", "commands.php", body);
}

std::string slowPage(int waitedMs)
{
    return document("Slow page", "slow.php",
        "<p>Served after " + std::to_string(waitedMs) + " ms.</p>\n" + linkList(navigation()));
}

std::string livePage()
{
    return document("Live race", "live.php", R"(<style>
.track { position: relative; height: 60px; border-bottom: 2px dashed #ffe08a; margin: 14px 0; }
.car { position: absolute; top: 18px; width: 40px; height: 20px; border-radius: 6px; animation: drive 1.2s linear infinite; }
.car.one { background: #e53; }
.car.two { background: #3ae; top: 34px; animation-duration: 1.7s; }
@keyframes drive { from { left: 0; } to { left: 250px; } }
</style>
<p>Two rivals, neck and neck.</p>
<div class="track"><div class="car one"></div><div class="car two"></div></div>
)" + linkList(navigation()));
}

} // namespace demo
