#include "kit/Object.h"

#include <nlohmann/json.hpp>

namespace kit {

bool Object::setOutlet(const std::string&, const std::shared_ptr<Object>&) { return false; }

bool Object::setProperty(const std::string&, const nlohmann::json&) { return false; }

static std::map<std::string, ClassRegistry::Factory>& registry()
{
    static auto* classes = new std::map<std::string, ClassRegistry::Factory>();
    return *classes;
}

void ClassRegistry::registerClass(const std::string& name, Factory factory) { registry()[name] = std::move(factory); }

std::shared_ptr<Object> ClassRegistry::create(const std::string& name)
{
    auto it = registry().find(name);
    return it == registry().end() ? nullptr : it->second();
}

bool ClassRegistry::has(const std::string& name) { return registry().count(name) != 0; }

} // namespace kit
