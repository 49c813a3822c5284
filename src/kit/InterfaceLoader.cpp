#include "kit/InterfaceLoader.h"

#include "kit/ActivityIndicatorView.h"
#include "kit/Button.h"
#include "kit/Label.h"
#include "kit/TableView.h"
#include "kit/Toolbar.h"
#include "kit/Bundle.h"
#include "kit/ImageView.h"
#include "kit/TabBar.h"
#include "kit/ViewController.h"
#include "kit/Window.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace kit {

static void complain(const std::string& name, const std::string& what)
{
    std::fprintf(stderr, "street-client: interface file %s: %s\n", name.c_str(), what.c_str());
}

void InterfaceLoader::registerKitClasses()
{
    ClassRegistry::registerClass("View", [] { return std::make_shared<View>(); });
    ClassRegistry::registerClass("Window", [] { return std::make_shared<Window>(); });
    ClassRegistry::registerClass("ImageView", [] { return std::make_shared<ImageView>(); });
    ClassRegistry::registerClass("TabBar", [] { return std::make_shared<TabBar>(); });
    ClassRegistry::registerClass("ActivityIndicatorView", [] { return std::make_shared<ActivityIndicatorView>(); });
    ClassRegistry::registerClass("ViewController", [] { return std::make_shared<ViewController>(); });
    ClassRegistry::registerClass("Label", [] { return std::make_shared<Label>(); });
    ClassRegistry::registerClass("Button", [] { return std::make_shared<Button>(); });
    ClassRegistry::registerClass("Toolbar", [] { return std::make_shared<Toolbar>(); });
    ClassRegistry::registerClass("TableView", [] { return std::make_shared<TableView>(); });
}

std::map<std::string, std::shared_ptr<Object>> InterfaceLoader::load(const std::string& name,
                                                                     const std::shared_ptr<Object>& owner)
{
    std::map<std::string, std::shared_ptr<Object>> objects;
    auto path = Bundle::mainBundle().pathForResource(name, "json");
    if (!path) {
        complain(name, "not found among the resources");
        return objects;
    }
    nlohmann::json doc;
    try {
        std::ifstream in(*path);
        doc = nlohmann::json::parse(in);
    } catch (const std::exception& e) {
        complain(name, std::string("unreadable: ") + e.what());
        return objects;
    }
    if (!doc.is_object() || !doc.contains("objects") || !doc["objects"].is_array()) {
        complain(name, "has no \"objects\" list");
        return objects;
    }

    for (const auto& entry : doc["objects"]) {
        std::string id = entry.value("id", "");
        std::string cls = entry.value("class", "");
        auto object = ClassRegistry::create(cls);
        if (id.empty() || !object) {
            complain(name, "cannot create object '" + id + "' of class '" + cls + "'");
            continue;
        }
        if (auto view = std::dynamic_pointer_cast<View>(object))
            view->setIdentifier(id);
        objects[id] = object;
    }
    for (const auto& entry : doc["objects"]) {
        auto it = objects.find(entry.value("id", ""));
        if (it == objects.end())
            continue;
        auto& object = it->second;
        if (entry.contains("properties")) {
            for (const auto& [key, value] : entry["properties"].items()) {
                bool applied = false;
                try {
                    applied = object->setProperty(key, value);
                } catch (const std::exception&) {
                }
                if (!applied)
                    complain(name, "object '" + it->first + "' takes no property '" + key + "' of that form");
            }
        }
        if (entry.contains("subviews")) {
            auto parent = std::dynamic_pointer_cast<View>(object);
            for (const auto& child : entry["subviews"]) {
                auto found = objects.find(child.get<std::string>());
                auto view = found == objects.end() ? nullptr : std::dynamic_pointer_cast<View>(found->second);
                if (parent && view)
                    parent->addSubview(view);
                else
                    complain(name, "cannot add subview '" + child.get<std::string>() + "' to '" + it->first + "'");
            }
        }
    }
    auto resolve = [&](const std::string& id) -> std::shared_ptr<Object> {
        if (id == "File's Owner")
            return owner;
        auto found = objects.find(id);
        return found == objects.end() ? nullptr : found->second;
    };
    if (doc.contains("outlets")) {
        for (const auto& outlet : doc["outlets"]) {
            auto from = resolve(outlet.value("from", ""));
            auto to = resolve(outlet.value("to", ""));
            std::string outletName = outlet.value("name", "");
            if (!from || !to || !from->setOutlet(outletName, to))
                complain(name, "cannot connect outlet '" + outletName + "' of '" + outlet.value("from", "") + "'");
        }
    }
    for (auto& [id, object] : objects)
        object->awakeFromNib();
    return objects;
}

} // namespace kit
