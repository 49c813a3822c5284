#pragma once

#include "backend/gtk/GObjectPtr.h"
#include "kit/FocusModel.h"
#include "kit/ModalTransition.h"
#include "kit/View.h"
#include "kit/Window.h"

#include <functional>
#include <gtk/gtk.h>
#include <map>
#include <memory>
#include <set>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace backend::gtk {

class ViewPeer;

// The desktop window of the kit's window: a fixed-size toplevel whose overlay stacks one widget
// per kit view in the kit's order (depth first, rearmost first), placed at the view's frame
// times the scale. Alerts are layers above all views. While any alpha animates, every frame of
// the widget's frame clock applies the model's current alpha, and so places a modal screen
// where the kit's slide has it now.
class WindowPeer : public kit::ViewPeer {
public:
    // Shows `area` of the window's model (all of it by default): the game's screen less the
    // status bar, which the desktop has no use for.
    WindowPeer(kit::Window& window, int scale, std::optional<kit::Rect> area = std::nullopt);
    ~WindowPeer() override;
    WindowPeer(const WindowPeer&) = delete;
    WindowPeer& operator=(const WindowPeer&) = delete;

    // The largest whole scale whose window fits the monitor's work area (at least 1).
    static int fittingScale();
    // The look of the widgets (tab bar, spinner, alerts) at a scale, their text at the desktop's
    // text size; followed when the player changes that size.
    static void installStyle(int scale);
    // The desktop's text size against the usual 96 dpi (GtkSettings' gtk-xft-dpi, in 1024ths;
    // 0 or less means the default): what the window's own text is multiplied by.
    static double textScale(int xftDpi);
    static double textScale();

    GtkWindow* gtkWindow() const { return GTK_WINDOW(window_.get()); }
    int scale() const { return scale_; }

    void viewChanged(kit::View&) override { sync(); }
    void subviewsChanged(kit::View&) override { sync(); }
    // Brings every widget up to the model: peers for new views, order, frames, alpha, hidden.
    void sync();

    // A peer this window made going away (its view is destroyed).
    void forget(gtk::ViewPeer* peer);

    void addTopLayer(GtkWidget* layer);
    void removeTopLayer(GtkWidget* layer);
    // While a modal layer (an alert) covers them, the views take no input and a screen reader
    // hears them as insensitive.
    void setCovered(bool covered);

    // The page's title, or the program's name when the page has none.
    void setPageTitle(const char* title);
    // A short shake of the window's content (the desktop's vibration), about 0.4 s.
    void shake();

    // Saves the window as drawn, at its scale. False (with `error`) when it cannot.
    bool snapshot(const std::string& path, std::string* error) const;
    // What the widgets show, rearmost first, for `state` lines. Resets the opacity step counts.
    nlohmann::json describe();

    std::function<void()> onClose;

    // A key press as the kit's focus model takes it.
    static kit::KeyPress keyPressOf(const GdkEventKey& event);
    // What the kit made of the last key press the window had, if any since the last reset.
    std::optional<kit::KeyResult> lastKeyResult() const { return lastKey_; }
    void resetLastKeyResult() { lastKey_.reset(); }
    // Moves the desktop's own focus where the kit has it (the page or the tab bar), so that the
    // keys the kit passes on reach the right widget.
    void showFocus();

private:
    struct Placed {
        kit::View* view;
        double x, y, alpha;
        bool hidden;
        kit::View* root;  // the window's subview it belongs to
    };
    // A modal screen's picture sliding down after the screen has gone.
    struct Ghost {
        std::uint64_t id;
        GtkWidget* widget;
        cairo_surface_t* surface;
        GdkRectangle rect;
    };
    void collect(kit::View& parent, double x, double y, double alpha, bool hidden, std::vector<Placed>& out,
                 bool& animating, kit::View* root);
    kit::Point placeModal(kit::View& view, kit::Point origin);
    void leaveModal(const kit::ModalTransition::Leaving& leaving);
    bool moveGhosts(const std::vector<kit::ModalTransition::Leaving>& leaving);
    gtk::ViewPeer* peerFor(kit::View& view);
    void apply(gtk::ViewPeer& peer, const Placed& placed);
    void restack();
    gboolean childPosition(GtkWidget* child, GdkRectangle* allocation);
    void placeChild(GtkWidget* child, GdkRectangle* allocation);
    // Draws every view and alert `x` pixels to the right of its place (0: in place).
    void shiftContent(int x);

    kit::Window& model_;
    int scale_;
    kit::Rect area_;
    GObjectPtr<GtkWidget> window_;
    GtkWidget* overlay_ = nullptr;
    GtkWidget* base_ = nullptr;
    std::vector<GtkWidget*> stacked_;             // view widgets in the overlay, rearmost first
    std::vector<GtkWidget*> layers_;              // alert layers, frontmost last
    std::map<GtkWidget*, gtk::ViewPeer*> peersByWidget_;
    std::set<gtk::ViewPeer*> made_;               // live peers of views, made by peerFor
    std::set<const kit::View*> presented_;        // presented screens in the window at the last sync
    std::map<GtkWidget*, kit::View*> modalWidgets_; // widgets of presented screens, by screen
    std::set<std::uint64_t> leavingSeen_;         // the kit's leaving screens already pictured (or not)
    std::vector<Ghost> ghosts_;
    guint tickId_ = 0;
    guint shakeId_ = 0;
    int shift_ = 0;
    bool animating_ = false;
    bool restack_ = false;
    bool syncing_ = false;
    bool again_ = false;
    bool pageShown_ = false;
    bool covered_ = false;
    std::optional<kit::KeyResult> lastKey_;
};

} // namespace backend::gtk
