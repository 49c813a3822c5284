#include "backend/gtk/WindowPeer.h"

#include "backend/gtk/Accessibility.h"
#include "backend/gtk/ActivityIndicatorViewPeer.h"
#include "backend/gtk/ButtonPeer.h"
#include "backend/gtk/ImageViewPeer.h"
#include "backend/gtk/InputRecord.h"
#include "backend/gtk/LabelPeer.h"
#include "backend/gtk/PageEngine.h"
#include "backend/gtk/TabBarPeer.h"
#include "backend/gtk/TableViewPeer.h"
#include "backend/gtk/ToolbarPeer.h"
#include "backend/gtk/ViewPeer.h"
#include "kit/ActivityIndicatorView.h"
#include "kit/Button.h"
#include "kit/Events.h"
#include "kit/ImageView.h"
#include "kit/Label.h"
#include "kit/Screen.h"
#include "kit/TabBar.h"
#include "kit/TableView.h"
#include "kit/Toolbar.h"
#include "kit/ViewController.h"
#include "kit/WebView.h"

#include <algorithm>
#include <cmath>

namespace backend::gtk {

namespace {

constexpr const char* programName = "street-client";

std::string kindOf(kit::View& view)
{
    if (dynamic_cast<kit::WebView*>(&view))
        return "WebView";
    if (dynamic_cast<kit::TabBar*>(&view))
        return "TabBar";
    if (dynamic_cast<kit::ActivityIndicatorView*>(&view))
        return "ActivityIndicatorView";
    if (dynamic_cast<kit::ImageView*>(&view))
        return "ImageView";
    if (dynamic_cast<kit::TableView*>(&view))
        return "TableView";
    if (dynamic_cast<kit::Toolbar*>(&view))
        return "Toolbar";
    if (dynamic_cast<kit::Button*>(&view))
        return "Button";
    if (dynamic_cast<kit::Label*>(&view))
        return "Label";
    return "View";
}

} // namespace

WindowPeer::WindowPeer(kit::Window& window, int scale, std::optional<kit::Rect> area)
    : model_(window)
    , scale_(std::max(scale, 1))
    , area_(area.value_or(window.frame()))
    , window_(GTK_WIDGET(g_object_ref(gtk_window_new(GTK_WINDOW_TOPLEVEL))))
{
    GtkWindow* gtkWindow = GTK_WINDOW(window_.get());
    gtk_window_set_title(gtkWindow, programName);
    gtk_window_set_resizable(gtkWindow, FALSE);

    overlay_ = gtk_overlay_new();
    base_ = gtk_drawing_area_new();
    accessibility::hide(base_);
    gtk_widget_set_size_request(base_, static_cast<int>(std::lround(area_.size.width * scale_)),
                                static_cast<int>(std::lround(area_.size.height * scale_)));
    g_signal_connect(base_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer self) -> gboolean {
        kit::Color color = static_cast<WindowPeer*>(self)->model_.backgroundColor();
        cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
        cairo_paint(cr);
        return FALSE;
    }), this);
    gtk_container_add(GTK_CONTAINER(overlay_), base_);
    gtk_container_add(GTK_CONTAINER(gtkWindow), overlay_);
    g_signal_connect(overlay_, "get-child-position",
                     G_CALLBACK(+[](GtkOverlay*, GtkWidget* child, GdkRectangle* allocation, gpointer self) -> gboolean {
                         return static_cast<WindowPeer*>(self)->childPosition(child, allocation);
                     }), this);

    g_signal_connect(gtkWindow, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
        auto* peer = static_cast<WindowPeer*>(self);
        if (peer->onClose)
            peer->onClose();
        return TRUE; // the run ends and takes the window down itself
    }), this);
    g_signal_connect(gtkWindow, "key-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventKey* event, gpointer self) -> gboolean {
        auto* peer = static_cast<WindowPeer*>(self);
        // The kit's focus model has every key first: the window's shortcuts win over the page's.
        auto key = keyPressOf(*event);
        bool firsthand = InputRecord::firsthand();
        {
            InputRecord::Delivering delivering;
            peer->lastKey_ = kit::FocusModel::handleKey(key);
        }
        // Keys the page or a text field takes are theirs (a field's text is written as typed).
        if (firsthand && peer->lastKey_ == kit::KeyResult::Handled)
            InputRecord::input("key " + key.text());
        if (peer->lastKey_ != kit::KeyResult::Passed)
            return TRUE;
        // No zooming by keyboard: the page stays at the window's scale.
        if ((event->state & GDK_CONTROL_MASK)
            && (event->keyval == GDK_KEY_plus || event->keyval == GDK_KEY_minus || event->keyval == GDK_KEY_equal
                || event->keyval == GDK_KEY_0 || event->keyval == GDK_KEY_KP_Add || event->keyval == GDK_KEY_KP_Subtract))
            return TRUE;
        return FALSE;
    }), this);
    gtk_widget_show_all(overlay_);
}

