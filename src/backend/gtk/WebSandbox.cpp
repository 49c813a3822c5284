#include "backend/gtk/WebSandbox.h"

#include <glib.h>

#include <cstdlib>
#include <cstring>

namespace backend::gtk {

bool WebSandbox::optedOut()
{
    const char* value = std::getenv(optOutVariable);
    return value && std::strcmp(value, "1") == 0;
}

std::optional<std::string> WebSandbox::trialFailure()
{
    const char* argv[] = {bubblewrap, "--ro-bind", "/", "/", "--proc", "/proc", "--dev", "/dev", "--unshare-all",
                          "--die-with-parent", "true", nullptr};
    gchar* errors = nullptr;
    gint status = 0;
    GError* error = nullptr;
    std::optional<std::string> failure;
    if (!g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_STDOUT_TO_DEV_NULL, nullptr, nullptr,
                      nullptr, &errors, &status, &error)) {
        failure = std::string(bubblewrap) + " cannot be started (" + error->message + ")";
        g_error_free(error);
    } else if (!g_spawn_check_wait_status(status, nullptr)) {
        std::string said = errors ? g_strstrip(errors) : "";
        if (auto newline = said.find('\n'); newline != std::string::npos)
            said.resize(newline);
        failure = std::string(bubblewrap) + " does not work here (" + (said.empty() ? "it failed" : said) + ")";
    }
    g_free(errors);
    return failure;
}

} // namespace backend::gtk
