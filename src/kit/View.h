#pragma once

#include "kit/Geometry.h"
#include "kit/Object.h"
#include "kit/RunLoop.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kit {

class View;

// A backend's counterpart of a view (a widget). It is told of model changes and decides nothing.
class ViewPeer {
public:
    virtual ~ViewPeer() = default;
    virtual void viewChanged(View&) {}
    virtual void subviewsChanged(View&) {}
};

// A retained view: frame, alpha, hidden, tag and the ordered subviews (rearmost first).
class View : public Object {
public:
    View() = default;
    explicit View(Rect frame) : frame_(frame) {}
    ~View() override;

    Rect frame() const { return frame_; }
    void setFrame(Rect frame);
    Point center() const;
    void setCenter(Point center);

    // The alpha as it is now: mid-animation values included.
    double alpha() const;
    // Inside an animation block the change runs over the block's duration, from the value the
    // alpha has now; outside a block it takes effect at once.
    void setAlpha(double alpha);
    bool isAnimatingAlpha() const;

    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    // The name the interface file gave the view; lets tools find it again.
    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
    Color backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(Color color);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque);

    View* superview() const { return superview_; }
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    void addSubview(const std::shared_ptr<View>& view);
    void insertSubviewAtIndex(const std::shared_ptr<View>& view, size_t index);
    void sendSubviewToBack(View& view);
    void bringSubviewToFront(View& view);
    void removeFromSuperview();
    // Depth first, this view included.
    std::shared_ptr<View> viewWithTag(int tag);
    std::shared_ptr<View> viewWithIdentifier(const std::string& identifier);
    template<typename T>
    T* firstViewOfType()
    {
        if (auto* found = dynamic_cast<T*>(this))
            return found;
        for (const auto& child : subviews_)
            if (auto* found = child->template firstViewOfType<T>())
                return found;
        return nullptr;
    }
    bool isDescendantOfView(const View& ancestor) const;
    // Hidden itself or through an ancestor, or not in any window.
    bool isVisibleInHierarchy() const;

    // What a screen reader is told of the view: its spoken name (none: what it shows, such as a
    // button's title or a label's text), whether it is an element of its own or only decoration
    // or a container (by default what a person reads or presses is), and whether it is checked.
    const std::optional<std::string>& accessibilityLabel() const { return accessibilityLabel_; }
    void setAccessibilityLabel(std::optional<std::string> label);
    bool isAccessibilityElement() const { return accessibilityElement_.value_or(isAccessibilityElementByDefault()); }
    void setIsAccessibilityElement(bool element);
    bool isAccessibilityChecked() const { return accessibilityChecked_; }
    void setAccessibilityChecked(bool checked);

    ViewPeer* peer() const { return peer_.get(); }
    void setPeer(std::shared_ptr<ViewPeer> peer) { peer_ = std::move(peer); }

    bool setProperty(const std::string& name, const nlohmann::json& value) override;

    // Animation blocks. Blocks nest; changes belong to the innermost open block.
    static void beginAnimations();
    static void setAnimationDuration(double seconds);
    static void setAnimationDidStop(std::function<void()> onAnimationDidStop);
    static void commitAnimations();

protected:
    void changed();
    virtual bool isAccessibilityElementByDefault() const { return false; }

private:
    struct AlphaAnimation {
        double from;
        double to;
        RunLoop::Micros start;
        RunLoop::Micros duration;
    };
    void insertAt(const std::shared_ptr<View>& view, size_t index);
    std::shared_ptr<View> sharedView();

    Rect frame_;
    double alpha_ = 1.0;
    std::optional<AlphaAnimation> alphaAnimation_;
    bool hidden_ = false;
    int tag_ = 0;
    std::string identifier_;
    Color backgroundColor_ = Color::clearColor();
    bool opaque_ = true;
    std::optional<std::string> accessibilityLabel_;
    std::optional<bool> accessibilityElement_;
    bool accessibilityChecked_ = false;
    View* superview_ = nullptr;
    std::vector<std::shared_ptr<View>> subviews_;
    std::shared_ptr<ViewPeer> peer_;
};

// Reads a rectangle [x, y, w, h] or a colour [r, g, b, a] from interface-file JSON.
Rect rectFromJson(const nlohmann::json& value);
Color colorFromJson(const nlohmann::json& value);

} // namespace kit
