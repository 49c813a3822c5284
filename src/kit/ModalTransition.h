#pragma once

#include "kit/Geometry.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kit {

class View;

// The slide of a modal screen, on the run loop's clock. Presenting and dismissing are immediate:
// the screen is in the window, or gone, at once. Only what is drawn moves: a screen presented
// with animation rises from below the window's bottom edge to the application frame, and one
// dismissed with animation leaves a picture of itself that sinks from where it was drawn to
// below the bottom edge, each in slideSeconds, easing in and out.
class ModalTransition {
public:
    static constexpr double slideSeconds = 0.3;

    struct Leaving {
        std::uint64_t id;
        const View* view;  // only to tell which screen it was: it may be gone already
        Point origin;      // where its picture is drawn now
    };

    // The view controller tells of its presentations and dismissals.
    static void presented(const View& view, bool animated);
    static void dismissed(const View& view, bool animated);

    // Where a presented screen's view is drawn now, in the window; none for any other view.
    static std::optional<Point> drawnOrigin(const View& view);
    // Pictures of dismissed screens still on their way down, earliest first.
    static std::vector<Leaving> leaving();
    // Whether anything is still on its way.
    static bool isSliding();

    // From 0 to 1 over [0, 1], slow at both ends.
    static double eased(double progress);
};

} // namespace kit
