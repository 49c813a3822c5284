#pragma once

#include "kit/Object.h"

#include <map>
#include <memory>
#include <string>

namespace kit {

// Interface files: JSON under resources/interfaces/NAME.json that create objects, set their
// properties, arrange views and connect outlets.
//
//   { "objects": [ { "id": "mainView", "class": "View",
//                    "properties": { "frame": [0, 0, 320, 480] },
//                    "subviews": [ "imageViewBg", "mainTabBar" ] }, ... ],
//     "outlets": [ { "from": "File's Owner", "name": "delegate", "to": "appDelegate" }, ... ] }
//
// "File's Owner" names the object that loads the file. Classes come from the ClassRegistry.
class InterfaceLoader {
public:
    // The created objects by id; an unreadable or inconsistent file is reported on stderr and
    // creates what it can.
    static std::map<std::string, std::shared_ptr<Object>> load(const std::string& name,
                                                               const std::shared_ptr<Object>& owner);
    static void registerKitClasses();
};

} // namespace kit