WindowPeer::~WindowPeer()
{
    if (tickId_)
        gtk_widget_remove_tick_callback(window_.get(), tickId_);
    if (shakeId_)
        g_source_remove(shakeId_);
    g_signal_handlers_disconnect_by_data(window_.get(), this);
    g_signal_handlers_disconnect_by_data(overlay_, this);
    g_signal_handlers_disconnect_by_data(base_, this);
    // Views that outlive the window keep peers that no longer reach it.
    for (gtk::ViewPeer* peer : made_)
        peer->windowGone();
    for (Ghost& ghost : ghosts_) {
        gtk_container_remove(GTK_CONTAINER(overlay_), ghost.widget);
        cairo_surface_destroy(ghost.surface);
    }
    for (auto& [widget, peer] : peersByWidget_)
        gtk_container_remove(GTK_CONTAINER(overlay_), widget);
    gtk_widget_destroy(window_.get());
}

int WindowPeer::fittingScale()
{
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!monitor && display && gdk_display_get_n_monitors(display) > 0)
        monitor = gdk_display_get_monitor(display, 0);
    if (!monitor)
        return 1;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    kit::Rect shown = kit::Screen::mainScreen().applicationFrame();
    return std::max(1, std::min(area.width / static_cast<int>(shown.size.width), area.height / static_cast<int>(shown.size.height)));
}

double WindowPeer::textScale(int xftDpi)
{
    if (xftDpi <= 0)
        return 1.0;
    return std::clamp(xftDpi / (96.0 * 1024.0), 0.5, 4.0);
}

double WindowPeer::textScale()
{
    int dpi = 0;
    g_object_get(gtk_settings_get_default(), "gtk-xft-dpi", &dpi, nullptr);
    return textScale(dpi);
}

