#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace demo {

// HTML of a game page by its file name ("home.php"); nothing for a name the game does not have.
// Every page is transparent so that the client's background picture shows through.
std::optional<std::string> gamePage(std::string_view file);

// A page of links that exercise every command the client understands in a page URL.
std::string commandsPage();

std::string slowPage(int waitedMs);

} // namespace demo
