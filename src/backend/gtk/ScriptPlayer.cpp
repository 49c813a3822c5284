#include "backend/gtk/ScriptPlayer.h"

#include "backend/gtk/AlertViewPeer.h"
#include "backend/gtk/ButtonPeer.h"
#include "backend/gtk/DesktopMoviePlayer.h"
#include "backend/gtk/InputRecord.h"
#include "backend/gtk/TabBarPeer.h"
#include "backend/gtk/TableViewPeer.h"
#include "backend/gtk/ToolbarPeer.h"
#include "backend/gtk/PageEngine.h"
#include "backend/gtk/WindowPeer.h"
#include "shell/Recorder.h"
#include "kit/AlertView.h"
#include "kit/Application.h"
#include "kit/Button.h"
#include "kit/Events.h"
#include "kit/RunLoop.h"
#include "kit/TabBar.h"
#include "kit/TableView.h"
#include "kit/Toolbar.h"
#include "kit/ViewController.h"
#include "kit/WebView.h"
#include "kit/Window.h"

#include <cstdio>

namespace backend::gtk {

namespace {

// The peer of the first view of that kind on the modal screen in front, when one is presented
// and no alert covers it.
template<typename Peer, typename View>
Peer* frontModalPeer(const std::string& identifier = {})
{
    if (kit::AlertView::frontmost())
        return nullptr;
    auto modal = kit::ViewController::frontmostModal();
    if (!modal || !modal->isViewLoaded())
        return nullptr;
    kit::View* view = identifier.empty() ? modal->view()->firstViewOfType<View>() : modal->view()->viewWithIdentifier(identifier).get();
    return view && dynamic_cast<View*>(view) ? dynamic_cast<Peer*>(view->peer()) : nullptr;
}

} // namespace

void ScriptPlayer::perform(const shell::ScriptCommand& command)
{
    using Kind = shell::ScriptCommand::Kind;
    auto& loop = kit::RunLoop::main();
    // The player has written the line: what it sets off in the widgets is not written again.
    // A wait's time is the player's own, where input by hand may come.
    std::optional<InputRecord::Delivering> delivering;
    if (command.kind != Kind::Wait)
        delivering.emplace();
    switch (command.kind) {
    case Kind::Wait: {
        auto deadline = loop.now() + kit::RunLoop::toMicros(command.seconds);
        while (!closed_ && loop.now() < deadline)
            loop.runOnce(deadline - loop.now());
        return;
    }

    case Kind::Tap: {
        kit::Window* window = kit::Application::sharedApplication().keyWindow();
        kit::TabBar* bar = window ? window->firstViewOfType<kit::TabBar>() : nullptr;
        auto* peer = bar ? dynamic_cast<TabBarPeer*>(bar->peer()) : nullptr;
        if (!peer || kit::AlertView::frontmost() || kit::ViewController::frontmostModal())
            return ignored(command);
        std::optional<size_t> index = command.index;
        for (size_t i = 0; i < bar->items().size() && !index; ++i)
            if (bar->items()[i]->title() == command.text)
                index = i;
        if (!index || !peer->click(*index))
            return ignored(command);
        return;
    }

    case Kind::Press: {
        auto alert = kit::AlertView::frontmost();
        std::optional<size_t> index = command.index;
        for (size_t i = 0; alert && i < alert->buttonTitles().size() && !index; ++i)
            if (alert->buttonTitles()[i] == command.text)
                index = i;
        if (!alert || !index || !alerts_.pressButton(*index))
            return ignored(command);
        return;
    }

    case Kind::Type:
    case Kind::TypeRedacted:
        if (!alerts_.typeText(command.kind == Kind::Type ? command.text : shell::Redactor::typedStandIn(command.count)))
            return ignored(command);
        return;

    case Kind::Key: {
        window_.resetLastKeyResult();
        if (!sendKey(command.key) || window_.lastKeyResult() == kit::KeyResult::Ignored)
            return ignored(command);
        return;
    }

    case Kind::Navigate: {
        const auto& views = kit::WebView::allWebViews();
        auto* engine = views.empty() ? nullptr : dynamic_cast<LatePageEngine*>(views.front()->engine());
        if (!engine || !engine->navigateFromPage(command.text))
            return ignored(command);
        return;
    }

    case Kind::Row: {
        auto* table = frontModalPeer<TableViewPeer, kit::TableView>();
        if (!table || !table->clickRow({command.section, command.row}))
            return ignored(command);
        return;
    }

    case Kind::Scroll: {
        auto* table = frontModalPeer<TableViewPeer, kit::TableView>();
        if (!table || !table->wheel(command.points))
            return ignored(command);
        return;
    }

    case Kind::Toolbar: {
        auto* toolbar = frontModalPeer<ToolbarPeer, kit::Toolbar>();
        if (!toolbar || !toolbar->click(command.text))
            return ignored(command);
        return;
    }

    case Kind::ButtonInfo:
    case Kind::ButtonName: {
        auto* button = frontModalPeer<ButtonPeer, kit::Button>(command.kind == Kind::ButtonInfo ? "infoButton"
                                                                                                : "changeNameButton");
        if (!button || !button->click())
            return ignored(command);
        return;
    }

    case Kind::Finish:
    case Kind::Fail:
    case Kind::Redirect:
        // Pages come from the server here; the network decides how a load ends.
        return ignored(command);

    case Kind::State: {
        auto state = hooks_.snapshot ? hooks_.snapshot() : nlohmann::json::object();
        state["window"] = window_.describe();
        kit::emit("state", {{"state", std::move(state)}});
        return;
    }

    case Kind::Snapshot: {
        // Whatever is waiting to be drawn is drawn first.
        while (g_main_context_pending(nullptr))
            g_main_context_iteration(nullptr, FALSE);
        std::string error;
        if (!window_.snapshot(command.text, &error))
            std::fprintf(stderr, "street-client: script line %d: snapshot: %s\n", command.line, error.c_str());
        return;
    }

    case Kind::MoviePreloaded:
    case Kind::MovieFinished: {
        auto* movie = movies_.latest();
        if (!movie)
            return ignored(command);
        if (command.kind == Kind::MoviePreloaded)
            movie->finishPreload();
        else
            movie->finishPlayback();
        return;
    }

    default:
        shell::ScriptPlayer::perform(command);
        return;
    }
}

// A key press and release sent to the window, as the display server would send them.
bool ScriptPlayer::sendKey(const kit::KeyPress& key)
{
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window_.gtkWindow()));
    if (!gdkWindow)
        return false;
    // Shift+Tab comes as its own key, as a keyboard sends it.
    guint keyval = key.is("Tab", kit::KeyPress::Shift) ? GDK_KEY_ISO_Left_Tab : gdk_keyval_from_name(key.name.c_str());
    if (keyval == GDK_KEY_VoidSymbol)
        return false;
    guint state = 0;
    if (key.modifiers & kit::KeyPress::Shift)
        state |= GDK_SHIFT_MASK;
    if (key.modifiers & kit::KeyPress::Control)
        state |= GDK_CONTROL_MASK;
    if (key.modifiers & kit::KeyPress::Alt)
        state |= GDK_MOD1_MASK;
    if (key.modifiers & kit::KeyPress::Super)
        state |= GDK_SUPER_MASK;
    GdkDisplay* display = gdk_window_get_display(gdkWindow);
    guint16 keycode = 0;
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count) && count > 0)
        keycode = static_cast<guint16>(keys[0].keycode);
    g_free(keys);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->key.window = GDK_WINDOW(g_object_ref(gdkWindow));
        event->key.send_event = TRUE;
        event->key.time = GDK_CURRENT_TIME;
        event->key.keyval = keyval;
        event->key.state = state;
        event->key.hardware_keycode = keycode;
        gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
        gtk_main_do_event(event);
        gdk_event_free(event);
    }
    return true;
}

} // namespace backend::gtk