void WindowPeer::installStyle(int scale)
{
    static GtkCssProvider* installed = nullptr;
    static int installedScale = 1;
    if (!installed)
        g_signal_connect(gtk_settings_get_default(), "notify::gtk-xft-dpi", G_CALLBACK(+[](GObject*, GParamSpec*, gpointer) {
            installStyle(installedScale);
            // Labels and the table draw their text themselves.
            GList* windows = gtk_window_list_toplevels();
            for (GList* w = windows; w; w = w->next)
                gtk_widget_queue_draw(GTK_WIDGET(w->data));
            g_list_free(windows);
        }), nullptr);
    installedScale = scale;
    // Text follows the desktop's text size as in any GTK program; the boxes around it keep the
    // game's geometry.
    const double text = textScale();
    auto px = [scale](double points) { return std::to_string(static_cast<int>(std::lround(points * scale))) + "px"; };
    auto fontPx = [scale, text](double points) {
        return std::to_string(static_cast<int>(std::lround(points * scale * text))) + "px";
    };
    std::string css =
        ".street-tabbar { background-image: linear-gradient(to bottom, #454545, #1c1c1c 50%, #000000);"
        " border-top: 1px solid #5a5a5a; }\n"
        ".street-tabbar button { background: none; border: none; box-shadow: none; outline: none; padding: 0;"
        " margin: " + px(2) + "; border-radius: " + px(3) + "; color: #9d9d9d; text-shadow: none;"
        " font: bold " + fontPx(10) + " sans-serif; }\n"
        ".street-tabbar button.selected { background-color: rgba(255, 255, 255, 0.16); color: #ffffff; }\n"
        ".street-tabbar image { opacity: 0.55; }\n"
        ".street-tabbar button.selected image { opacity: 1; }\n"
        ".street-tabbar button.focused { box-shadow: inset 0 0 0 " + px(1) + " rgba(255, 255, 255, 0.75); }\n"
        ".street-badge { background-color: #d8211c; color: #ffffff; border: " + px(2) + " solid #ffffff;"
        " border-radius: " + px(9) + "; font: bold " + fontPx(11) + " sans-serif; padding: 0 " + px(5) + ";"
        " min-height: " + px(14) + "; margin: " + px(1) + " " + px(6) + " 0 0; }\n"
        ".street-spinner { color: #ffffff; }\n"
        ".street-alert-backdrop { background-color: rgba(0, 0, 0, 0.45); }\n"
        ".street-alert { background-image: linear-gradient(to bottom, rgba(64, 80, 118, 0.96), rgba(20, 30, 62, 0.96));"
        " border: " + px(2) + " solid rgba(255, 255, 255, 0.85); border-radius: " + px(10) + "; padding: " + px(12) + ";"
        " color: #ffffff; }\n"
        ".street-alert .title { font: bold " + fontPx(17) + " sans-serif; }\n"
        ".street-alert .message { font: " + fontPx(15) + " sans-serif; }\n"
        ".street-alert button { background-image: none; background-color: rgba(255, 255, 255, 0.16); color: #ffffff;"
        " border: 1px solid rgba(255, 255, 255, 0.6); border-radius: " + px(6) + "; box-shadow: none; text-shadow: none;"
        " font: bold " + fontPx(15) + " sans-serif; min-height: " + px(30) + "; }\n"
        ".street-alert button:focus { border-color: #ffffff; background-color: rgba(255, 255, 255, 0.3); }\n"
        ".street-alert entry { font: " + fontPx(15) + " sans-serif; min-height: " + px(28) + "; }\n"
        ".street-toolbar { background-image: linear-gradient(to bottom, #b0bccd, #889bb3 50%, #8195af 51%, #6d84a2);"
        " border-bottom: 1px solid #2d3642; padding: 0 " + px(6) + "; }\n"
        ".street-toolbar button { background-image: linear-gradient(to bottom, #8fa3bf, #4a6c9b);"
        " border: 1px solid #3b4d6b; border-radius: " + px(5) + "; box-shadow: none; color: #ffffff;"
        " text-shadow: 0 -1px rgba(0, 0, 0, 0.5); font: bold " + fontPx(12) + " sans-serif; padding: 0 " + px(8) + ";"
        " margin-right: " + px(6) + "; min-height: " + px(30) + "; }\n"
        ".street-toolbar button.focused { border-color: #ffffff; box-shadow: 0 0 0 " + px(1) + " #ffffff; }\n"
        ".street-button { background-image: none; background-color: #ffffff; border: 1px solid #a8a8a8;"
        " border-radius: " + px(8) + "; box-shadow: none; color: #324f85; text-shadow: none; padding: 0;"
        " font: bold " + fontPx(14) + " sans-serif; min-height: 0; min-width: 0; }\n"
        ".street-button.focused { border-color: #324f85; box-shadow: 0 0 0 " + px(1) + " #324f85; }\n";
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
    if (installed) {
        gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(installed));
        g_object_unref(installed);
    }
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    installed = provider;
}

