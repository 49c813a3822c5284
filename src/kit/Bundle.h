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
    // An installed program's resources: PREFIX/share/street-client beside PREFIX/bin/street-client,
    // when they are there; otherwise `fallback` (the source tree's, for a program run from its build).
    static std::string installedResourceDirectory(const std::string& fallback);

    const std::string& resourceDirectory() const { return directory_; }
    // The full path of the resource `name` of type `type` ("aif", "m4v"; empty when the name has
    // its extension already), or none when the application has no such file.
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;

private:
    std::string directory_;
};

} // namespace kit
