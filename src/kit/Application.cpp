#include "kit/Application.h"

#include "kit/Events.h"
#include "kit/InterfaceLoader.h"
#include "kit/URL.h"


namespace kit {

static std::shared_ptr<Application>& slot()
{
    // Never destroyed at exit, so nothing it owns is torn down after the registries it uses.
    static auto* application = new std::shared_ptr<Application>();
    return *application;
}

Application& Application::sharedApplication()
{
    if (!slot())
        slot() = std::make_shared<Application>();
    return *slot();
}

void Application::reset() { slot().reset(); }

void Application::windowWillGo(const Window* window)
{
    if (slot() && slot()->keyWindow_ == window)
        slot()->keyWindow_ = nullptr;
}

void Application::setDelegate(std::shared_ptr<Object> delegate)
{
    delegate_ = dynamic_cast<ApplicationDelegate*>(delegate.get());
    delegateObject_ = delegate_ ? std::move(delegate) : nullptr;
}

bool Application::setOutlet(const std::string& name, const std::shared_ptr<Object>& target)
{
    if (name != "delegate")
        return false;
    setDelegate(target);
    return true;
}

void Application::registerForRemoteNotificationTypes(int mask)
{
    if (!offersPush_)
        return;
    emit("push-register", {{"mask", mask}});
    if (pushRegistrar_)
        pushRegistrar_(mask);
}

void Application::setApplicationIconBadgeNumber(int number)
{
    if (!offersIconBadge_)
        return;
    iconBadgeNumber_ = number;
    emit("icon-badge", {{"value", number}});
    if (iconBadgeShower_)
        iconBadgeShower_(number);
}

bool Application::isOpenableURL(const std::string& url)
{
    return URL::webOrigin(url).has_value();
}

bool Application::openURL(const std::string& url)
{
    if (!isOpenableURL(url))
        return false;
    emit("open-url", {{"url", url}});
    return urlOpener_ ? urlOpener_(url) : true;
}

void Application::retainObjects(std::vector<std::shared_ptr<Object>> objects)
{
    for (auto& object : objects)
        retained_.push_back(std::move(object));
}

bool ApplicationMain(const std::string& mainInterface)
{
    auto& application = Application::sharedApplication();
    auto objects = InterfaceLoader::load(mainInterface, application.sharedAs<Object>());
    if (objects.empty())
        return false;
    std::vector<std::shared_ptr<Object>> keep;
    for (auto& [id, object] : objects)
        keep.push_back(object);
    application.retainObjects(std::move(keep));
    if (auto* delegate = application.delegate())
        delegate->applicationDidFinishLaunching(application);
    return true;
}

} // namespace kit