void WindowPeer::collect(kit::View& parent, double x, double y, double alpha, bool hidden, std::vector<Placed>& out,
                         bool& animating, kit::View* root)
{
    for (const auto& child : parent.subviews()) {
        kit::Point origin = child->frame().origin;
        if (!root)
            origin = placeModal(*child, origin);
        Placed placed{child.get(), x + origin.x, y + origin.y, alpha * child->alpha(), hidden || child->isHidden(),
                      root ? root : child.get()};
        animating = animating || child->isAnimatingAlpha();
        out.push_back(placed);
        // A table draws its cells itself.
        if (!dynamic_cast<kit::TableView*>(child.get()))
            collect(*child, placed.x, placed.y, placed.alpha, placed.hidden, out, animating, placed.root);
    }
}

// A presented screen is drawn where the kit's slide has it: over the window below the status
// bar (the tab bar too) once it has risen.
kit::Point WindowPeer::placeModal(kit::View& view, kit::Point origin)
{
    auto drawn = kit::ModalTransition::drawnOrigin(view);
    if (!drawn)
        return origin;
    presented_.insert(&view);
    return *drawn;
}

// A screen that has left the window slides down as a picture of what it showed last.
void WindowPeer::leaveModal(const kit::ModalTransition::Leaving& leaving)
{
    GtkWidget* rootWidget = nullptr;
    for (auto& [widget, screen] : modalWidgets_)
        if (screen == leaving.view && peersByWidget_.count(widget) && &peersByWidget_[widget]->view() == leaving.view)
            rootWidget = widget;
    if (rootWidget && gtk_widget_get_realized(rootWidget)) {
        GdkRectangle rect = peersByWidget_[rootWidget]->rect;
        if (rect.width > 0 && rect.height > 0) {
            cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, rect.width, rect.height);
            cairo_t* cr = cairo_create(surface);
            for (GtkWidget* widget : stacked_) {
                auto screen = modalWidgets_.find(widget);
                auto peer = peersByWidget_.find(widget);
                if (screen == modalWidgets_.end() || screen->second != leaving.view || peer == peersByWidget_.end()
                    || !gtk_widget_get_visible(widget))
                    continue;
                cairo_save(cr);
                cairo_translate(cr, peer->second->rect.x - rect.x, peer->second->rect.y - rect.y);
                cairo_push_group(cr);
                gtk_widget_draw(widget, cr);
                cairo_pop_group_to_source(cr);
                cairo_paint_with_alpha(cr, std::max(peer->second->opacity, 0.0));
                cairo_restore(cr);
            }
            cairo_destroy(cr);
            GtkWidget* area = gtk_drawing_area_new();
            accessibility::hide(area);
            g_signal_connect(area, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer surface) -> gboolean {
                cairo_set_source_surface(cr, static_cast<cairo_surface_t*>(surface), 0, 0);
                cairo_paint(cr);
                return FALSE;
            }), surface);
            gtk_widget_set_size_request(area, rect.width, rect.height);
            gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), area);
            gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(overlay_), area, TRUE);
            gtk_widget_show(area);
            ghosts_.push_back({leaving.id, area, surface, rect});
        }
    }
    for (auto it = modalWidgets_.begin(); it != modalWidgets_.end();)
        it = it->second == leaving.view ? modalWidgets_.erase(it) : std::next(it);
}

// Moves each picture where the kit has its screen now; true while one is still on its way down.
bool WindowPeer::moveGhosts(const std::vector<kit::ModalTransition::Leaving>& leaving)
{
    for (auto it = ghosts_.begin(); it != ghosts_.end();) {
        auto entry = std::find_if(leaving.begin(), leaving.end(), [&](const auto& l) { return l.id == it->id; });
        if (entry == leaving.end()) {
            gtk_container_remove(GTK_CONTAINER(overlay_), it->widget);
            cairo_surface_destroy(it->surface);
            it = ghosts_.erase(it);
            continue;
        }
        int y = static_cast<int>(std::lround((entry->origin.y - area_.origin.y) * scale_));
        if (y != it->rect.y) {
            it->rect.y = y;
            gtk_widget_queue_resize(it->widget);
        }
        ++it;
    }
    return !ghosts_.empty();
}

