#pragma once

#include "kit/Object.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kit {

class AlertView;

class AlertViewDelegate {
public:
    virtual ~AlertViewDelegate() = default;
    virtual void clickedButtonAtIndex(AlertView&, int) {}
};

// Draws alerts for a backend that has a screen. It is told when an alert comes up and when it
// goes; the alert itself keeps the state.
class AlertViewPresenter {
public:
    virtual ~AlertViewPresenter() = default;
    virtual void alertShown(AlertView&) {}
    virtual void alertDismissed(AlertView&) {}
};

// A modal alert box. Button indices: the cancel button (when there is one) is 0, the other
// buttons follow in order. A button whose label is none is left out.
class AlertView : public Object {
public:
    struct TextField {
        std::string text;
        std::string placeholder;
    };

    // A longer title or message (pages and servers choose them) is cut to this many characters
    // and ends with an ellipsis.
    static constexpr size_t maxTextCharacters = 4000;
    // Alerts on screen at once. show() beyond that draws nothing and records the drop: its alert
    // never becomes visible, and no button of it can be pressed.
    static constexpr size_t maxVisibleAlerts = 16;
    static std::optional<std::string> shortened(std::optional<std::string> text);

    AlertView(std::optional<std::string> title, std::optional<std::string> message,
              const std::shared_ptr<Object>& delegate, std::optional<std::string> cancelButtonTitle,
              std::vector<std::optional<std::string>> otherButtonTitles);

    const std::optional<std::string>& title() const { return title_; }
    const std::optional<std::string>& message() const { return message_; }
    const std::vector<std::string>& buttonTitles() const { return buttons_; }
    int cancelButtonIndex() const { return hasCancel_ ? 0 : -1; }
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

    void addTextFieldWithValue(std::string value, std::string label);
    // None when the alert has no field at that index.
    TextField* textFieldAtIndex(size_t index);

    bool isVisible() const { return visible_; }
    void show();
    // The user pressed button `index`: the alert closes and its delegate hears of it.
    void dismissWithClickedButtonIndex(int index);

    // Alerts on screen, frontmost last.
    static std::vector<std::shared_ptr<AlertView>> visibleAlerts();
    static std::shared_ptr<AlertView> frontmost();
    static void dismissAll();
    // None (the default) leaves alerts undrawn, as headless.
    static void setPresenter(AlertViewPresenter* presenter);

private:
    std::optional<std::string> title_;
    std::optional<std::string> message_;
    std::weak_ptr<Object> delegate_;
    std::vector<std::string> buttons_;
    bool hasCancel_ = false;
    int tag_ = 0;
    std::optional<TextField> field_;
    bool visible_ = false;
};

} // namespace kit
