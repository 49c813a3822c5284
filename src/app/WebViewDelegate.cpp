#include "app/WebViewDelegate.h"

#include "app/ConfigSettings.h"
#include "app/GameServer.h"
#include "app/MainViewController.h"
#include "app/RecruitABContainerController.h"
#include "app/SoundEffect.h"
#include "app/Util.h"
#include "kit/Application.h"
#include "kit/Bundle.h"
#include "kit/Events.h"
#include "kit/Image.h"
#include "kit/NetworkError.h"
#include "kit/Screen.h"
#include "kit/URL.h"

#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace street {

namespace {

bool contains(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

bool isEmpty(const std::optional<std::string>& value) { return !value || value->empty(); }

// The integer at the start of a text: optional blanks, an optional sign, decimal digits; 0 when
// there are none; clamped to the int range.
int intValue(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// The number at the start of a text (0 when there is none); "nan" and "inf" read as themselves.
// A number too large for a double reads as infinity, one too small to tell from zero as zero.
double doubleValue(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;
    if (i < text.size() && text[i] == '+')
        ++i;
    double value = 0;
    auto result = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // strtod saturates both ways; the C locale keeps "." the decimal point whatever the desktop's.
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
        return strtod_l(std::string(text.data() + i, result.ptr).c_str(), nullptr, cLocale);
    }
    return result.ec == std::errc() ? value : 0.0;
}

std::optional<std::string> value(const char* key, const std::string& url) { return Util::extractParamVal(key, url); }

} // namespace

// One row of the page table: which page, its background, what it does to the tab bar and which
// item it selects. Rows are tried strictly in order; the first whose name occurs in the URL wins.
struct WebViewDelegate::PageRow {
    enum class Bg { Set, Unchanged, SetOnceStarted };
    enum class Bar { Hide, Show, ShowOnceStarted, None };
    enum class Select { NoChange, Item, Nothing };

