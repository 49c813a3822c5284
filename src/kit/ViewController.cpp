#include "kit/ViewController.h"

#include "kit/Application.h"
#include "kit/Events.h"
#include "kit/InterfaceLoader.h"
#include "kit/ModalTransition.h"
#include "kit/Screen.h"
#include "kit/Window.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace kit {

static std::vector<ViewController*>& presentedModals()
{
    static auto* modals = new std::vector<ViewController*>();
    return *modals;
}

ViewController::~ViewController()
{
    auto& modals = presentedModals();
    modals.erase(std::remove(modals.begin(), modals.end(), this), modals.end());
    if (modal_)
        modal_->presenting_ = nullptr;
}

std::shared_ptr<View> ViewController::view()
{
    if (!viewLoaded_) {
        viewLoaded_ = true;
        if (!view_)
            loadView();
        if (!view_)
            view_ = std::make_shared<View>(Screen::mainScreen().bounds());
        viewDidLoad();
    }
    return view_;
}

void ViewController::setView(std::shared_ptr<View> view) { view_ = std::move(view); }

void ViewController::loadView()
{
    if (nibName_.empty()) {
        view_ = std::make_shared<View>(Screen::mainScreen().bounds());
        return;
    }
    auto objects = InterfaceLoader::load(nibName_, sharedAs<Object>());
    // The file's top-level objects live as long as their owner.
    for (auto& [id, object] : objects)
        nibObjects_.push_back(object);
}

void ViewController::presentModalViewController(const std::shared_ptr<ViewController>& controller, bool animated)
{
    if (!controller || modal_)
        return;
    modal_ = controller;
    controller->presenting_ = this;
    presentedModals().push_back(controller.get());
    emit("present", {{"screen", controller->nibName()}});
    auto view = controller->view();
    ModalTransition::presented(*view, animated);
    if (auto* window = Application::sharedApplication().keyWindow())
        window->addSubview(view);
}

void ViewController::dismissModalViewControllerAnimated(bool animated)
{
    // Sent to the presented controller, the request goes to its presenter.
    if (!modal_ && presenting_) {
        presenting_->dismissModalViewControllerAnimated(animated);
        return;
    }
    if (!modal_)
        return;
    auto closing = std::move(modal_);
    modal_ = nullptr;
    closing->presenting_ = nullptr;
    auto& modals = presentedModals();
    modals.erase(std::remove(modals.begin(), modals.end(), closing.get()), modals.end());
    if (closing->isViewLoaded() && closing->view_) {
        // Told first: the window takes its picture of the screen as it leaves.
        ModalTransition::dismissed(*closing->view_, animated);
        closing->view_->removeFromSuperview();
    }
    emit("dismiss", {{"screen", closing->nibName()}});
    // The dismissal is often asked for from inside the closing screen's own callback: keep it
    // alive until that callback has returned.
    RunLoop::main().post([closing] {});
}

std::shared_ptr<ViewController> ViewController::frontmostModal()
{
    auto& modals = presentedModals();
    if (modals.empty())
        return nullptr;
    return modals.back()->sharedAs<ViewController>();
}

bool ViewController::setOutlet(const std::string& name, const std::shared_ptr<Object>& target)
{
    if (name != "view")
        return false;
    setView(std::dynamic_pointer_cast<View>(target));
    return true;
}

bool ViewController::setProperty(const std::string& name, const nlohmann::json& value)
{
    if (name == "title") {
        title_ = value.is_string() ? std::optional(value.get<std::string>()) : std::nullopt;
        return true;
    }
    if (name == "nibName") {
        nibName_ = value.get<std::string>();
        return true;
    }
    return false;
}

} // namespace kit
