#include "kit/NotificationCenter.h"

#include <algorithm>

namespace kit {

NotificationCenter& NotificationCenter::defaultCenter()
{
    static auto* center = new NotificationCenter();
    return *center;
}

void NotificationCenter::addObserver(const void* observer, const std::string& name, std::function<void()> callback)
{
    entries_.push_back(Entry{observer, name, std::move(callback)});
}

void NotificationCenter::removeObserver(const void* observer, const std::string& name)
{
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.observer == observer && e.name == name; }),
                   entries_.end());
}

void NotificationCenter::postNotificationName(const std::string& name)
{
    // Observers may remove themselves (or others) while being told: call a snapshot, and skip
    // registrations that are gone by the time their turn comes.
    std::vector<std::pair<const void*, std::function<void()>>> targets;
    for (auto& e : entries_)
        if (e.name == name)
            targets.emplace_back(e.observer, e.callback);
    for (auto& target : targets) {
        bool stillThere = std::any_of(entries_.begin(), entries_.end(),
                                      [&](const Entry& e) { return e.observer == target.first && e.name == name; });
        if (stillThere)
            target.second();
    }
}

size_t NotificationCenter::observerCount(const std::string& name) const
{
    return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.name == name; }));
}

} // namespace kit