gtk::ViewPeer* WindowPeer::peerFor(kit::View& view)
{
    if (auto* existing = dynamic_cast<gtk::ViewPeer*>(view.peer()))
        return existing;
    std::shared_ptr<gtk::ViewPeer> peer;
    if (auto* web = dynamic_cast<kit::WebView*>(&view)) {
        auto* engine = dynamic_cast<LatePageEngine*>(web->engine());
        peer = std::make_shared<gtk::ViewPeer>(*this, view, engine ? engine->widget() : nullptr, engine != nullptr);
        // The window's title is the page's, which may have loaded before its view came here.
        if (engine)
            engine->followTitle([weak = std::weak_ptr<gtk::ViewPeer>(peer)](const char* title) {
                if (auto held = weak.lock())
                    if (auto* window = held->window())
                        window->setPageTitle(title);
            });
    } else if (auto* bar = dynamic_cast<kit::TabBar*>(&view)) {
        peer = std::make_shared<TabBarPeer>(*this, *bar);
    } else if (auto* indicator = dynamic_cast<kit::ActivityIndicatorView*>(&view)) {
        peer = std::make_shared<ActivityIndicatorViewPeer>(*this, *indicator);
    } else if (auto* image = dynamic_cast<kit::ImageView*>(&view)) {
        peer = std::make_shared<ImageViewPeer>(*this, *image);
    } else if (auto* table = dynamic_cast<kit::TableView*>(&view)) {
        peer = std::make_shared<TableViewPeer>(*this, *table);
    } else if (auto* toolbar = dynamic_cast<kit::Toolbar*>(&view)) {
        peer = std::make_shared<ToolbarPeer>(*this, *toolbar);
    } else if (auto* button = dynamic_cast<kit::Button*>(&view)) {
        peer = std::make_shared<ButtonPeer>(*this, *button);
    } else if (auto* label = dynamic_cast<kit::Label*>(&view)) {
        peer = std::make_shared<LabelPeer>(*this, *label);
    } else {
        peer = std::make_shared<gtk::ViewPeer>(*this, view);
    }
    made_.insert(peer.get());
    view.setPeer(peer);
    return peer.get();
}

