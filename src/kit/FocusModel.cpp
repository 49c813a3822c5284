#include "kit/FocusModel.h"

#include "kit/AlertView.h"
#include "kit/Application.h"
#include "kit/Button.h"
#include "kit/TabBar.h"
#include "kit/TableView.h"
#include "kit/Toolbar.h"
#include "kit/ViewController.h"
#include "kit/WebView.h"
#include "kit/Window.h"

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace kit {

namespace {

using Control = FocusModel::Focus::Control;

struct Element {
    Control control;
    View* view;
    int index;  // the toolbar item
};

// What one screen remembers: the control that holds focus and, on a tab bar, which item.
struct ViewScope {
    const View* root;
    std::weak_ptr<const Object> rootAlive;
    const View* view = nullptr;
    std::weak_ptr<const Object> viewAlive;
    int index = -1;
    int tabItem = 0;
};

struct AlertScope {
    const AlertView* alert;
    std::weak_ptr<const Object> alive;
    int control;  // -1: the text field
};

struct State {
    std::vector<ViewScope> views;
    std::vector<AlertScope> alerts;
    bool pageTakesKeys = false;
    std::function<void()> observer;
    bool telling = false;
};

State& state()
{
    static auto* s = new State();
    return *s;
}

void tell()
{
    auto& s = state();
    if (!s.observer || s.telling)
        return;
    // Showing focus may move the platform's own, which comes back here: tell once.
    s.telling = true;
    auto observer = s.observer;
    observer();
    s.telling = false;
}

struct Scope {
    enum class Kind { None, Alert, Modal, Main } kind = Kind::None;
    std::shared_ptr<AlertView> alert;
    View* root = nullptr;
};

Scope frontScope()
{
    if (auto alert = AlertView::frontmost())
        return {Scope::Kind::Alert, alert, nullptr};
    if (auto modal = ViewController::frontmostModal(); modal && modal->isViewLoaded() && modal->view())
        return {Scope::Kind::Modal, nullptr, modal->view().get()};
    if (auto* window = Application::sharedApplication().keyWindow())
        return {Scope::Kind::Main, nullptr, window};
    return {};
}

// The controls a person can reach, in the order of the views (rearmost first, depth first):
// nothing hidden, or faded out, nor anything inside it.
void collect(View& parent, std::vector<Element>& out)
{
    for (const auto& child : parent.subviews()) {
        if (child->isHidden() || child->alpha() < 0.01)
            continue;
        View* view = child.get();
        if (dynamic_cast<WebView*>(view)) {
            out.push_back({Control::Page, view, -1});
        } else if (auto* bar = dynamic_cast<TabBar*>(view)) {
            if (!bar->items().empty())
                out.push_back({Control::TabBar, view, -1});
        } else if (auto* toolbar = dynamic_cast<Toolbar*>(view)) {
            for (size_t i = 0; i < toolbar->items().size(); ++i)
                out.push_back({Control::ToolbarItem, view, static_cast<int>(i)});
        } else if (dynamic_cast<Button*>(view)) {
            out.push_back({Control::Button, view, -1});
        } else if (dynamic_cast<TableView*>(view)) {
            out.push_back({Control::Table, view, -1});
        } else {
            collect(*view, out);
        }
    }
}

std::vector<Element> chainOf(View& root)
{
    std::vector<Element> chain;
    if (!root.isHidden() && root.alpha() >= 0.01)
        collect(root, chain);
    return chain;
}

void prune()
{
    auto& s = state();
    std::erase_if(s.views, [](const ViewScope& v) { return v.rootAlive.expired(); });
    std::erase_if(s.alerts, [](const AlertScope& a) {
        auto alert = std::static_pointer_cast<const AlertView>(a.alive.lock());
        return !alert || !alert->isVisible();
    });
}

ViewScope* viewScope(const View& root, bool create)
{
    prune();
    auto& views = state().views;
    for (auto& scope : views)
        if (scope.root == &root)
            return &scope;
    if (!create)
        return nullptr;
    ViewScope scope;
    scope.root = &root;
    scope.rootAlive = root.weak_from_this();
    views.push_back(std::move(scope));
    return &views.back();
}

AlertScope* alertScope(const AlertView& alert)
{
    prune();
    for (auto& scope : state().alerts)
        if (scope.alert == &alert)
            return &scope;
    return nullptr;
}

int selectedOrFirst(View* view)
{
    auto* bar = dynamic_cast<TabBar*>(view);
    auto selected = bar ? bar->selectedIndex() : std::nullopt;
    return selected ? static_cast<int>(*selected) : 0;
}

// The position in the chain of the control that holds focus.
std::optional<size_t> focusedPosition(const View& root, const std::vector<Element>& chain)
{
    if (chain.empty())
        return std::nullopt;
    if (ViewScope* scope = viewScope(root, false); scope && scope->view && !scope->viewAlive.expired()) {
        for (size_t i = 0; i < chain.size(); ++i)
            if (chain[i].view == scope->view && (chain[i].control != Control::ToolbarItem || chain[i].index == scope->index))
                return i;
    }
    for (Control preferred : {Control::Table, Control::Page})
        for (size_t i = 0; i < chain.size(); ++i)
            if (chain[i].control == preferred)
                return i;
    return 0;
}

void focusElement(const View& root, const Element& element, std::optional<int> tabItem = std::nullopt)
{
    ViewScope* scope = viewScope(root, true);
    bool entering = scope->view != element.view || scope->viewAlive.expired();
    scope->view = element.view;
    scope->viewAlive = element.view->weak_from_this();
    scope->index = element.index;
    if (element.control == Control::TabBar && (tabItem || entering))
        scope->tabItem = tabItem.value_or(selectedOrFirst(element.view));
}

int tabItemOf(const View& root, View* bar)
{
    auto* tabBar = dynamic_cast<TabBar*>(bar);
    int count = tabBar ? static_cast<int>(tabBar->items().size()) : 0;
    ViewScope* scope = viewScope(root, false);
    int item = scope && scope->view == bar ? scope->tabItem : selectedOrFirst(bar);
    return std::clamp(item, 0, std::max(count - 1, 0));
}

bool isSpace(const KeyPress& key) { return key.is("space"); }

KeyResult pressAlertButton(AlertView& alert, int index)
{
    auto keep = alert.sharedAs<AlertView>();
    alert.dismissWithClickedButtonIndex(index);
    return KeyResult::Handled;
}

KeyResult alertKey(AlertView& alert, const KeyPress& key)
{
    int buttons = static_cast<int>(alert.buttonTitles().size());
    bool field = alert.textFieldAtIndex(0) != nullptr;
    std::vector<int> controls;
    if (field)
        controls.push_back(-1);
    for (int i = 0; i < buttons; ++i)
        controls.push_back(i);
    AlertScope* scope = alertScope(alert);
    bool moved = scope != nullptr;
    // Focus that has not moved is on the field, else on the last button; -2 when there is nothing.
    int focused = moved ? scope->control : field ? -1 : buttons - 1;
    if (!field && buttons == 0)
        focused = -2;

    if (key.isTab() || key.isShiftTab()) {
        if (controls.empty())
            return KeyResult::Ignored;
        auto at = std::find(controls.begin(), controls.end(), focused);
        size_t position = at == controls.end() ? 0 : static_cast<size_t>(at - controls.begin());
        size_t next = (position + (key.isTab() ? 1 : controls.size() - 1)) % controls.size();
        FocusModel::focusAlertControl(alert, controls[next]);
        return KeyResult::Handled;
    }
    if (key.isReturn()) {
        int button = moved && focused >= 0 ? focused : buttons - 1;
        return button >= 0 ? pressAlertButton(alert, button) : KeyResult::Ignored;
    }
    if (key.is("Escape"))
        return buttons == 2 ? pressAlertButton(alert, 0) : KeyResult::Ignored;
    if (focused >= 0)
        return isSpace(key) ? pressAlertButton(alert, focused) : KeyResult::Ignored;
    // Everything else is typing, the text field's own.
    return focused == -1 ? KeyResult::Passed : KeyResult::Ignored;
}

KeyResult screenKey(const Scope& scope, const KeyPress& key)
{
    View& root = *scope.root;
    auto chain = chainOf(root);
    bool main = scope.kind == Scope::Kind::Main;
    bool page = std::any_of(chain.begin(), chain.end(), [](const Element& e) { return e.control == Control::Page; });
    // What nothing here takes may still be the page's (its access keys, its scrolling).
    KeyResult unhandled = main && page && state().pageTakesKeys ? KeyResult::Passed : KeyResult::Ignored;

    if (key.modifiers == KeyPress::Alt && key.name.size() == 1 && key.name[0] >= '1' && key.name[0] <= '9') {
        if (!main)
            return KeyResult::Ignored;  // the modal screen covers the tab bar
        auto bar = std::find_if(chain.begin(), chain.end(), [](const Element& e) { return e.control == Control::TabBar; });
        if (bar == chain.end())
            return unhandled;
        auto& tabBar = static_cast<TabBar&>(*bar->view);
        int item = key.name[0] - '1';
        if (item >= static_cast<int>(tabBar.items().size()))
            return unhandled;
        auto keep = tabBar.sharedAs<TabBar>();
        if (ViewScope* focused = viewScope(root, false); focused && focused->view == &tabBar)
            focused->tabItem = item;
        tabBar.userDidTapItem(static_cast<size_t>(item));
        return KeyResult::Handled;
    }

    for (const Element& element : chain) {
        if (element.control != Control::ToolbarItem)
            continue;
        auto item = static_cast<Toolbar&>(*element.view).items()[static_cast<size_t>(element.index)];
        if (const auto& equivalent = item->keyEquivalent(); equivalent && key.is(equivalent->name, equivalent->modifiers)) {
            item->userDidTap();
            return KeyResult::Handled;
        }
    }

    auto position = focusedPosition(root, chain);
    if (!position)
        return unhandled;
    const Element focused = chain[*position];
    if (key.isTab() || key.isShiftTab()) {
        if (focused.control == Control::Page && state().pageTakesKeys)
            return KeyResult::Passed;
        size_t next = (*position + (key.isTab() ? 1 : chain.size() - 1)) % chain.size();
        focusElement(root, chain[next]);
        return KeyResult::Handled;
    }

    bool activate = key.isReturn() || isSpace(key);
    switch (focused.control) {
    case Control::Page:
        return state().pageTakesKeys ? KeyResult::Passed : unhandled;
    case Control::TabBar: {
        auto& bar = static_cast<TabBar&>(*focused.view);
        int item = tabItemOf(root, &bar);
        if (key.is("Left") || key.is("Right")) {
            int count = static_cast<int>(bar.items().size());
            focusElement(root, focused, std::clamp(item + (key.is("Left") ? -1 : 1), 0, count - 1));
            return KeyResult::Handled;
        }
        if (activate) {
            auto keep = bar.sharedAs<TabBar>();
            focusElement(root, focused, item);
            bar.userDidTapItem(static_cast<size_t>(item));
            return KeyResult::Handled;
        }
        break;
    }
    case Control::ToolbarItem:
        if (activate) {
            // Kept alive through its action, which may take the screen down.
            auto item = static_cast<Toolbar&>(*focused.view).items()[static_cast<size_t>(focused.index)];
            item->userDidTap();
            return KeyResult::Handled;
        }
        break;
    case Control::Button:
        if (activate) {
            auto button = focused.view->sharedAs<Button>();
            button->userDidTap();
            return KeyResult::Handled;
        }
        break;
    case Control::Table: {
        auto table = focused.view->sharedAs<TableView>();
        if (key.is("Up") || key.is("Down"))
            return table->moveFocusedRow(key.is("Up") ? -1 : 1) ? KeyResult::Handled : unhandled;
        if (isSpace(key) && table->focusedRow()) {
            auto row = *table->focusedRow();
            table->scrollToRowAtIndexPath(row);
            table->userDidSelectRowAtIndexPath(row);
            return KeyResult::Handled;
        }
        break;
    }
    default:
        break;
    }
    return unhandled;
}

} // namespace

FocusModel::Focus FocusModel::focus()
{
    Scope scope = frontScope();
    Focus focus;
    if (scope.kind == Scope::Kind::Alert) {
        AlertView& alert = *scope.alert;
        focus.alert = &alert;
        int buttons = static_cast<int>(alert.buttonTitles().size());
        bool field = alert.textFieldAtIndex(0) != nullptr;
        AlertScope* moved = alertScope(alert);
        int control = moved ? moved->control : field ? -1 : buttons - 1;
        if (control == -1 && field)
            focus.control = Control::AlertField;
        else if (control >= 0 && control < buttons) {
            focus.control = Control::AlertButton;
            focus.index = control;
        }
        return focus;
    }
    if (scope.kind == Scope::Kind::None)
        return focus;
    auto chain = chainOf(*scope.root);
    auto position = focusedPosition(*scope.root, chain);
    if (!position)
        return focus;
    const Element& element = chain[*position];
    focus.control = element.control;
    focus.view = element.view;
    focus.index = element.control == Control::TabBar ? tabItemOf(*scope.root, element.view) : element.index;
    return focus;
}

KeyResult FocusModel::handleKey(const KeyPress& key)
{
    Scope scope = frontScope();
    KeyResult result = KeyResult::Ignored;
    if (scope.kind == Scope::Kind::Alert)
        result = alertKey(*scope.alert, key);
    else if (scope.kind != Scope::Kind::None)
        result = screenKey(scope, key);
    tell();
    return result;
}

void FocusModel::focusView(View& view, int index)
{
    Scope scope = frontScope();
    if (!scope.root || !view.isDescendantOfView(*scope.root))
        return;
    for (const Element& element : chainOf(*scope.root)) {
        if (element.view != &view || (element.control == Control::ToolbarItem && element.index != index))
            continue;
        focusElement(*scope.root, element, element.control == Control::TabBar && index >= 0 ? std::optional(index) : std::nullopt);
        tell();
        return;
    }
}

void FocusModel::focusAlertControl(AlertView& alert, int control)
{
    if (!alert.isVisible())
        return;
    int buttons = static_cast<int>(alert.buttonTitles().size());
    if (control < -1 || control >= buttons || (control == -1 && !alert.textFieldAtIndex(0)))
        return;
    if (AlertScope* scope = alertScope(alert))
        scope->control = control;
    else
        state().alerts.push_back({&alert, alert.weak_from_this(), control});
    tell();
}

void FocusModel::setPageTakesKeys(bool takes) { state().pageTakesKeys = takes; }

void FocusModel::setObserver(std::function<void()> observer) { state().observer = std::move(observer); }

nlohmann::json FocusModel::describe()
{
    Focus f = focus();
    switch (f.control) {
    case Control::None:
        return nullptr;
    case Control::Page:
        return {{"control", "page"}};
    case Control::TabBar:
        return {{"control", "tabBar"}, {"item", f.index}};
    case Control::ToolbarItem: {
        const auto& title = static_cast<Toolbar*>(f.view)->items()[static_cast<size_t>(f.index)]->title();
        return {{"control", "toolbar"}, {"item", f.index}, {"title", title ? nlohmann::json(*title) : nlohmann::json(nullptr)}};
    }
    case Control::Button:
        return {{"control", "button"}, {"id", f.view->identifier()}};
    case Control::Table: {
        auto row = static_cast<TableView*>(f.view)->focusedRow();
        return {{"control", "table"}, {"row", row ? nlohmann::json{row->section, row->row} : nlohmann::json(nullptr)}};
    }
    case Control::AlertField:
        return {{"control", "alertField"}};
    case Control::AlertButton:
        return {{"control", "alertButton"}, {"index", f.index}};
    }
    return nullptr;
}

} // namespace kit
