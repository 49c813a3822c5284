#include "kit/Bundle.h"

#include <sys/stat.h>

namespace kit {

static Bundle& shared()
{
    static Bundle bundle;
    return bundle;
}

Bundle& Bundle::mainBundle() { return shared(); }

void Bundle::setResourceDirectory(std::string directory)
{
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    shared().directory_ = std::move(directory);
}

std::optional<std::string> Bundle::pathForResource(const std::string& name, const std::string& type) const
{
    // Names come from pages too: never let one climb out of the resource directory.
    if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos
        || name == "." || name == ".." || type.find('/') != std::string::npos)
        return std::nullopt;
    std::string file = type.empty() ? name : name + "." + type;
    for (const char* sub : {"", "/images", "/sounds", "/movies", "/interfaces"}) {
        std::string path = directory_ + sub + "/" + file;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return path;
    }
    return std::nullopt;
}

} // namespace kit
