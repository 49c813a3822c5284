#pragma once

#include <gio/gio.h>
#include <string>

namespace backend::gtk {

class WindowPeer;

// The platform services of the desktop: outside links through the desktop's URL handler, the
// icon badge as a dock's launcher-entry signal on the session bus.
class ApplicationPeer {
public:
    // The desktop file's name without ".desktop".
    static constexpr const char* applicationId = "net.streetclient.StreetClient";

    ApplicationPeer(bool recordOpenURLs, bool offerIconBadge);
    ~ApplicationPeer();
    ApplicationPeer(const ApplicationPeer&) = delete;
    ApplicationPeer& operator=(const ApplicationPeer&) = delete;

    // The window outside links open over, from when it is made until before it goes.
    void setWindow(WindowPeer* window) { window_ = window; }

private:
    bool openURL(const std::string& url);
    void showIconBadge(int number);

    bool recordOpenURLs_;
    WindowPeer* window_ = nullptr;
    GDBusConnection* bus_ = nullptr;
};

} // namespace backend::gtk
