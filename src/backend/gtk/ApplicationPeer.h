#pragma once

#include <gio/gio.h>
#include <string>

namespace backend::gtk {

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

private:
    bool openURL(const std::string& url);
    void showIconBadge(int number);

    bool recordOpenURLs_;
    GDBusConnection* bus_ = nullptr;
};

} // namespace backend::gtk
