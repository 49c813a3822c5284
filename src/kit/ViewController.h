#pragma once

#include "kit/View.h"

#include <memory>
#include <optional>
#include <string>

namespace kit {

class ViewController : public Object {
public:
    ViewController() = default;
    explicit ViewController(std::string nibName) : nibName_(std::move(nibName)) {}
    ~ViewController() override;

    const std::string& nibName() const { return nibName_; }
    void setNibName(std::string name) { nibName_ = std::move(name); }

    // The view, loaded on first use (loadView), after which viewDidLoad runs.
    std::shared_ptr<View> view();
    bool isViewLoaded() const { return viewLoaded_; }
    void setView(std::shared_ptr<View> view);

    // Loads the interface file named by nibName() with this controller as its owner; without a
    // name, makes a plain full-screen view.
    virtual void loadView();
    virtual void viewDidLoad() {}

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }

    // Modal presentation: the presenting controller keeps the presented one until dismissal.
    void presentModalViewController(const std::shared_ptr<ViewController>& controller, bool animated);
    // Sent to the presenting controller or to the presented one: closes the modal screen.
    void dismissModalViewControllerAnimated(bool animated);
    const std::shared_ptr<ViewController>& modalViewController() const { return modal_; }
    ViewController* presentingViewController() const { return presenting_; }
    // The frontmost modal screen of the process, if any.
    static std::shared_ptr<ViewController> frontmostModal();

    bool setOutlet(const std::string& name, const std::shared_ptr<Object>& target) override;
    bool setProperty(const std::string& name, const nlohmann::json& value) override;

private:
    std::string nibName_;
    std::shared_ptr<View> view_;
    bool viewLoaded_ = false;
    std::optional<std::string> title_;
    std::shared_ptr<ViewController> modal_;
    ViewController* presenting_ = nullptr;
    std::vector<std::shared_ptr<Object>> nibObjects_;
};

} // namespace kit