void WindowPeer::sync()
{
    // A change made while syncing (a peer's update) is picked up by one more pass.
    if (syncing_) {
        again_ = true;
        return;
    }
    syncing_ = true;
    do {
        again_ = false;
        std::vector<Placed> placed;
        bool animating = false;
        kit::Rect frame = model_.frame();
        presented_.clear();
        collect(model_, frame.origin.x - area_.origin.x, frame.origin.y - area_.origin.y, model_.alpha(), false, placed,
                animating, nullptr);
        // Pictures of the screens that have just left, taken while their widgets are still here.
        auto leaving = kit::ModalTransition::leaving();
        for (const auto& entry : leaving)
            if (leavingSeen_.insert(entry.id).second)
                leaveModal(entry);
        std::erase_if(leavingSeen_, [&](std::uint64_t id) {
            return std::none_of(leaving.begin(), leaving.end(), [id](const auto& l) { return l.id == id; });
        });
        animating = moveGhosts(leaving) || kit::ModalTransition::isSliding() || animating;

        std::vector<GtkWidget*> order;
        restack_ = false;
        for (const auto& p : placed) {
            gtk::ViewPeer* peer = peerFor(*p.view);
            GtkWidget* widget = peer->widget();
            if (gtk_widget_get_parent(widget) != overlay_) {
                if (GtkWidget* parent = gtk_widget_get_parent(widget))
                    gtk_container_remove(GTK_CONTAINER(parent), widget);
                gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), widget);
                gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(overlay_), widget, !peer->takesInput());
                peer->rect = {0, 0, -1, -1};
                peer->opacity = -1;
            }
            peersByWidget_[widget] = peer;
            if (presented_.count(p.root))
                modalWidgets_[widget] = p.root;
            else
                modalWidgets_.erase(widget);
            order.push_back(widget);
            apply(*peer, p);
        }
        // Leaving screens stay above the views, below the alerts.
        for (const Ghost& ghost : ghosts_)
            order.push_back(ghost.widget);
        // Views that left the window take their widgets with them.
        for (auto it = peersByWidget_.begin(); it != peersByWidget_.end();) {
            if (std::find(order.begin(), order.end(), it->first) == order.end()) {
                gtk_container_remove(GTK_CONTAINER(overlay_), it->first);
                modalWidgets_.erase(it->first);
                it = peersByWidget_.erase(it);
            } else {
                ++it;
            }
        }
        if (order != stacked_) {
            int index = 0;
            for (GtkWidget* widget : order)
                gtk_overlay_reorder_overlay(GTK_OVERLAY(overlay_), widget, index++);
            for (GtkWidget* layer : layers_)
                gtk_overlay_reorder_overlay(GTK_OVERLAY(overlay_), layer, index++);
            stacked_ = std::move(order);
            restack_ = true;
        }
        if (restack_)
            restack();
        animating_ = animating;
        if (animating && !tickId_) {
            tickId_ = gtk_widget_add_tick_callback(
                window_.get(), [](GtkWidget*, GdkFrameClock*, gpointer self) -> gboolean {
                    auto* peer = static_cast<WindowPeer*>(self);
                    peer->sync();
                    if (peer->animating_)
                        return G_SOURCE_CONTINUE;
                    peer->tickId_ = 0;
                    return G_SOURCE_REMOVE;
                },
                this, nullptr);
        }
    } while (again_);
    syncing_ = false;
}

void WindowPeer::apply(gtk::ViewPeer& peer, const Placed& placed)
{
    GtkWidget* widget = peer.widget();
    kit::Rect frame = placed.view->frame();
    GdkRectangle rect{static_cast<int>(std::lround(placed.x * scale_)), static_cast<int>(std::lround(placed.y * scale_)),
                      static_cast<int>(std::lround(frame.size.width * scale_)),
                      static_cast<int>(std::lround(frame.size.height * scale_))};
    if (rect.x != peer.rect.x || rect.y != peer.rect.y || rect.width != peer.rect.width || rect.height != peer.rect.height) {
        peer.rect = rect;
        peer.positionSteps.insert(rect.y);
        gtk_widget_set_size_request(widget, std::max(rect.width, 0), std::max(rect.height, 0));
        gtk_widget_queue_resize(widget);
    }
    bool visible = !placed.hidden && peer.shows();
    if (gtk_widget_get_visible(widget) != visible) {
        gtk_widget_set_visible(widget, visible);
        restack_ = true;
    }
    double alpha = std::clamp(placed.alpha, 0.0, 1.0);
    if (std::fabs(alpha - peer.opacity) > 1e-4) {
        // The moment the first page starts to show (start-up is measured up to it).
        if (!pageShown_ && visible && alpha > 0 && dynamic_cast<kit::WebView*>(placed.view)) {
            pageShown_ = true;
            kit::emit("window", {{"event", "page-shown"}});
        }
        peer.opacity = alpha;
        gtk_widget_set_opacity(widget, alpha);
        peer.opacitySteps.insert(std::lround(alpha * 1000));
    }
    peer.update();
    peer.describeForReaders();
    // What an alert covers takes no input and says so.
    if (gtk_widget_get_sensitive(widget) == covered_)
        gtk_widget_set_sensitive(widget, !covered_);
}

// The overlay keeps each child in a window of its own, and a window made when its child first
// shows lands on top whatever the child's place: stack them again in the kit's order.
void WindowPeer::restack()
{
    GdkWindow* own = gtk_widget_get_window(overlay_);
    auto raise = [own](GtkWidget* widget) {
        GdkWindow* window = gtk_widget_get_parent_window(widget);
        if (window && window != own)
            gdk_window_raise(window);
    };
    for (GtkWidget* widget : stacked_)
        raise(widget);
    for (GtkWidget* layer : layers_)
        raise(layer);
}

