#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace street {

// Makes the Recruit classes known to interface files: "RecruitABTableViewController" and
// "RecruitABContainerController".
void registerRecruitClasses();

// The Recruit screen as the state report shows it: null unless it is the frontmost modal
// screen, else {"titles": [26], "rows": [[{"name", "ticked"}...] x26] ([] before the contact
// list is built), "nameLabel": text or null}.
nlohmann::json recruitStateJson();
// Its table's scroll position as the state report shows it: null when recruitStateJson() is,
// else {"offset": points scrolled, "top": [section, row] of the row at the top edge, or null}.
nlohmann::json recruitTableStateJson();

} // namespace street
