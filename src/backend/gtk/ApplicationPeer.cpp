#include "backend/gtk/ApplicationPeer.h"

#include "backend/gtk/WindowPeer.h"
#include "kit/Application.h"

#include <cstdio>

namespace backend::gtk {

ApplicationPeer::ApplicationPeer(bool recordOpenURLs, bool offerIconBadge)
    : recordOpenURLs_(recordOpenURLs)
{
    auto& application = kit::Application::sharedApplication();
    // No push service on the desktop: pages that ask for registration are not answered.
    application.setOffersPushRegistration(false);
    application.setPushRegistrar([](int) {});
    application.setURLOpener([this](const std::string& url) { return openURL(url); });
    // The badge is offered only where someone can hear it: on a session bus.
    if (offerIconBadge)
        bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    application.setOffersIconBadge(bus_ != nullptr);
    application.setIconBadgeShower([this](int number) { showIconBadge(number); });
}

ApplicationPeer::~ApplicationPeer()
{
    // The application object that held our callbacks is gone by now (the run has ended).
    if (bus_) {
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
        g_object_unref(bus_);
    }
}

bool ApplicationPeer::openURL(const std::string& url)
{
    // The application filters already; a link that reaches the desktop is checked once more.
    if (!kit::Application::isOpenableURL(url))
        return false;
    if (recordOpenURLs_)
        return true;
    GError* error = nullptr;
    bool opened = gtk_show_uri_on_window(window_ ? window_->gtkWindow() : nullptr, url.c_str(), GDK_CURRENT_TIME, &error);
    if (!opened) {
        std::fprintf(stderr, "street-client: cannot open %s: %s\n", url.c_str(), error ? error->message : "unknown error");
        g_clear_error(&error);
    }
    return opened;
}

void ApplicationPeer::showIconBadge(int number)
{
    if (!bus_)
        return;
    std::string appURI = std::string("application://") + applicationId + ".desktop";
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "count", g_variant_new_int64(number));
    g_variant_builder_add(&properties, "{sv}", "count-visible", g_variant_new_boolean(number != 0));
    std::string path = "/com/canonical/unity/launcherentry/" + std::to_string(g_str_hash(appURI.c_str()));
    g_dbus_connection_emit_signal(bus_, nullptr, path.c_str(), "com.canonical.Unity.LauncherEntry", "Update",
                                  g_variant_new("(sa{sv})", appURI.c_str(), &properties), nullptr);
}

} // namespace backend::gtk