gboolean WindowPeer::childPosition(GtkWidget* child, GdkRectangle* allocation)
{
    placeChild(child, allocation);
    allocation->x += shift_;
    return TRUE;
}

void WindowPeer::placeChild(GtkWidget* child, GdkRectangle* allocation)
{
    for (const Ghost& ghost : ghosts_) {
        if (ghost.widget == child) {
            *allocation = ghost.rect;
            return;
        }
    }
    auto it = peersByWidget_.find(child);
    if (it != peersByWidget_.end()) {
        *allocation = it->second->rect;
        allocation->width = std::max(allocation->width, 0);
        allocation->height = std::max(allocation->height, 0);
        return;
    }
    // Layers cover the whole window.
    allocation->x = 0;
    allocation->y = 0;
    allocation->width = gtk_widget_get_allocated_width(overlay_);
    allocation->height = gtk_widget_get_allocated_height(overlay_);
}

void WindowPeer::forget(gtk::ViewPeer* peer)
{
    made_.erase(peer);
    for (auto it = peersByWidget_.begin(); it != peersByWidget_.end(); ++it) {
        if (it->second == peer) {
            stacked_.erase(std::remove(stacked_.begin(), stacked_.end(), it->first), stacked_.end());
            modalWidgets_.erase(it->first);
            peersByWidget_.erase(it);
            return;
        }
    }
}

void WindowPeer::addTopLayer(GtkWidget* layer)
{
    layers_.push_back(layer);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), layer);
    gtk_overlay_reorder_overlay(GTK_OVERLAY(overlay_), layer, -1);
    gtk_widget_show_all(layer);
    restack();
}

void WindowPeer::removeTopLayer(GtkWidget* layer)
{
    auto it = std::find(layers_.begin(), layers_.end(), layer);
    if (it == layers_.end())
        return;
    layers_.erase(it);
    gtk_container_remove(GTK_CONTAINER(overlay_), layer);
}

void WindowPeer::setCovered(bool covered)
{
    if (covered == covered_)
        return;
    covered_ = covered;
    for (GtkWidget* widget : stacked_)
        gtk_widget_set_sensitive(widget, !covered);
}

kit::KeyPress WindowPeer::keyPressOf(const GdkEventKey& event)
{
    kit::KeyPress key;
    const char* name = gdk_keyval_name(event.keyval);
    key.name = kit::KeyPress::canonicalName(name ? name : "");
    if (event.state & GDK_SHIFT_MASK)
        key.modifiers |= kit::KeyPress::Shift;
    if (event.state & GDK_CONTROL_MASK)
        key.modifiers |= kit::KeyPress::Control;
    if (event.state & GDK_MOD1_MASK)
        key.modifiers |= kit::KeyPress::Alt;
    if (event.state & (GDK_SUPER_MASK | GDK_MOD4_MASK))
        key.modifiers |= kit::KeyPress::Super;
    return key;
}

void WindowPeer::showFocus()
{
    sync();
    auto focus = kit::FocusModel::focus();
    if (!focus.view)
        return;
    auto* peer = dynamic_cast<gtk::ViewPeer*>(focus.view->peer());
    if (!peer)
        return;
    if (focus.control == kit::FocusModel::Focus::Control::Page) {
        auto* web = dynamic_cast<kit::WebView*>(focus.view);
        auto* engine = web ? dynamic_cast<LatePageEngine*>(web->engine()) : nullptr;
        GtkWidget* page = engine ? engine->focusWidget() : peer->content();
        if (!gtk_widget_has_focus(page))
            gtk_widget_grab_focus(page);
    } else if (auto* bar = dynamic_cast<TabBarPeer*>(peer)) {
        bar->grabFocus(static_cast<size_t>(std::max(focus.index, 0)));
    }
}

