#include "kit/ModalTransition.h"

#include "kit/RunLoop.h"
#include "kit/Screen.h"
#include "kit/View.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

namespace kit {

namespace {

struct Rising {
    const View* view;
    std::weak_ptr<const Object> alive;
    RunLoop::Micros start;
    bool animated;
    std::uint64_t loop;
};

struct Sinking {
    std::uint64_t id;
    const View* view;
    Point from;
    RunLoop::Micros start;
    std::uint64_t loop;
};

struct Slides {
    std::vector<Rising> rising;
    std::vector<Sinking> sinking;
    std::uint64_t nextId = 1;
};

Slides& slides()
{
    static auto* all = new Slides();
    return *all;
}

double progressSince(RunLoop::Micros start)
{
    auto duration = RunLoop::toMicros(ModalTransition::slideSeconds);
    return static_cast<double>(RunLoop::main().now() - start) / static_cast<double>(duration);
}

// Below the window's bottom edge, where a screen comes from and goes to.
double belowY() { return Screen::mainScreen().bounds().size.height; }

// Drops what a replaced run loop started, what has arrived, and screens that are gone.
void prune()
{
    auto& s = slides();
    std::uint64_t loop = RunLoop::main().serial();
    std::erase_if(s.rising, [loop](const Rising& r) { return r.loop != loop || r.alive.expired(); });
    std::erase_if(s.sinking, [loop](const Sinking& k) { return k.loop != loop || progressSince(k.start) >= 1; });
}

Point risingOrigin(const Rising& rising)
{
    Point shown = Screen::mainScreen().applicationFrame().origin;
    double progress = rising.animated ? progressSince(rising.start) : 1;
    double below = belowY();
    return {shown.x, below + (shown.y - below) * ModalTransition::eased(progress)};
}

} // namespace

double ModalTransition::eased(double progress)
{
    return 0.5 - 0.5 * std::cos(std::numbers::pi * std::clamp(progress, 0.0, 1.0));
}

void ModalTransition::presented(const View& view, bool animated)
{
    prune();
    auto& s = slides();
    std::erase_if(s.rising, [&view](const Rising& r) { return r.view == &view; });
    s.rising.push_back({&view, view.weak_from_this(), RunLoop::main().now(), animated, RunLoop::main().serial()});
}

void ModalTransition::dismissed(const View& view, bool animated)
{
    prune();
    auto& s = slides();
    Point from = Screen::mainScreen().applicationFrame().origin;
    auto it = std::find_if(s.rising.begin(), s.rising.end(), [&view](const Rising& r) { return r.view == &view; });
    if (it != s.rising.end()) {
        from = risingOrigin(*it);
        s.rising.erase(it);
    }
    if (animated)
        s.sinking.push_back({s.nextId++, &view, from, RunLoop::main().now(), RunLoop::main().serial()});
}

std::optional<Point> ModalTransition::drawnOrigin(const View& view)
{
    prune();
    for (const Rising& rising : slides().rising)
        if (rising.view == &view)
            return risingOrigin(rising);
    return std::nullopt;
}

std::vector<ModalTransition::Leaving> ModalTransition::leaving()
{
    prune();
    std::vector<Leaving> out;
    double below = belowY();
    for (const Sinking& sinking : slides().sinking) {
        double y = sinking.from.y + (below - sinking.from.y) * eased(progressSince(sinking.start));
        out.push_back({sinking.id, sinking.view, {sinking.from.x, y}});
    }
    return out;
}

bool ModalTransition::isSliding()
{
    prune();
    const auto& s = slides();
    return !s.sinking.empty()
        || std::any_of(s.rising.begin(), s.rising.end(), [](const Rising& r) { return r.animated && progressSince(r.start) < 1; });
}

} // namespace kit
