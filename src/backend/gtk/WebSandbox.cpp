#include "backend/gtk/WebSandbox.h"

#include <glib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace backend::gtk {

bool WebSandbox::optedOut()
{
    const char* value = std::getenv(optOutVariable);
    return value && std::strcmp(value, "1") == 0;
}

WebSandbox::Trial::Trial()
{
    const char* argv[] = {bubblewrap, "--ro-bind", "/", "/", "--proc", "/proc", "--dev", "/dev", "--unshare-all",
                          "--die-with-parent", "true", nullptr};
    GError* error = nullptr;
    auto flags = static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_DO_NOT_REAP_CHILD);
    if (!g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), nullptr, flags, nullptr, nullptr, &pid_,
                                  nullptr, nullptr, &errors_, &error)) {
        outcome_ = std::string(bubblewrap) + " cannot be started (" + error->message + ")";
        g_error_free(error);
        pid_ = 0;
    }
}

WebSandbox::Trial::~Trial()
{
    if (pid_)
        failure(); // reaps it: bwrap itself ends as soon as `true` has
}

std::optional<std::string> WebSandbox::Trial::failure()
{
    if (outcome_)
        return *outcome_;
    std::string said;
    char chunk[512];
    for (ssize_t n; (n = read(errors_, chunk, sizeof chunk)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        if (said.size() < 4096)
            said.append(chunk, static_cast<size_t>(n));
    }
    close(errors_);
    errors_ = -1;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    g_spawn_close_pid(pid_);
    pid_ = 0;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        outcome_.emplace(std::nullopt);
        return std::nullopt;
    }
    gchar* stripped = g_strstrip(g_strdup(said.c_str()));
    said = stripped;
    g_free(stripped);
    if (auto newline = said.find('\n'); newline != std::string::npos)
        said.resize(newline);
    outcome_ = std::string(bubblewrap) + " does not work here (" + (said.empty() ? "it failed" : said) + ")";
    return *outcome_;
}

} // namespace backend::gtk