void WindowPeer::setPageTitle(const char* title)
{
    gtk_window_set_title(gtkWindow(), title && *title ? title : programName);
}

// The window's content swings inside the window, which itself stays put: a desktop may not let
// a program move its window (Wayland does not), and the picture then shakes in snapshots too.
void WindowPeer::shake()
{
    if (shakeId_)
        return;
    struct Shake {
        WindowPeer* peer;
        gint64 start;
    };
    auto* state = new Shake{this, g_get_monotonic_time()};
    shakeId_ = g_timeout_add_full(
        G_PRIORITY_DEFAULT, 16,
        [](gpointer data) -> gboolean {
            auto* s = static_cast<Shake*>(data);
            double elapsed = static_cast<double>(g_get_monotonic_time() - s->start) / 1e6;
            constexpr double duration = 0.4;
            if (elapsed >= duration) {
                s->peer->shiftContent(0);
                s->peer->shakeId_ = 0;
                return G_SOURCE_REMOVE;
            }
            // A damped side-to-side swing, about ten per second.
            double offset = 8.0 * s->peer->scale_ * (1.0 - elapsed / duration) * std::sin(elapsed * 2 * G_PI * 10);
            s->peer->shiftContent(static_cast<int>(std::lround(offset)));
            return G_SOURCE_CONTINUE;
        },
        state, [](gpointer data) { delete static_cast<Shake*>(data); });
}

void WindowPeer::shiftContent(int x)
{
    if (x == shift_)
        return;
    shift_ = x;
    // Every child of the overlay is placed again, shifted (see childPosition).
    gtk_widget_queue_allocate(overlay_);
}

bool WindowPeer::snapshot(const std::string& path, std::string* error) const
{
    GtkWidget* window = window_.get();
    int width = gtk_widget_get_allocated_width(window);
    int height = gtk_widget_get_allocated_height(window);
    if (!gtk_widget_get_realized(window) || width <= 1 || height <= 1) {
        *error = "the window is not on screen";
        return false;
    }
    // Sizes still waiting for the next frame are settled first.
    gtk_container_check_resize(GTK_CONTAINER(window));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    gtk_widget_draw(window, cr);
    cairo_destroy(cr);
    cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        *error = std::string("cannot write ") + path + ": " + cairo_status_to_string(status);
        return false;
    }
    return true;
}

nlohmann::json WindowPeer::describe()
{
    sync();
    nlohmann::json widgets = nlohmann::json::array();
    for (GtkWidget* widget : stacked_) {
        auto it = peersByWidget_.find(widget);
        if (it == peersByWidget_.end())
            continue;
        gtk::ViewPeer& peer = *it->second;
        kit::View& view = peer.view();
        widgets.push_back(nlohmann::json{{"view", kindOf(view)},
                           {"id", view.identifier()},
                           {"visible", static_cast<bool>(gtk_widget_get_visible(widget))},
                           {"opacity", std::round(peer.opacity * 1000) / 1000},
                           {"steps", static_cast<int>(peer.opacitySteps.size())},
                           {"moves", static_cast<int>(peer.positionSteps.size())},
                           {"rect", {peer.rect.x, peer.rect.y, peer.rect.width, peer.rect.height}},});
        peer.describeInto(widgets.back());
        peer.opacitySteps.clear();
        peer.positionSteps.clear();
    }
    int width = 0, height = 0;
    gtk_window_get_size(gtkWindow(), &width, &height);
    int dpi = 0;
    g_object_get(gtk_settings_get_default(), "gtk-xft-dpi", &dpi, nullptr);
    return {{"scale", scale_},
            {"title", gtk_window_get_title(gtkWindow())},
            {"textDpi", dpi > 0 ? dpi / 1024.0 : 96.0},
            {"size", {width, height}},
            {"widgets", std::move(widgets)},
            {"layers", static_cast<int>(layers_.size())},
            {"leaving", static_cast<int>(ghosts_.size())}};
}

} // namespace backend::gtk
