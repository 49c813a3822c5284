#pragma once

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace kit {

// Base of every object an interface file can create or connect.
class Object : public std::enable_shared_from_this<Object> {
public:
    virtual ~Object() = default;

    // Connects a named outlet from an interface file; false when the object has no such outlet.
    virtual bool setOutlet(const std::string& name, const std::shared_ptr<Object>& target);
    // Applies a property from an interface file (frame, title, image...); false when unknown.
    virtual bool setProperty(const std::string& name, const nlohmann::json& value);
    // Called once every object of the file exists and every outlet is connected.
    virtual void awakeFromNib() {}

    template<typename T>
    std::shared_ptr<T> sharedAs() { return std::dynamic_pointer_cast<T>(shared_from_this()); }
};

// Classes that interface files may instantiate, by name.
class ClassRegistry {
public:
    using Factory = std::function<std::shared_ptr<Object>()>;
    static void registerClass(const std::string& name, Factory factory);
    static std::shared_ptr<Object> create(const std::string& name);
    static bool has(const std::string& name);
};

// Connects `target` into a typed member when it is of the member's type.
template<typename T>
bool connectOutlet(std::shared_ptr<T>& member, const std::shared_ptr<Object>& target)
{
    auto typed = std::dynamic_pointer_cast<T>(target);
    if (!typed && target)
        return false;
    member = std::move(typed);
    return true;
}

} // namespace kit