    std::initializer_list<const char*> names;
    Bg bg;
    const char* background;
    Bar bar;
    Select select;
    size_t item;
    bool landing = false;
    bool recruit = false;
};

const WebViewDelegate::PageRow WebViewDelegate::pageTable[] = {
    {{"register.php"}, PageRow::Bg::Set, "bg_default.jpg", PageRow::Bar::Hide, PageRow::Select::NoChange, 0, true},
    {{"choose_name.php"}, PageRow::Bg::Set, "bg_default.jpg", PageRow::Bar::Hide, PageRow::Select::NoChange, 0},
    {{"choose_class.php"}, PageRow::Bg::Set, "bg_default.jpg", PageRow::Bar::Hide, PageRow::Select::NoChange, 0},
    {{"points.php"}, PageRow::Bg::Set, "bg_default.jpg", PageRow::Bar::Hide, PageRow::Select::NoChange, 0},
    {{"missions.php"}, PageRow::Bg::Set, "bg_default.jpg", PageRow::Bar::Show, PageRow::Select::Item, 1},
    {{"fight.php"}, PageRow::Bg::Set, "bg_fight.jpg", PageRow::Bar::Show, PageRow::Select::Item, 2},
    {{"cars.php"}, PageRow::Bg::Set, "bg_default.jpg", PageRow::Bar::Show, PageRow::Select::Item, 3},
    {{"home.php"}, PageRow::Bg::Set, "bg_default.jpg", PageRow::Bar::ShowOnceStarted, PageRow::Select::Item, 0},
    {{"showABRecruit=true"}, PageRow::Bg::Unchanged, nullptr, PageRow::Bar::None, PageRow::Select::NoChange, 0, false, true},
    {{"investment.php"}, PageRow::Bg::Set, "bg_investment.jpg", PageRow::Bar::Show, PageRow::Select::Nothing, 0},
    {{"equipment.php"}, PageRow::Bg::Set, "bg_default.jpg", PageRow::Bar::Show, PageRow::Select::Nothing, 0},
    {{"bank.php"}, PageRow::Bg::Set, "bg_bank.jpg", PageRow::Bar::Show, PageRow::Select::Nothing, 0},
    {{"hospital.php"}, PageRow::Bg::Set, "bg_hospital.jpg", PageRow::Bar::Show, PageRow::Select::Nothing, 0},
    {{"favor.php"}, PageRow::Bg::Set, "bg_other.jpg", PageRow::Bar::Show, PageRow::Select::Nothing, 0},
    {{"profile.php"}, PageRow::Bg::Set, "bg_default.jpg", PageRow::Bar::Show, PageRow::Select::Nothing, 0},
    {{"help.php"}, PageRow::Bg::Set, "bg_other.jpg", PageRow::Bar::Show, PageRow::Select::Nothing, 0},
    {{"updates.php"}, PageRow::Bg::Set, "bg_other.jpg", PageRow::Bar::Show, PageRow::Select::Nothing, 0},
    {{"setting.php"}, PageRow::Bg::Set, "bg_other.jpg", PageRow::Bar::Show, PageRow::Select::Nothing, 0},
    {{"settings.php"}, PageRow::Bg::Set, "bg_other.jpg", PageRow::Bar::Show, PageRow::Select::Nothing, 0},
    {{"group.php", "groupMembers.php", "mob.php", "myMobMembers.php"}, PageRow::Bg::Set, "bg_default.jpg",
     PageRow::Bar::Show, PageRow::Select::Item, 4},
    // Any other page.
    {{""}, PageRow::Bg::SetOnceStarted, "bg_default.jpg", PageRow::Bar::Show, PageRow::Select::Nothing, 0},
};

WebViewDelegate::WebViewDelegate()
{
    if (auto path = kit::Bundle::mainBundle().pathForResource("tap", "aif"))
        kit::AudioServices::createSystemSoundID(*path, &state_.tapSound);
}

// The command bridge.

std::span<const char* const> WebViewDelegate::commandKeyWords()
{
    static constexpr const char* keyWords[] = {
        "requestPushNotification", "setSoundEnabled", "setIntroAnimationEnabled", "changeApplicationBadge",
        "invokeVibrate=true", "invokeAlertOneBtnTitle", "invokeAlertOneBtnBody", "invokeAlertOneBtnName",
        "invokeAlertOneBtnJS", "invokeAlertTwoBtnTitle", "invokeAlertTwoBtnBody", "invokeAlertTwoBtn1Name",
        "invokeAlertTwoBtn2Name", "invokeAlertTwoBtn1JS", "invokeAlertTwoBtn2JS", "invokeTapSound=true",
        "invokeSoundDelay", "invokeSoundAIF", "invokeSoundCAF", "goToAppId", "goToURL", "goToEncodedURL",
        "changeBgInstant", "hideTabBar=true", "showTabBar=true", "setTab0Badge", "setTab1Badge", "setTab2Badge",
        "setTab3Badge", "setTab4Badge", "stopLoad=true", "showABRecruit=true", "changeBgAfterLoad",
    };
    return keyWords;
}

template <class MakeEffect>
void WebViewDelegate::report(std::string_view keyWord, const std::optional<std::string>* value, MakeEffect makeEffect)
{
    if (!observer_)
        return;
    DecisionObserver::Command command{keyWord, value != nullptr, value ? *value : std::nullopt, std::string(makeEffect())};
    observer_->command(command);
}

bool WebViewDelegate::answer(bool allow, const char* why)
{
    if (observer_)
        observer_->decided(allow, why);
    return allow;
}

namespace {

// What a command with an empty or undecodable value does: nothing.
std::string nothingFor(const std::optional<std::string>& value)
{
    return value ? "does nothing: no value (no pair of that name, or an empty one)" : "does nothing: the value does not decode";
}

std::string maskText(int mask)
{
    std::string kinds;
    for (auto [bit, name] : {std::pair{1, "badge"}, std::pair{2, "sound"}, std::pair{4, "alert"}})
        if (mask & bit)
            kinds += kinds.empty() ? name : std::string(", ") + name;
    return "mask " + std::to_string(mask) + (kinds.empty() ? "" : " (" + kinds + ")");
}

} // namespace

bool WebViewDelegate::shouldStartLoadWithRequest(kit::WebView&, const kit::URLRequest& request, kit::NavigationType)
{
    const std::string& u = request.url;
    auto& s = state_;
    if (contains(u, "index.php"))
        return answer(true, "the URL holds \"index.php\": it loads with no command run");

    // Only the game's own pages drive the client, and only when the game led there; any other
    // page still loads like a page.
    struct CommandSource {
        std::optional<Untrusted>& untrusted;
        ~CommandSource() { untrusted.reset(); }
    } source{untrusted_};
    untrusted_ = untrustedSource(request);

    auto& application = kit::Application::sharedApplication();
    if (command(u, "requestPushNotification") && application.respondsToRegisterForRemoteNotificationTypes()) {
        auto v = value("requestPushNotification", u);
        int mask = v ? intValue(*v) : 7;
        if (s.started)
            application.registerForRemoteNotificationTypes(mask);
        else
            s.pushNotificationDeferred = mask;
        report("requestPushNotification", &v, [&] {
            return s.started ? "asks for push registration, " + maskText(mask)
                             : "keeps push registration, " + maskText(mask) + ", until the first page shows"
                                   + (mask == 0 ? " (then nothing is registered)" : "");
        });
    }
    if (command(u, "setSoundEnabled")) {
        auto v = value("setSoundEnabled", u);
        if (v)
            ConfigSettings::setSoundEnabled(*v == "enabled");
        report("setSoundEnabled", &v, [&] {
            return !v ? nothingFor(v) : *v == "enabled" ? "turns the sound setting on" : "turns the sound setting off";
        });
    }
    if (command(u, "setIntroAnimationEnabled")) {
        auto v = value("setIntroAnimationEnabled", u);
        if (v)
            ConfigSettings::setIntroAnimationEnabled(*v == "enabled");
        report("setIntroAnimationEnabled", &v, [&] {
            return !v ? nothingFor(v)
                      : std::string(*v == "enabled" ? "turns the intro movie on" : "turns the intro movie off")
                            + " from the next launch";
        });
    }
    if (command(u, "changeApplicationBadge")) {
        auto v = value("changeApplicationBadge", u);
        if (v && application.respondsToSetApplicationIconBadgeNumber())
            application.setApplicationIconBadgeNumber(intValue(*v));
        report("changeApplicationBadge", &v, [&] {
            return !v ? nothingFor(v) : intValue(*v) == 0 ? "removes the icon badge" : "sets the icon badge to " + std::to_string(intValue(*v));
        });
    }

    processAlertParameters(u);

    if (command(u, "goToAppId")) {
        auto v = value("goToAppId", u);
        if (!isEmpty(v))
            openOutsideLinkCommand("goToAppId", v,
                                   std::string(storeBaseAddress) + "/WebObjects/MZStore.woa/wa/viewSoftware" + "?id=" + *v + "&mt=8");
        else
            report("goToAppId", &v, [&] { return nothingFor(v); });
    }
    if (command(u, "goToURL")) {
        auto v = value("goToURL", u);
        if (!isEmpty(v))
            openOutsideLinkCommand("goToURL", v, *v);
        else
            report("goToURL", &v, [&] { return nothingFor(v); });
    }
    if (command(u, "goToEncodedURL")) {
        auto v = value("goToEncodedURL", u);
        if (!isEmpty(v))
            openOutsideLinkCommand("goToEncodedURL", v, *v);
        else
            report("goToEncodedURL", &v, [&] { return nothingFor(v); });
    }
    if (command(u, "changeBgInstant")) {
        auto v = value("changeBgInstant", u);
        if (!isEmpty(v))
            changeBg(v);
        report("changeBgInstant", &v, [&] { return isEmpty(v) ? nothingFor(v) : "changes the background to " + *v + " at once"; });
    }

    auto tabBarCommands = [&](const char* pass) {
        if (contains(u, "hideTabBar=true")) {
            if (mayRun("hideTabBar=true")) {
                hideTabBar();
                report("hideTabBar=true", nullptr, [&] { return std::string("hides the tab bar") + pass; });
            }
        } else if (command(u, "showTabBar=true")) {
            showTabBar();
            report("showTabBar=true", nullptr, [&] { return std::string("shows the tab bar") + pass; });
        }
    };
    tabBarCommands("");

    for (int i = 0; i < 5; ++i) {
        std::string key = "setTab" + std::to_string(i) + "Badge";
        if (!command(u, key) || !parentTabBar_ || static_cast<size_t>(i) >= parentTabBar_->items().size())
            continue;
        auto v = Util::extractParamVal(key, u);
        parentTabBar_->items()[static_cast<size_t>(i)]->setBadgeValue(isEmpty(v) ? std::nullopt : v);
        report(key, &v, [&] {
            return isEmpty(v) ? "removes the badge of tab " + std::to_string(i)
                              : "sets the badge of tab " + std::to_string(i) + " to \"" + *v + "\"";
        });
    }

    if (contains(u, "stopLoad=true")) {
        report("stopLoad=true", nullptr, [] { return "refuses the load: the page stays"; });
        return answer(false, "\"stopLoad=true\" refuses the load once its commands have run");
    }

    if (s.lastPageLoadedWasLanding) {
        s.lastPageLoadedWasLanding = false;
        s.bgInterstitialToLoad = "bg_default.jpg";
    } else {
        s.bgInterstitialToLoad.reset();
    }

    bool refuse = false;
    runPageTable(u, refuse);
    if (refuse)
        return answer(false, "\"showABRecruit=true\" opens the Recruit screen instead of loading");

    if (command(u, "changeBgAfterLoad")) {
        auto v = value("changeBgAfterLoad", u);
        if (!isEmpty(v))
            s.bgToLoad = v;
        report("changeBgAfterLoad", &v, [&] {
            return isEmpty(v) ? nothingFor(v) : "background after loading: " + *v + ", over the page table's";
        });
    }
    tabBarCommands(" again, over the page table's choice");
    s.loading = true;
    if (s.firstLoad)
        return answer(true, "loads (before the first page has been shown: no loading-indicator timer)");

    if (s.timerIndicator) {
        if (s.timerIndicator->isValid())
            s.timerIndicator->invalidate();
        s.timerIndicator.reset();
    }
    s.timerIndicator = kit::Timer::scheduledTimer(2.0, [this] { showIndicator(); });
    return answer(true, "loads; the loading indicator shows if the load takes more than 2 s");
}

void WebViewDelegate::runPageTable(const std::string& url, bool& refuse)
{
    auto& s = state_;
    for (const PageRow& row : pageTable) {
        const char* matched = nullptr;
        for (const char* name : row.names)
            if (!matched && contains(url, name))
                matched = name;
        if (!matched)
            continue;
        if (observer_)
            observer_->pageRow(static_cast<int>(&row - pageTable) + 1, matched, describe(row));
        if (row.recruit) {
            if (mayRun("showABRecruit=true"))
                presentRecruit();
            refuse = true;
            return;
        }
        if (row.bg == PageRow::Bg::Set || (row.bg == PageRow::Bg::SetOnceStarted && s.started))
            s.bgToLoad = row.background;
        if (row.landing)
            s.lastPageLoadedWasLanding = true;
        switch (row.bar) {
        case PageRow::Bar::Hide:
            hideTabBar();
            break;
        case PageRow::Bar::Show:
            showTabBar();
            break;
        case PageRow::Bar::ShowOnceStarted:
            if (s.started)
                showTabBar();
            else
                s.showTabBar = true;
            break;
        case PageRow::Bar::None:
            break;
        }
        if (row.select == PageRow::Select::Item)
            selectTab(row.item);
        else if (row.select == PageRow::Select::Nothing)
            selectTab(std::nullopt);
        return;
    }
}

// A page-table row in plain words, as it applies in the current phase.
std::string WebViewDelegate::describe(const PageRow& row) const
{
    if (row.recruit)
        return "opens the Recruit screen and refuses the load";
    std::string text;
    if (row.bg == PageRow::Bg::Set || (row.bg == PageRow::Bg::SetOnceStarted && state_.started))
        text = std::string("background after loading: ") + row.background;
    else
        text = "background after loading: unchanged";
    if (row.landing)
        text += "; the next load gets the interstitial picture";
    switch (row.bar) {
    case PageRow::Bar::Hide:
        text += "; hides the tab bar";
        break;
    case PageRow::Bar::Show:
        text += "; shows the tab bar";
        break;
    case PageRow::Bar::ShowOnceStarted:
        text += state_.started ? "; shows the tab bar" : "; the tab bar shows with the first page";
        break;
    case PageRow::Bar::None:
        break;
    }
    if (row.select == PageRow::Select::Item)
        text += "; selects tab " + std::to_string(row.item);
    else if (row.select == PageRow::Select::Nothing)
        text += "; selects no tab";
    else
        text += "; leaves the tab selection alone";
    return text;
}

void WebViewDelegate::selectTab(std::optional<size_t> index)
{
    if (!parentTabBar_)
        return;
    const auto& items = parentTabBar_->items();
    parentTabBar_->setSelectedItem(index && *index < items.size() ? items[*index].get() : nullptr);
}

void WebViewDelegate::presentRecruit()
{
    auto screen = std::make_shared<RecruitABContainerController>("RecruitABContainer");
    screen->setParentTabBar(parentTabBar_);
    if (parentMainViewController_)
        parentMainViewController_->presentModalViewController(screen, true);
}

bool WebViewDelegate::command(std::string_view url, std::string_view key)
{
    return contains(url, key) && mayRun(key);
}

std::optional<WebViewDelegate::Untrusted> WebViewDelegate::untrustedSource(const kit::URLRequest& request)
{
    const kit::NavigationContext& led = request.navigation;
    auto target = GameServer::foreignHost(request.url);
    Untrusted source{target ? *target : kit::URL::host(request.url), std::nullopt, false};
    bool trustedLead = true;
    if (!led.byClient) {
        // A page that withholds its address counts as a foreign one.
        source.from = led.startingDocument ? kit::URL::host(*led.startingDocument) : "";
        trustedLead = led.startingDocument && !GameServer::foreignHost(*led.startingDocument);
    }
    if (led.redirect && trustedLead) {
        if (!led.hopsKnown) {
            trustedLead = false;
            source.from = "";
        }
        for (const std::string& hop : led.earlierHops) {
            if (!trustedLead)
                break;
            if (auto host = GameServer::foreignHost(hop)) {
                trustedLead = false;
                source.from = *host;
            }
        }
    }
    if (!target && trustedLead)
        return std::nullopt;
    source.targetForeign = target.has_value();
    return source;
}

bool WebViewDelegate::mayRun(std::string_view key)
{
    if (!untrusted_)
        return true;
    const Untrusted& u = *untrusted_;
    kit::emit("ignored-command", {{"command", key}, {"host", u.host}, {"from", u.from ? nlohmann::json(*u.from) : nlohmann::json()}});
    report(key, nullptr, [&] {
        if (u.targetForeign)
            return "does nothing: the page's host \"" + u.host + "\" is not the game server's (see --trusted-host)";
        if (u.from && u.from->empty())
            return std::string("does nothing: a page that does not say where it is led here, and only the game server's "
                               "pages may give commands");
        return "does nothing: \"" + u.from.value_or("") + "\" led here, and it is not the game server's (see --trusted-host)";
    });
    return false;
}

WebViewDelegate::OutsideLink WebViewDelegate::openOutsideURL(const std::optional<std::string>& text)
{
    if (!text)
        return OutsideLink::NotAURL;
    auto url = kit::URL::URLWithString(*text);
    if (!url)
        return OutsideLink::NotAURL;
    return kit::Application::sharedApplication().openURL(*url) ? OutsideLink::Opened : OutsideLink::Refused;
}

void WebViewDelegate::openOutsideLinkCommand(std::string_view keyWord, const std::optional<std::string>& value,
                                             const std::string& link)
{
    OutsideLink outcome = openOutsideURL(link);
    report(keyWord, &value, [&] {
        switch (outcome) {
        case OutsideLink::Opened:
            return "opens " + link + " outside the application";
        case OutsideLink::NotAURL:
            return "opens nothing: " + link + " is not a URL";
        case OutsideLink::Refused:
            break;
        }
        return "opens nothing: only http and https links leave the application (" + link + ")";
    });
}

// Page alerts, vibration and sounds.

std::shared_ptr<kit::AlertView> WebViewDelegate::showAlert(std::optional<std::string> title, std::optional<std::string> message,
                                                           std::optional<std::string> cancel, std::optional<std::string> other)
{
    // Labels that do not decode would leave an alert no one can close: it gets the usual "OK",
    // which presses as the page's own first button would.
    if (!cancel && !other)
        other = "OK";
    auto alert = std::make_shared<kit::AlertView>(std::move(title), std::move(message), sharedAs<kit::Object>(),
                                                  std::move(cancel), std::vector<std::optional<std::string>>{std::move(other)});
    alert->show();
    return alert;
}

void WebViewDelegate::processAlertParameters(const std::string& u)
{
    auto& s = state_;
    if (command(u, "invokeVibrate=true")) {
        kit::AudioServices::playSystemSound(kit::kSystemSoundID_Vibrate);
        report("invokeVibrate=true", nullptr, [] { return "vibrates"; });
    }

    if (contains(u, "invokeAlertOneBtnTitle") && contains(u, "invokeAlertOneBtnBody") && contains(u, "invokeAlertOneBtnName")
        && mayRun("invokeAlertOneBtn")) {
        auto title = value("invokeAlertOneBtnTitle", u);
        auto body = value("invokeAlertOneBtnBody", u);
        auto name = value("invokeAlertOneBtnName", u);
        auto script = value("invokeAlertOneBtnJS", u);
        if (!isEmpty(script)) {
            s.btn0JS = script;
            s.btn1JS = script;
        }
        auto alert = showAlert(title, body, std::nullopt, name);
        if (observer_) {
            report("invokeAlertOneBtnTitle", &title, [] { return "one-button alert: its title"; });
            report("invokeAlertOneBtnBody", &body, [] { return "one-button alert: its message"; });
            report("invokeAlertOneBtnName", &name, [] { return "one-button alert: its button's label"; });
            if (contains(u, "invokeAlertOneBtnJS"))
                report("invokeAlertOneBtnJS", &script, [&] {
                    return isEmpty(script) ? "one-button alert: no script, so the button runs whatever an earlier alert left"
                                           : "one-button alert: the script its button runs";
                });
            observer_->alertShown(*alert);
        }
    }

    if (contains(u, "invokeAlertTwoBtnTitle") && contains(u, "invokeAlertTwoBtnBody") && contains(u, "invokeAlertTwoBtn1Name")
        && contains(u, "invokeAlertTwoBtn2Name") && mayRun("invokeAlertTwoBtn")) {
        auto title = value("invokeAlertTwoBtnTitle", u);
        auto body = value("invokeAlertTwoBtnBody", u);
        auto first = value("invokeAlertTwoBtn1Name", u);
        auto second = value("invokeAlertTwoBtn2Name", u);
        auto firstScript = value("invokeAlertTwoBtn1JS", u);
        auto secondScript = value("invokeAlertTwoBtn2JS", u);
        bool storesScripts = !isEmpty(firstScript) && !isEmpty(secondScript);
        if (storesScripts) {
            s.btn0JS = firstScript;
            s.btn1JS = secondScript;
        }
        auto alert = showAlert(title, body, first, second);
        if (observer_) {
            report("invokeAlertTwoBtnTitle", &title, [] { return "two-button alert: its title"; });
            report("invokeAlertTwoBtnBody", &body, [] { return "two-button alert: its message"; });
            report("invokeAlertTwoBtn1Name", &first, [] { return "two-button alert: its first button's label"; });
            report("invokeAlertTwoBtn2Name", &second, [] { return "two-button alert: its second button's label"; });
            auto scriptEffect = [&](const char* which) {
                return storesScripts ? std::string("two-button alert: the script its ") + which + " button runs"
                                     : std::string("two-button alert: not kept, as both scripts are needed; "
                                                   "the buttons run whatever an earlier alert left");
            };
            if (contains(u, "invokeAlertTwoBtn1JS"))
                report("invokeAlertTwoBtn1JS", &firstScript, [&] { return scriptEffect("first"); });
            if (contains(u, "invokeAlertTwoBtn2JS"))
                report("invokeAlertTwoBtn2JS", &secondScript, [&] { return scriptEffect("second"); });
            observer_->alertShown(*alert);
        }
    }

    if (command(u, "invokeTapSound=true")) {
        auto delay = value("invokeSoundDelay", u);
        double seconds = isEmpty(delay) ? 0.0 : doubleValue(*delay);
        bool now = isEmpty(delay) || std::isnan(seconds) || seconds <= 0;
        if (now) {
            kit::AudioServices::playSystemSound(s.tapSound);
        } else {
            s.soundToPlay = s.tapSound;
            kit::Timer::scheduledTimer(seconds, [this] { playSoundDelayed(); });
        }
        report("invokeTapSound=true", nullptr, [&] { return now ? "plays the tap sound now" : "plays the tap sound later"; });
        if (contains(u, "invokeSoundDelay"))
            report("invokeSoundDelay", &delay, [&] {
                return now ? std::string("the tap sound's delay: not a number above 0, so the tap plays at once")
                           : "the tap sound's delay: " + *delay + " s";
            });
    }

    if (command(u, "invokeSoundAIF")) {
        auto name = value("invokeSoundAIF", u);
        playOrDeferNamedSound(name, "aif", s.soundFileAIFDeferred, s.soundFileCAFDeferred);
        report("invokeSoundAIF", &name, [&] { return namedSoundEffect(name, "aif"); });
    }
    if (command(u, "invokeSoundCAF")) {
        auto name = value("invokeSoundCAF", u);
        playOrDeferNamedSound(name, "caf", s.soundFileCAFDeferred, s.soundFileAIFDeferred);
        report("invokeSoundCAF", &name, [&] { return namedSoundEffect(name, "caf"); });
    }
}

std::string WebViewDelegate::namedSoundEffect(const std::optional<std::string>& name, const char* type) const
{
    if (!name || name->empty()) {
        std::string why = name ? "the name is empty" : "the name does not decode";
        return state_.introAnimationCompleted ? "plays nothing: " + why
                                              : "keeps no sound for the end of the intro (" + why + "), dropping any waiting one";
    }
    std::string file = *name + "." + type;
    if (state_.introAnimationCompleted)
        return "plays the sound " + file;
    return "keeps the sound " + file + " until the intro has ended; a later sound request replaces it";
}

// A named sound plays at once after the intro; before, it waits, and only the latest request of
// either type survives.
void WebViewDelegate::playOrDeferNamedSound(const std::optional<std::string>& name, const char* type,
                                            std::optional<std::string>& deferred, std::optional<std::string>& otherDeferred)
{
    if (state_.introAnimationCompleted) {
        if (name)
            SoundEffect::playSoundFromBundledFile(*name, type);
        return;
    }
    deferred = name;
    otherDeferred.reset();
}

void WebViewDelegate::clickedButtonAtIndex(kit::AlertView&, int index)
{
    const std::optional<std::string>* script = nullptr;
    if (index == 0)
        script = &state_.btn0JS;
    else if (index == 1)
        script = &state_.btn1JS;
    if (script && !isEmpty(*script) && parentWebView_)
        parentWebView_->stringByEvaluatingJavaScriptFromString(**script);
}

void WebViewDelegate::playSoundDelayed() { kit::AudioServices::playSystemSound(state_.soundToPlay); }

// The page-load lifecycle.

void WebViewDelegate::webViewDidStartLoad(kit::WebView& webView)
{
    auto& s = state_;
    if (s.firstLoad) {
        if (s.introSequenceCompleted && activityIndicatorView_)
            activityIndicatorView_->startAnimating();
        kit::Timer::scheduledTimer(20.0, [this] { checkIfLoadFinished(); });
    }
    if (s.bgInterstitialToLoad) {
        showIndicator();
        webView.setHidden(true);
        auto image = kit::Image::imageNamed(*s.bgInterstitialToLoad);
        if (imageViewBg_)
            imageViewBg_->setImage(image);
        if (secondImageViewBg_)
            secondImageViewBg_->setImage(image);
        s.showWebViewDelayed = true;
    }
}

void WebViewDelegate::webViewDidFinishLoad(kit::WebView& webView)
{
    state_.loading = false;
    if (state_.introSequenceCompleted)
        webViewDidFinishLoadCore(webView);
}

void WebViewDelegate::webViewDidFinishLoadCore(kit::WebView& webView)
{
    auto& s = state_;
    hideIndicators();
    if (s.showWebViewDelayed) {
        changeBg(s.bgToLoad);
        kit::Timer::scheduledTimer(0.06, [this] { showWebView(); });
    } else {
        if (s.firstLoad) {
            // An instant background change may already have used the first-page fade; the
            // swap is then an ordinary one and would leave the page transparent for good.
            bool fadeWillReveal = !s.secondImageViewShown;
            webView.setAlpha(0.0);
            changeBg(s.bgToLoad);
            if (!fadeWillReveal)
                revealFirstPage(nullptr);
        } else {
            changeBg(s.bgToLoad);
            webView.setAlpha(1.0);
        }
        webView.setHidden(false);
    }
    if (activityIndicatorView_)
        activityIndicatorView_->setCenter({160, 230});
    if (s.showTabBar && !s.firstLoad)
        showTabBar();
    s.firstLoad = false;
    s.started = true;
    if (s.pushNotificationDeferred != 0) {
        auto& application = kit::Application::sharedApplication();
        if (application.respondsToRegisterForRemoteNotificationTypes())
            application.registerForRemoteNotificationTypes(s.pushNotificationDeferred);
        s.pushNotificationDeferred = 0;
    }
}

void WebViewDelegate::didFailLoadWithError(kit::WebView&, const kit::Error& error)
{
    if (error.code == kit::NetworkError::Cancelled)
        return;
    hideIndicators();
    switch (error.code) {
    case kit::NetworkError::NotConnectedToInternet:
    case kit::NetworkError::TimedOut:
    case kit::NetworkError::CannotFindHost:
    case kit::NetworkError::NetworkConnectionLost:
    case kit::NetworkError::CannotConnectToHost:
        unableToReachInternet();
        if (parentWebView_)
            parentWebView_->stopLoading();
        return;
    default:
        break;
    }
    std::string message = "Unknown error occurred (" + error.description + ").  Please close the application and try again.";
    if (state_.introAnimationCompleted)
        showUnknownErrorAlert(message);
    else
        state_.errorMessageDeferred = message;
}

void WebViewDelegate::checkIfLoadFinished()
{
    if (!state_.firstLoad)
        return;
    hideIndicators();
    if (!state_.isUnableToReachInternet)
        unableToReachInternet();
}

void WebViewDelegate::showWebView()
{
    if (!parentWebView_)
        return;
    parentWebView_->setHidden(false);
    parentWebView_->setAlpha(1.0);
}

void WebViewDelegate::showIndicator()
{
    // Released, not cancelled: a timer that has not fired yet still fires and comes here again.
    state_.timerIndicator.reset();
    if (state_.loading && activityIndicatorView_)
        activityIndicatorView_->startAnimating();
}

void WebViewDelegate::hideIndicators()
{
    if (activityIndicatorView_)
        activityIndicatorView_->stopAnimating();
}

void WebViewDelegate::unableToReachInternet()
{
    if (state_.introAnimationCompleted) {
        showAlert("Unable to Reach Internet", "You must have access to the Internet in order to use this application.",
                  std::nullopt, "OK");
        state_.unableToReachInternetDeferred = false;
    } else {
        state_.unableToReachInternetDeferred = true;
    }
    state_.isUnableToReachInternet = true;
}

void WebViewDelegate::showUnknownErrorAlert(const std::string& message)
{
    showAlert("Unknown Error", message, std::nullopt, "OK");
}

void WebViewDelegate::processTransactionResponse(const std::string& text) { processAlertParameters(text); }

// Backgrounds, the intro and the tab bar.

void WebViewDelegate::changeBg(const std::optional<std::string>& name)
{
    if (!parentMainViewController_ || !imageViewBg_ || !secondImageViewBg_)
        return;
    auto mainView = parentMainViewController_->view();
    auto image = name ? kit::Image::imageNamed(*name) : nullptr;
    if (state_.secondImageViewShown) {
        mainView->sendSubviewToBack(*imageViewBg_);
        imageViewBg_->setImage(image);
        imageViewBg_->setAlpha(1.0);
        kit::View::beginAnimations();
        kit::View::setAnimationDuration(0.1);
        secondImageViewBg_->setAlpha(0.0);
        kit::View::commitAnimations();
        state_.secondImageViewShown = false;
        return;
    }
    mainView->sendSubviewToBack(*secondImageViewBg_);
    secondImageViewBg_->setImage(image);
    if (state_.firstLoad) {
        secondImageViewBg_->setAlpha(0.0);
        kit::View::beginAnimations();
        kit::View::setAnimationDuration(0.3);
        kit::View::setAnimationDidStop([this] { fadeAnimationDone(); });
    } else {
        secondImageViewBg_->setAlpha(1.0);
        kit::View::beginAnimations();
        kit::View::setAnimationDuration(0.1);
    }
    imageViewBg_->setAlpha(0.0);
    kit::View::commitAnimations();
    state_.secondImageViewShown = true;
}

void WebViewDelegate::fadeAnimationDone() { revealFirstPage(secondImageViewBg_.get()); }

// The first page fades in with the tab bar (when wanted) and, on the first-page path, with the
// new background layer.
void WebViewDelegate::revealFirstPage(kit::ImageView* background)
{
    if (parentWebView_)
        parentWebView_->setHidden(false);
    if (state_.showTabBar && parentTabBar_) {
        parentTabBar_->setAlpha(0.0);
        showTabBar();
    }
    kit::View::beginAnimations();
    kit::View::setAnimationDuration(0.3);
    if (state_.showTabBar && parentTabBar_)
        parentTabBar_->setAlpha(1.0);
    if (background)
        background->setAlpha(1.0);
    if (parentWebView_)
        parentWebView_->setAlpha(1.0);
    kit::View::commitAnimations();
}

void WebViewDelegate::hideTabBar()
{
    if (parentTabBar_ && !parentTabBar_->isHidden()) {
        if (parentWebView_) {
            auto frame = parentWebView_->frame();
            frame.size.height = kit::Screen::mainScreen().applicationFrame().size.height;
            parentWebView_->setFrame(frame);
        }
        parentTabBar_->setHidden(true);
    }
    state_.showTabBar = false;
}

void WebViewDelegate::showTabBar()
{
    if (parentTabBar_ && parentTabBar_->isHidden()) {
        if (parentWebView_) {
            auto frame = parentWebView_->frame();
            frame.size.height = kit::Screen::mainScreen().applicationFrame().size.height - 50.0;
            parentWebView_->setFrame(frame);
        }
        parentTabBar_->setHidden(false);
    }
    state_.showTabBar = true;
}

void WebViewDelegate::completeIntroAnimations()
{
    auto& s = state_;
    if (imageViewBg_) {
        if (ConfigSettings::introAnimationEnabled()) {
            imageViewBg_->setAlpha(1.0);
            imageViewBg_->setHidden(false);
        } else {
            imageViewBg_->setAlpha(0.0);
            imageViewBg_->setHidden(false);
            kit::View::beginAnimations();
            kit::View::setAnimationDuration(0.6);
            imageViewBg_->setAlpha(1.0);
            kit::View::commitAnimations();
        }
    }
    if (parentMainViewController_ && parentWebView_) {
        auto mainView = parentMainViewController_->view();
        mainView->addSubview(parentWebView_);
        if (activityIndicatorView_)
            mainView->bringSubviewToFront(*activityIndicatorView_);
    }
    s.introAnimationCompleted = true;
    kit::Timer::scheduledTimer(2.4, [this] { completeIntroSequence(); });
    if (s.soundFileAIFDeferred) {
        auto name = std::move(*s.soundFileAIFDeferred);
        s.soundFileAIFDeferred.reset();
        SoundEffect::playSoundFromBundledFile(name, "aif");
    }
    if (s.soundFileCAFDeferred) {
        auto name = std::move(*s.soundFileCAFDeferred);
        s.soundFileCAFDeferred.reset();
        SoundEffect::playSoundFromBundledFile(name, "caf");
    }
    if (s.unableToReachInternetDeferred)
        unableToReachInternet();
    if (s.errorMessageDeferred) {
        auto message = std::move(*s.errorMessageDeferred);
        s.errorMessageDeferred.reset();
        showUnknownErrorAlert(message);
    }
}

void WebViewDelegate::completeIntroSequence()
{
    auto& s = state_;
    if (!s.loading) {
        if (parentWebView_)
            webViewDidFinishLoadCore(*parentWebView_);
    } else if (!s.isUnableToReachInternet) {
        if (activityIndicatorView_)
            activityIndicatorView_->startAnimating();
    }
    s.introSequenceCompleted = true;
}

} // namespace street
