#include "kit/AlertView.h"

#include "kit/Events.h"

#include <algorithm>

namespace kit {

static std::vector<std::shared_ptr<AlertView>>& onScreen()
{
    static auto* alerts = new std::vector<std::shared_ptr<AlertView>>();
    return *alerts;
}

std::optional<std::string> AlertView::shortened(std::optional<std::string> text)
{
    if (!text)
        return text;
    // Count characters by their first bytes, so the cut never splits one.
    size_t characters = 0;
    for (size_t i = 0; i < text->size(); ++i) {
        if ((static_cast<unsigned char>((*text)[i]) & 0xC0) == 0x80)
            continue;
        if (++characters > maxTextCharacters) {
            text->resize(i);
            *text += "\u2026";
            break;
        }
    }
    return text;
}

static AlertViewPresenter* presenter = nullptr;

void AlertView::setPresenter(AlertViewPresenter* newPresenter) { presenter = newPresenter; }

AlertView::AlertView(std::optional<std::string> title, std::optional<std::string> message,
                     const std::shared_ptr<Object>& delegate, std::optional<std::string> cancelButtonTitle,
                     std::vector<std::optional<std::string>> otherButtonTitles)
    : title_(shortened(std::move(title)))
    , message_(shortened(std::move(message)))
    , delegate_(delegate)
{
    if (cancelButtonTitle) {
        buttons_.push_back(*cancelButtonTitle);
        hasCancel_ = true;
    }
    for (auto& label : otherButtonTitles)
        if (label)
            buttons_.push_back(*label);
}

void AlertView::addTextFieldWithValue(std::string value, std::string label)
{
    field_ = TextField{std::move(value), std::move(label)};
}

AlertView::TextField* AlertView::textFieldAtIndex(size_t index)
{
    return index == 0 && field_ ? &*field_ : nullptr;
}

static nlohmann::json textOrNull(const std::optional<std::string>& text)
{
    return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

void AlertView::show()
{
    if (visible_)
        return;
    // Pages can ask for alerts without end; the player could never close them all.
    if (onScreen().size() >= maxVisibleAlerts) {
        emit("alert-dropped", {{"title", textOrNull(title_)}});
        return;
    }
    visible_ = true;
    onScreen().push_back(sharedAs<AlertView>());
    nlohmann::json fields = {{"title", textOrNull(title_)}, {"message", textOrNull(message_)},
                             {"buttons", buttons_}, {"tag", tag_}};
    if (field_)
        fields["field"] = {{"value", field_->text}, {"placeholder", field_->placeholder}};
    emit("alert", std::move(fields));
    if (presenter)
        presenter->alertShown(*this);
}

void AlertView::dismissWithClickedButtonIndex(int index)
{
    if (!visible_)
        return;
    auto keep = sharedAs<AlertView>();
    visible_ = false;
    auto& alerts = onScreen();
    alerts.erase(std::remove(alerts.begin(), alerts.end(), keep), alerts.end());
    if (presenter)
        presenter->alertDismissed(*this);
    emit("alert-press", {{"title", textOrNull(title_)}, {"index", index}});
    auto delegate = delegate_.lock();
    if (auto* d = dynamic_cast<AlertViewDelegate*>(delegate.get()))
        d->clickedButtonAtIndex(*this, index);
}

std::vector<std::shared_ptr<AlertView>> AlertView::visibleAlerts() { return onScreen(); }

std::shared_ptr<AlertView> AlertView::frontmost() { return onScreen().empty() ? nullptr : onScreen().back(); }

void AlertView::dismissAll()
{
    auto alerts = std::move(onScreen());
    onScreen().clear();
    for (auto& alert : alerts) {
        alert->visible_ = false;
        if (presenter)
            presenter->alertDismissed(*alert);
    }
}

} // namespace kit
