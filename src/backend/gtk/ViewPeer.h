#pragma once

#include "backend/gtk/GObjectPtr.h"
#include "kit/View.h"

#include <gtk/gtk.h>
#include <nlohmann/json_fwd.hpp>
#include <set>

namespace backend::gtk {

class WindowPeer;

// The widget of one kit view. The window places it (frame, order, alpha, hidden); the peer
// draws what the view holds. A plain view draws its background colour.
class ViewPeer : public kit::ViewPeer {
public:
    // Null `widget`: a drawing area that calls draw(). A widget without a window of its own
    // gets one (an event box): the window's overlay stacks windowed children reliably only.
    ViewPeer(WindowPeer& window, kit::View& view, GtkWidget* widget = nullptr, bool takesInput = false);
    ~ViewPeer() override;
    ViewPeer(const ViewPeer&) = delete;
    ViewPeer& operator=(const ViewPeer&) = delete;

    GtkWidget* widget() const { return widget_.get(); }
    // What the peer draws into: the widget itself, or the content inside its window.
    GtkWidget* content() const { return content_; }
    bool takesInput() const { return takesInput_; }
    kit::View& view() const { return view_; }
    // The window that made the peer and places its widget; null once that window has gone.
    WindowPeer* window() const { return window_; }
    // The window's scale (1 once it has gone).
    int scale() const;
    // The window is going: the peer no longer reaches it.
    void windowGone() { window_ = nullptr; }

    void viewChanged(kit::View&) override;
    void subviewsChanged(kit::View&) override;

    // Brings the widget's content up to the model (called on every sync; cheap when unchanged).
    virtual void update() {}
    // Whether the view shows at all, beyond its hidden flag.
    virtual bool shows() const { return true; }
    // Tells a screen reader what the view is (on every sync; cheap when unchanged). By default
    // a view the peer draws itself is decoration unless the kit calls it an element.
    virtual void describeForReaders();
    // Adds what the peer alone knows (a scroll position...) to its line in the window's report.
    virtual void describeInto(nlohmann::json&) {}

    // What the window last applied.
    GdkRectangle rect {0, 0, -1, -1};
    double opacity = -1;
    std::set<long> opacitySteps;  // distinct opacities (in thousandths) since the last report
    std::set<int> positionSteps;  // distinct heights on screen since the last report

    // Adds or removes a style class (the look of "selected", "focused").
    static void setStyleClass(GtkWidget* widget, const char* name, bool on);

protected:
    virtual void draw(cairo_t* cr, int width, int height);
    kit::View& view_;

private:
    WindowPeer* window_;
    GObjectPtr<GtkWidget> widget_;
    GtkWidget* content_;
    bool takesInput_;
    bool drawsItself_;
};

} // namespace backend::gtk
