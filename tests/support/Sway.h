#pragma once

// The Wayland compositor that tools/with-wayland runs the window's tests on (a headless sway):
// what it shows and what it is asked, through its IPC (swaymsg on SWAYSOCK), where the X11 runs
// ask the X server (OwnDisplay.h).

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <sys/wait.h>
#include <vector>

namespace scenario {

// Whether the window opens on Wayland, as GDK chooses: GDK_BACKEND first, else WAYLAND_DISPLAY.
inline bool onWayland()
{
    const char* backend = std::getenv("GDK_BACKEND");
    if (backend && *backend)
        return std::string_view(backend).starts_with("wayland");
    return std::getenv("WAYLAND_DISPLAY") != nullptr;
}

// The output of `swaymsg ARGS` as JSON; none without a sway to ask (no SWAYSOCK) or when it fails.
inline std::optional<nlohmann::json> swaymsg(const std::string& args)
{
    if (!std::getenv("SWAYSOCK"))
        return std::nullopt;
    FILE* pipe = ::popen(("swaymsg -r " + args + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    int status = ::pclose(pipe);
    auto json = nlohmann::json::parse(text, nullptr, false);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || json.is_discarded())
        return std::nullopt;
    return json;
}

struct SwayWindow {
    pid_t pid;
    std::string appId;  // "" for a window without one
    std::string shell;  // "xdg_shell" for a Wayland program's window
    int width, height;  // of what the program draws, without sway's border
};

// Every window sway shows, tiled or floating; none without a sway to ask.
inline std::optional<std::vector<SwayWindow>> swayWindows()
{
    auto tree = swaymsg("-t get_tree");
    if (!tree)
        return std::nullopt;
    std::vector<SwayWindow> found;
    std::vector<const nlohmann::json*> pending{&*tree};
    while (!pending.empty()) {
        const nlohmann::json& node = *pending.back();
        pending.pop_back();
        if (node.contains("pid") && node.contains("shell")) {
            const auto& rect = node.value("window_rect", nlohmann::json::object());
            found.push_back({node["pid"].get<pid_t>(), node["app_id"].is_string() ? node["app_id"].get<std::string>() : "",
                             node["shell"].get<std::string>(), rect.value("width", 0), rect.value("height", 0)});
        }
        for (const char* children : {"nodes", "floating_nodes"})
            if (node.contains(children))
                for (const auto& child : node[children])
                    pending.push_back(&child);
    }
    return found;
}

// Runs a sway command on the windows of process `pid` ([pid=N] criteria): true when it found
// one and did it.
inline bool swayCommand(pid_t pid, const std::string& command)
{
    auto replies = swaymsg("'[pid=" + std::to_string(pid) + "] " + command + "'");
    return replies && replies->is_array() && !replies->empty() && (*replies)[0].value("success", false);
}

} // namespace scenario
