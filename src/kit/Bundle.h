#pragma once

#include <optional>
#include <string>

namespace kit {

// The application's packaged resources: one directory with images/, sounds/, movies/ and
// interfaces/ below it.
class Bundle {
public:
    static Bundle& mainBundle();
    static void setResourceDirectory(std::string directory);

    const std::string& resourceDirectory() const { return directory_; }
    // The full path of the resource `name` of type `type` ("aif", "m4v"; empty when the name has
    // its extension already), or none when the application has no such file.
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;

private:
    std::string directory_;
};

} // namespace kit
