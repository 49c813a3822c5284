#include "shell/ScriptPlayer.h"

#include "kit/AlertView.h"
#include "kit/Application.h"
#include "kit/Button.h"
#include "kit/Events.h"
#include "kit/FocusModel.h"
#include "kit/RunLoop.h"
#include "kit/TabBar.h"
#include "kit/TableView.h"
#include "kit/Toolbar.h"
#include "kit/ViewController.h"
#include "kit/WebView.h"
#include "kit/URLConnection.h"
#include "kit/Window.h"
#include "shell/Recorder.h"

namespace shell {

namespace {

// Whether a person could touch the view: shown, not hidden through an ancestor, and not faded
// out (views this transparent take no touches on the platform either).
bool reachable(const kit::View& view)
{
    if (!view.isVisibleInHierarchy())
        return false;
    for (const kit::View* v = &view; v; v = v->superview())
        if (v->alpha() < 0.01)
            return false;
    return true;
}

// The view of the modal screen in front, when one is presented and nothing covers it.
kit::View* frontModalView()
{
    if (kit::AlertView::frontmost())
        return nullptr;
    auto modal = kit::ViewController::frontmostModal();
    if (!modal || !modal->isViewLoaded())
        return nullptr;
    return modal->view().get();
}

} // namespace

kit::WebView* ScriptPlayer::applicationWebView()
{
    const auto& views = kit::WebView::allWebViews();
    return views.empty() ? nullptr : views.front();
}

bool ScriptPlayer::play(const ScriptCommand& command)
{
    if (command.kind == ScriptCommand::Kind::Quit)
        return false;
    if (recorder_)
        recorder_->played(command);
    perform(command);
    turn();
    return true;
}

void ScriptPlayer::turn()
{
    auto& loop = kit::RunLoop::main();
    if (clock_ == ClockKind::Virtual)
        loop.advance(0);
    else
        loop.runOnce(0);
}

void ScriptPlayer::ignored(const ScriptCommand& command) { kit::emit("ignored", {{"command", command.source}}); }

void ScriptPlayer::perform(const ScriptCommand& command)
{
    using Kind = ScriptCommand::Kind;
    auto& application = kit::Application::sharedApplication();
    switch (command.kind) {
    case Kind::Wait:
        if (clock_ == ClockKind::Virtual)
            kit::RunLoop::main().advanceSeconds(command.seconds);
        else
            kit::RunLoop::main().runFor(kit::RunLoop::toMicros(command.seconds));
        return;

    case Kind::Tap: {
        // An alert or a modal screen covers the tab bar.
        kit::Window* window = application.keyWindow();
        kit::TabBar* bar = window ? window->firstViewOfType<kit::TabBar>() : nullptr;
        if (kit::AlertView::frontmost() || kit::ViewController::frontmostModal() || !bar || !reachable(*bar))
            return ignored(command);
        const auto& items = bar->items();
        std::optional<size_t> index = command.index;
        if (!index) {
            for (size_t i = 0; i < items.size() && !index; ++i)
                if (items[i]->title() == command.text)
                    index = i;
        }
        if (!index || *index >= items.size())
            return ignored(command);
        bar->userDidTapItem(*index);
        return;
    }

    case Kind::Navigate: {
        kit::WebView* view = applicationWebView();
        if (!view)
            return ignored(command);
        // The page shown starts it.
        auto request = kit::URLRequest::requestWithURL(command.text);
        request.navigation.startingDocument = view->documentURL();
        view->loadFromPage(request, kit::NavigationType::LinkClicked);
        return;
    }

    case Kind::NavigateFrame: {
        kit::WebView* view = applicationWebView();
        if (!view)
            return ignored(command);
        // A frame's load passes the bridge, but the main frame's load goes on as it was.
        auto request = kit::URLRequest::requestWithURL(command.text);
        request.navigation.startingDocument = view->documentURL();
        view->engineShouldStartLoad(request, kit::NavigationType::Other);
        return;
    }

    case Kind::Reply:
        kit::URLConnection::queueReply({command.code, command.text});
        return;

    case Kind::Finish:
    case Kind::Fail:
    case Kind::Redirect:
    case Kind::MoviePreloaded:
    case Kind::MovieFinished:
        // The network's answers and the movie's progress are scripted only where the backend
        // fakes them.
        return ignored(command);

    case Kind::Press: {
        auto alert = kit::AlertView::frontmost();
        if (!alert)
            return ignored(command);
        const auto& labels = alert->buttonTitles();
        std::optional<size_t> index = command.index;
        if (!index) {
            for (size_t i = 0; i < labels.size() && !index; ++i)
                if (labels[i] == command.text)
                    index = i;
        }
        if (!index || *index >= labels.size())
            return ignored(command);
        alert->dismissWithClickedButtonIndex(static_cast<int>(*index));
        return;
    }

    case Kind::Type:
    case Kind::TypeRedacted: {
        auto alert = kit::AlertView::frontmost();
        auto* field = alert ? alert->textFieldAtIndex(0) : nullptr;
        if (!field)
            return ignored(command);
        field->text = command.kind == Kind::Type ? command.text : Redactor::typedStandIn(command.count);
        return;
    }

    case Kind::Token:
        if (auto* delegate = application.delegate())
            delegate->didRegisterForRemoteNotificationsWithDeviceToken(application, command.bytes);
        return;

    case Kind::PushFail:
        if (auto* delegate = application.delegate())
            delegate->didFailToRegisterForRemoteNotificationsWithError(
                application, kit::Error{3010, "NSCocoaErrorDomain", "remote notifications are not available"});
        return;

    case Kind::Row: {
        kit::View* screen = frontModalView();
        auto* table = screen ? screen->firstViewOfType<kit::TableView>() : nullptr;
        kit::IndexPath path{command.section, command.row};
        if (!table || !reachable(*table) || !table->hasRow(path))
            return ignored(command);
        // A person scrolls to a row before tapping it.
        table->scrollToRowAtIndexPath(path);
        table->userDidSelectRowAtIndexPath(path);
        return;
    }

    case Kind::Scroll: {
        kit::View* screen = frontModalView();
        auto* table = screen ? screen->firstViewOfType<kit::TableView>() : nullptr;
        if (!table || !reachable(*table))
            return ignored(command);
        table->scrollBy(command.points);
        return;
    }

    case Kind::Toolbar: {
        kit::View* screen = frontModalView();
        auto* toolbar = screen ? screen->firstViewOfType<kit::Toolbar>() : nullptr;
        if (!toolbar || !reachable(*toolbar))
            return ignored(command);
        for (const auto& item : toolbar->items()) {
            if (item->title() == command.text) {
                // Keep the item alive through its action, which may rebuild the toolbar.
                auto keep = item;
                keep->userDidTap();
                return;
            }
        }
        return ignored(command);
    }

    case Kind::ButtonInfo:
    case Kind::ButtonName: {
        kit::View* screen = frontModalView();
        auto view = screen ? screen->viewWithIdentifier(command.kind == Kind::ButtonInfo ? "infoButton" : "changeNameButton")
                           : nullptr;
        auto button = std::dynamic_pointer_cast<kit::Button>(view);
        if (!button || !reachable(*button))
            return ignored(command);
        button->userDidTap();
        return;
    }

    case Kind::State:
        kit::emit("state", {{"state", hooks_.snapshot ? hooks_.snapshot() : nlohmann::json::object()}});
        return;

    case Kind::Key:
        // Nothing here feeds a page or a text field: a key that only they would take reaches nothing.
        if (kit::FocusModel::handleKey(command.key) != kit::KeyResult::Handled)
            ignored(command);
        return;

    case Kind::Snapshot:
        // Only a backend with a window has a picture to save.
        return ignored(command);

    case Kind::Quit:
        return;
    }
}

} // namespace shell
