#include "app/Explanation.h"

#include "app/Util.h"
#include "app/WebViewDelegate.h"
#include "kit/AlertView.h"
#include "kit/TabBar.h"
#include "kit/Text.h"

#include <algorithm>

namespace street {

namespace {

bool contains(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

// One substitution, insertion or deletion, or two neighbours swapped; `a` and `b` differ.
bool withinOneEdit(std::string_view a, std::string_view b)
{
    if (a.size() > b.size())
        std::swap(a, b);
    if (b.size() - a.size() > 1)
        return false;
    size_t i = 0;
    while (i < a.size() && a[i] == b[i])
        ++i;
    if (a.size() < b.size())
        return a.substr(i) == b.substr(i + 1);
    if (i >= a.size())
        return false;
    if (a.substr(i + 1) == b.substr(i + 1))
        return true;
    return i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] && a.substr(i + 2) == b.substr(i + 2);
}

// A key word as a pair name: "stopLoad=true" is the name "stopLoad" that only counts with "true".
struct KeyWord {
    std::string_view name;
    std::string folded;  // lower case
    bool boolean;
};

const std::vector<KeyWord>& keyWords()
{
    static const std::vector<KeyWord> words = [] {
        std::vector<KeyWord> list;
        for (std::string_view word : WebViewDelegate::commandKeyWords()) {
            bool boolean = word.ends_with("=true");
            std::string_view name = boolean ? word.substr(0, word.size() - 5) : word;
            list.push_back({name, kit::Text::asciiLowercase(name), boolean});
        }
        return list;
    }();
    return words;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    while (true) {
        size_t at = text.find(separator);
        pieces.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return pieces;
        text.remove_prefix(at + 1);
    }
}

// A text in double quotes with JSON escapes, so blanks and control characters show.
std::string shown(std::string_view text)
{
    return nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string shownValue(const std::optional<std::string>& text) { return text ? shown(*text) : "(does not decode)"; }

class NearMissFinder {
public:
    explicit NearMissFinder(std::string_view url) : url_(url) {}

    std::vector<Explanation::Warning> run()
    {
        if (contains(url_, "index.php")) {
            for (const KeyWord& word : words_)
                if (contains(url_, word.name)) {
                    add("index-php", "", "the URL holds \"index.php\", so the client runs none of its commands ("
                                             + std::string(word.name) + " included)");
                    break;
                }
            return std::move(warnings_);
        }
        size_t start = url_.find('?');
        if (start == std::string_view::npos)
            start = url_.find('#');
        if (start == std::string_view::npos)
            return std::move(warnings_);
        std::string_view rest = url_.substr(start + 1);
        // After a "?", a later "#" starts the fragment: the client's split at "&" glues its first
        // pair to the query's last one.
        size_t hash = url_[start] == '?' ? rest.find('#') : std::string_view::npos;
        for (std::string_view piece : split(rest.substr(0, hash), '&'))
            checkPair(piece);
        if (hash != std::string_view::npos)
            for (std::string_view piece : split(rest.substr(hash + 1), '&'))
                checkFragmentPair(piece);
        return std::move(warnings_);
    }

private:
    void add(std::string kind, std::string_view name, std::string text)
    {
        for (const auto& [k, n] : seen_)
            if (k == kind && n == name)
                return;
        seen_.emplace_back(kind, std::string(name));
        warnings_.push_back({std::move(kind), std::move(text)});
    }

    const KeyWord* exact(std::string_view name) const
    {
        for (const KeyWord& word : words_)
            if (word.name == name)
                return &word;
        return nullptr;
    }

    void checkPair(std::string_view piece)
    {
        size_t eq = piece.find('=');
        std::string_view name = piece.substr(0, eq);
        if (name.empty() || contains(name, "#"))
            return;
        if (const KeyWord* word = exact(name))
            return checkKeyWordPair(*word, piece, eq);

        std::string folded = kit::Text::asciiLowercase(name);
        for (const KeyWord& word : words_)
            if (folded == word.folded)
                return add("case", name, shown(name) + " is " + shown(word.name) + " in the wrong case: key words are case-sensitive");
        for (const KeyWord& word : words_)
            if (withinOneEdit(folded, word.folded))
                return add("edit", name, shown(name) + " is one edit away from the key word " + shown(word.name)
                                             + (contains(name, word.name) ? ": the client finds the key word inside it but reads no value"
                                                                          : ": the client does not see it"));
        for (const KeyWord& word : words_) {
            if (!contains(name, word.name))
                continue;
            if (!word.boolean)
                return add("inside", name, shown(name) + " holds the key word " + shown(word.name)
                                               + ": the client runs that command but reads no value for it");
            if (!contains(url_, std::string(word.name) + "=true"))
                return add("inside", name, shown(name) + " holds " + shown(word.name) + ", but the client looks for "
                                               + shown(std::string(word.name) + "=true"));
        }
    }

    void checkKeyWordPair(const KeyWord& word, std::string_view piece, size_t eq)
    {
        std::string_view value = eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
        if (word.boolean) {
            if (eq == std::string_view::npos || !value.starts_with("true"))
                add("boolean", word.name, shown(piece) + ": the client only acts on " + shown(std::string(word.name) + "=true"));
            return;
        }
        if (eq != std::string_view::npos && contains(value, "="))
            return add("two-equals", word.name, shown(word.name) + " has a second \"=\" in its pair, so the client never reads "
                                                    "its value; write \"=\" in a value as %3D");
        if (!Util::extractParamVal(word.name, "?" + std::string(piece)))
            return add("decode", word.name, "the value of " + shown(word.name) + " does not decode (a \"%\" without two hex "
                                            "digits, or a byte outside ASCII), so the client reads none");
        // What a form sends for a blank; the client decodes %XX only.
        if (contains(value, "+"))
            add("plus", word.name, "the value of " + shown(word.name) + " holds \"+\", which the client keeps as \"+\"; "
                                   "a blank is %20");
    }

    void checkFragmentPair(std::string_view piece)
    {
        size_t eq = piece.find('=');
        const KeyWord* word = exact(piece.substr(0, eq));
        if (!word) {
            checkPair(piece);
            return;
        }
        if (word->boolean || eq == std::string_view::npos || contains(piece.substr(eq + 1), "="))
            return checkKeyWordPair(*word, piece, eq);
        if (Util::extractParamVal(word->name, url_) != Util::extractParamVal(word->name, "?" + std::string(piece)))
            add("after-hash", word->name, shown(piece) + " stands after \"#\": the client reads pairs from the \"?\" on, "
                                              "and there this one is glued to the pair before it, so it is not read");
    }

    std::string_view url_;
    const std::vector<KeyWord>& words_ = keyWords();
    std::vector<Explanation::Warning> warnings_;
    std::vector<std::pair<std::string, std::string>> seen_;
};

} // namespace

Explanation::Explanation(std::string url, Phase phase)
    : url_(std::move(url))
    , phase_(phase)
{
}

void Explanation::command(const Command& command)
{
    commands_.push_back({std::string(command.keyWord), command.valueRead, command.value, command.effect});
}

void Explanation::alertShown(const kit::AlertView& alert)
{
    Alert shown{alert.title(), alert.message(), {}};
    for (const std::string& label : alert.buttonTitles())
        shown.buttons.push_back({label, std::nullopt});
    alerts_.push_back(std::move(shown));
}

void Explanation::pageRow(int number, std::string_view page, const std::string& effect)
{
    row_ = Row{number, std::string(page), effect};
}

void Explanation::decided(bool allow, const std::string& why)
{
    allow_ = allow;
    why_ = why;
}

void Explanation::finish(const WebViewDelegate& delegate, const kit::TabBar& tabBar)
{
    const auto& state = delegate.state();
    // A button press runs the script in force then: what the whole URL has left.
    for (Alert& alert : alerts_)
        for (size_t i = 0; i < alert.buttons.size() && i < 2; ++i)
            alert.buttons[i].script = i == 0 ? state.btn0JS : state.btn1JS;
    if (allow_ && row_) {
        After after;
        after.background = state.bgToLoad;
        after.tabBar = !tabBar.isHidden() ? "shown" : state.showTabBar ? "shown with the first page" : "hidden";
        after.selectedTab = tabBar.selectedIndex();
        for (const auto& item : tabBar.items())
            after.badges.push_back(item->badgeValue());
        after_ = std::move(after);
    }
    warnings_ = nearMisses(url_);
}

std::vector<Explanation::Warning> Explanation::nearMisses(std::string_view url) { return NearMissFinder(url).run(); }

std::string Explanation::text(std::string_view indent) const
{
    std::string out;
    auto line = [&](const std::string& text) {
        out.append(indent);
        out += text;
        out += '\n';
    };
    line("URL: " + url_);
    line(phase_ == Phase::Started ? "Phase: started (the first page has been shown)"
                                  : "Phase: first load (before the first page has been shown)");
    line(std::string(allow_ ? "Allowed: " : "Refused: ") + why_);
    if (commands_.empty())
        line("Commands: none");
    else
        line("Commands, in the order the client runs them:");
    for (size_t i = 0; i < commands_.size(); ++i) {
        const Found& c = commands_[i];
        line("  " + std::to_string(i + 1) + ". " + c.keyWord + (c.valueRead ? " = " + shownValue(c.value) : "") + ": " + c.effect);
    }
    if (row_)
        line("Page: row " + std::to_string(row_->number) + ", " + (row_->page.empty() ? "any other page" : shown(row_->page))
             + ": " + row_->effect);
    if (after_) {
        std::string text = "After loading: background " + (after_->background ? *after_->background : "none") + "; tab bar "
                         + after_->tabBar + "; "
                         + (after_->selectedTab ? "tab " + std::to_string(*after_->selectedTab) + " selected" : "no tab selected");
        for (size_t i = 0; i < after_->badges.size(); ++i)
            if (after_->badges[i])
                text += "; tab " + std::to_string(i) + " badge " + shown(*after_->badges[i]);
        line(text);
    }
    for (const Alert& alert : alerts_) {
        line("Alert: title " + shownValue(alert.title) + ", message " + shownValue(alert.message));
        if (alert.buttons.empty())
            line("  no buttons");
        for (size_t i = 0; i < alert.buttons.size(); ++i) {
            const Button& b = alert.buttons[i];
            line("  button " + std::to_string(i) + " " + shown(b.label) + " runs "
                 + (b.script ? shown(*b.script) : "no script (unless an earlier alert left one)"));
        }
    }
    if (warnings_.empty())
        line("Warnings: none");
    else
        line("Warnings:");
    for (const Warning& w : warnings_)
        line("  ! " + w.text);
    return out;
}

nlohmann::json Explanation::json() const
{
    auto textOrNull = [](const std::optional<std::string>& text) { return text ? nlohmann::json(*text) : nlohmann::json(); };
    nlohmann::json commands = nlohmann::json::array();
    for (const Found& c : commands_) {
        nlohmann::json entry = {{"key", c.keyWord}, {"effect", c.effect}};
        if (c.valueRead)
            entry["value"] = textOrNull(c.value);
        commands.push_back(std::move(entry));
    }
    nlohmann::json alerts = nlohmann::json::array();
    for (const Alert& alert : alerts_) {
        nlohmann::json buttons = nlohmann::json::array();
        for (const Button& b : alert.buttons)
            buttons.push_back({{"label", b.label}, {"runs", textOrNull(b.script)}});
        alerts.push_back({{"title", textOrNull(alert.title)}, {"message", textOrNull(alert.message)}, {"buttons", buttons}});
    }
    nlohmann::json page;
    if (row_)
        page = {{"row", row_->number}, {"name", row_->page}, {"effect", row_->effect}};
    nlohmann::json after;
    if (after_) {
        nlohmann::json badges = nlohmann::json::array();
        for (const auto& badge : after_->badges)
            badges.push_back(textOrNull(badge));
        after = {{"background", textOrNull(after_->background)},
                 {"tabBar", after_->tabBar},
                 {"selectedTab", after_->selectedTab ? nlohmann::json(*after_->selectedTab) : nlohmann::json()},
                 {"badges", badges}};
    }
    nlohmann::json warnings = nlohmann::json::array();
    for (const Warning& w : warnings_)
        warnings.push_back({{"kind", w.kind}, {"text", w.text}});
    return {{"url", url_},
            {"phase", phase_ == Phase::Started ? "started" : "first-load"},
            {"allow", allow_},
            {"why", why_},
            {"commands", commands},
            {"alerts", alerts},
            {"page", page},
            {"after", after},
            {"warnings", warnings}};
}

} // namespace street
