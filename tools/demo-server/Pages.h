#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace demo {

// HTML of a game page by its file name ("home.php"); nothing for a name the game does not have.
// Every page is transparent so that the client's background picture shows through. A page
// greets `player`; without one (no session) it says that the session has expired. The sign-up
// page needs no session.
std::optional<std::string> gamePage(std::string_view file, const std::optional<std::string>& player);

// A page of links that exercise every command the client understands in a page URL.
std::string commandsPage();

std::string slowPage(int waitedMs);

// A live race: two cars that never stop moving, so that the page draws every frame.
std::string livePage();

} // namespace demo
