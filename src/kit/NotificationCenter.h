#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kit {

class NotificationCenter {
public:
    static NotificationCenter& defaultCenter();

    // `observer` only identifies the registration for removal.
    void addObserver(const void* observer, const std::string& name, std::function<void()> callback);
    void removeObserver(const void* observer, const std::string& name);
    void postNotificationName(const std::string& name);
    size_t observerCount(const std::string& name) const;
    void reset() { entries_.clear(); }

private:
    struct Entry {
        const void* observer;
        std::string name;
        std::function<void()> callback;
        bool removed = false;
    };
    std::vector<Entry> entries_;
};

} // namespace kit
