#include "kit/View.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace kit {

namespace {

struct AnimationBlock {
    double duration = 0.2;
    std::function<void()> onAnimationDidStop;
};

std::vector<AnimationBlock>& openBlocks()
{
    static auto* blocks = new std::vector<AnimationBlock>();
    return *blocks;
}

} // namespace

View::~View()
{
    for (auto& child : subviews_)
        child->superview_ = nullptr;
}

void View::changed()
{
    if (peer_)
        peer_->viewChanged(*this);
}

void View::setFrame(Rect frame)
{
    frame_ = frame;
    changed();
}

Point View::center() const
{
    return {frame_.origin.x + frame_.size.width / 2, frame_.origin.y + frame_.size.height / 2};
}

void View::setCenter(Point center)
{
    frame_.origin = {center.x - frame_.size.width / 2, center.y - frame_.size.height / 2};
    changed();
}

double View::alpha() const
{
    if (!alphaAnimation_)
        return alpha_;
    const auto& a = *alphaAnimation_;
    RunLoop::Micros elapsed = RunLoop::main().now() - a.start;
    if (a.duration <= 0 || elapsed >= a.duration)
        return a.to;
    if (elapsed <= 0)
        return a.from;
    return a.from + (a.to - a.from) * static_cast<double>(elapsed) / static_cast<double>(a.duration);
}

bool View::isAnimatingAlpha() const
{
    return alphaAnimation_ && RunLoop::main().now() - alphaAnimation_->start < alphaAnimation_->duration;
}

void View::setAlpha(double alpha)
{
    alpha = std::clamp(alpha, 0.0, 1.0);
    auto& blocks = openBlocks();
    if (blocks.empty()) {
        alphaAnimation_.reset();
    } else {
        alphaAnimation_ = AlphaAnimation{this->alpha(), alpha, RunLoop::main().now(),
                                         RunLoop::toMicros(blocks.back().duration)};
    }
    alpha_ = alpha;
    changed();
}

void View::setHidden(bool hidden)
{
    hidden_ = hidden;
    changed();
}

void View::setBackgroundColor(Color color)
{
    backgroundColor_ = color;
    changed();
}

void View::setOpaque(bool opaque)
{
    opaque_ = opaque;
    changed();
}

std::shared_ptr<View> View::sharedView() { return std::static_pointer_cast<View>(shared_from_this()); }

void View::insertAt(const std::shared_ptr<View>& view, size_t index)
{
    if (!view || view.get() == this)
        return;
    auto keep = view; // the view may be owned only by its old superview
    if (keep->superview_)
        keep->removeFromSuperview();
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), keep);
    keep->superview_ = this;
    if (peer_)
        peer_->subviewsChanged(*this);
}

void View::addSubview(const std::shared_ptr<View>& view) { insertAt(view, subviews_.size()); }

void View::insertSubviewAtIndex(const std::shared_ptr<View>& view, size_t index) { insertAt(view, index); }

void View::sendSubviewToBack(View& view)
{
    if (view.superview_ == this)
        insertAt(view.sharedView(), 0);
}

void View::bringSubviewToFront(View& view)
{
    if (view.superview_ == this)
        insertAt(view.sharedView(), subviews_.size());
}

void View::removeFromSuperview()
{
    View* parent = superview_;
    if (!parent)
        return;
    auto& siblings = parent->subviews_;
    auto it = std::find_if(siblings.begin(), siblings.end(), [this](const auto& v) { return v.get() == this; });
    superview_ = nullptr;
    if (it != siblings.end())
        siblings.erase(it); // may destroy this view: touch nothing after
    if (parent->peer_)
        parent->peer_->subviewsChanged(*parent);
}

std::shared_ptr<View> View::viewWithTag(int tag)
{
    if (tag_ == tag)
        return sharedView();
    for (auto& child : subviews_)
        if (auto found = child->viewWithTag(tag))
            return found;
    return nullptr;
}

std::shared_ptr<View> View::viewWithIdentifier(const std::string& identifier)
{
    if (identifier_ == identifier)
        return sharedView();
    for (auto& child : subviews_)
        if (auto found = child->viewWithIdentifier(identifier))
            return found;
    return nullptr;
}

bool View::isDescendantOfView(const View& ancestor) const
{
    for (const View* v = this; v; v = v->superview_)
        if (v == &ancestor)
            return true;
    return false;
}

bool View::isVisibleInHierarchy() const
{
    for (const View* v = this; v; v = v->superview_)
        if (v->hidden_)
            return false;
    return true;
}

void View::setAccessibilityLabel(std::optional<std::string> label)
{
    if (label == accessibilityLabel_)
        return;
    accessibilityLabel_ = std::move(label);
    changed();
}

void View::setIsAccessibilityElement(bool element)
{
    if (accessibilityElement_ == element)
        return;
    accessibilityElement_ = element;
    changed();
}

void View::setAccessibilityChecked(bool checked)
{
    if (accessibilityChecked_ == checked)
        return;
    accessibilityChecked_ = checked;
    changed();
}

bool View::setProperty(const std::string& name, const nlohmann::json& value)
{
    if (name == "frame")
        setFrame(rectFromJson(value));
    else if (name == "alpha")
        setAlpha(value.get<double>());
    else if (name == "hidden")
        setHidden(value.get<bool>());
    else if (name == "tag")
        setTag(value.get<int>());
    else if (name == "backgroundColor")
        setBackgroundColor(colorFromJson(value));
    else if (name == "opaque")
        setOpaque(value.get<bool>());
    else if (name == "accessibilityLabel")
        setAccessibilityLabel(value.get<std::string>());
    else if (name == "isAccessibilityElement")
        setIsAccessibilityElement(value.get<bool>());
    else
        return false;
    return true;
}

void View::beginAnimations() { openBlocks().push_back({}); }

void View::setAnimationDuration(double seconds)
{
    if (!openBlocks().empty())
        openBlocks().back().duration = seconds;
}

void View::setAnimationDidStop(std::function<void()> onAnimationDidStop)
{
    if (!openBlocks().empty())
        openBlocks().back().onAnimationDidStop = std::move(onAnimationDidStop);
}

void View::commitAnimations()
{
    auto& blocks = openBlocks();
    if (blocks.empty())
        return;
    AnimationBlock block = std::move(blocks.back());
    blocks.pop_back();
    if (block.onAnimationDidStop)
        RunLoop::main().schedule(RunLoop::toMicros(block.duration), std::move(block.onAnimationDidStop));
}

Rect rectFromJson(const nlohmann::json& value)
{
    return Rect(value.at(0).get<double>(), value.at(1).get<double>(), value.at(2).get<double>(), value.at(3).get<double>());
}

Color colorFromJson(const nlohmann::json& value)
{
    if (value.is_string()) {
        auto name = value.get<std::string>();
        if (name == "black")
            return Color::blackColor();
        if (name == "white")
            return Color::whiteColor();
        return Color::clearColor();
    }
    return {value.at(0).get<double>(), value.at(1).get<double>(), value.at(2).get<double>(), value.at(3).get<double>()};
}

} // namespace kit
