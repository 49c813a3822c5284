#pragma once

#include "kit/AudioServices.h"

#include <gio/gio.h>
#include <string>

namespace backend::gtk {

// The platform services of the desktop: outside links through the desktop's URL handler, the
// icon badge as a dock's launcher-entry signal on the session bus, vibration as a window shake.
class ApplicationPeer : public kit::SoundPlayer {
public:
    // The desktop file's name without ".desktop".
    static constexpr const char* applicationId = "net.streetclient.StreetClient";

    ApplicationPeer(bool recordOpenURLs, bool offerIconBadge);
    ~ApplicationPeer() override;
    ApplicationPeer(const ApplicationPeer&) = delete;
    ApplicationPeer& operator=(const ApplicationPeer&) = delete;

    // Sounds come in their own time; until then a sound ends as it starts.
    void play(kit::SystemSoundID id, const std::string& path, std::function<void()> finished) override;
    void vibrate() override;

private:
    bool openURL(const std::string& url);
    void showIconBadge(int number);

    bool recordOpenURLs_;
    GDBusConnection* bus_ = nullptr;
};

} // namespace backend::gtk
