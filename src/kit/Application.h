#pragma once

#include "kit/Object.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kit {

class Application;
class Window;

struct Error {
    int code = 0;
    std::string domain;
    std::string description;
};

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching(Application&) {}
    virtual void didRegisterForRemoteNotificationsWithDeviceToken(Application&, const std::vector<std::uint8_t>&) {}
    virtual void didFailToRegisterForRemoteNotificationsWithError(Application&, const Error&) {}
};

// The application object. Push registration and the icon badge are optional operations: a
// backend offers them or not, and callers ask first (respondsTo...).
class Application : public Object {
public:
    static Application& sharedApplication();
    // A fresh application object (process start, tests).
    static void reset();

    ApplicationDelegate* delegate() const { return delegate_; }
    void setDelegate(std::shared_ptr<Object> delegate);
    bool setOutlet(const std::string& name, const std::shared_ptr<Object>& target) override;

    bool respondsToRegisterForRemoteNotificationTypes() const { return offersPush_; }
    void registerForRemoteNotificationTypes(int mask);
    bool respondsToSetApplicationIconBadgeNumber() const { return offersIconBadge_; }
    void setApplicationIconBadgeNumber(int number);
    int applicationIconBadgeNumber() const { return iconBadgeNumber_; }

    // Opens an outside link. Only http and https links with a host and no user information
    // leave the application (URL::webOrigin); everything else (file:, javascript:, custom
    // schemes, "http:///x", "http://bank@evil/") is refused, silently, and answers false.
    bool openURL(const std::string& url);
    static bool isOpenableURL(const std::string& url);

    Window* keyWindow() const { return keyWindow_; }
    void setKeyWindow(Window* window) { keyWindow_ = window; }
    // A window going away is no longer the key window (nor makes an application to say so).
    static void windowWillGo(const Window* window);

    // Keeps the objects of the main interface file alive for the life of the process.
    void retainObjects(std::vector<std::shared_ptr<Object>> objects);

    // Backend configuration.
    void setOffersPushRegistration(bool offers) { offersPush_ = offers; }
    void setOffersIconBadge(bool offers) { offersIconBadge_ = offers; }
    void setURLOpener(std::function<bool(const std::string&)> opener) { urlOpener_ = std::move(opener); }
    void setPushRegistrar(std::function<void(int mask)> registrar) { pushRegistrar_ = std::move(registrar); }
    // Shows the badge where the desktop can (a dock's launcher entry).
    void setIconBadgeShower(std::function<void(int number)> shower) { iconBadgeShower_ = std::move(shower); }

private:
    std::shared_ptr<Object> delegateObject_;
    ApplicationDelegate* delegate_ = nullptr;
    bool offersPush_ = false;
    bool offersIconBadge_ = false;
    int iconBadgeNumber_ = 0;
    Window* keyWindow_ = nullptr;
    std::function<bool(const std::string&)> urlOpener_;
    std::function<void(int)> pushRegistrar_;
    std::function<void(int)> iconBadgeShower_;
    std::vector<std::shared_ptr<Object>> retained_;
};

// Loads the main interface file (`mainInterface` under resources/interfaces/, the application
// object as its owner) and tells the delegate that launching has finished. False, with nothing
// launched, when the file cannot be loaded.
bool ApplicationMain(const std::string& mainInterface);

} // namespace kit
