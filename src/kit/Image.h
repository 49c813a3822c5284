#pragma once

#include <memory>
#include <string>

namespace kit {

// A packaged picture, known by its resource name and file.
class Image {
public:
    // The packaged image of that name, or null when the application has none.
    static std::shared_ptr<Image> imageNamed(const std::string& name);

    Image(std::string name, std::string path) : name_(std::move(name)), path_(std::move(path)) {}
    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }
    // The file to draw at a display scale: at 2 and above, the double-size picture packaged
    // beside this one ("name@2x.ext"), when there is one.
    std::string pathAtScale(int scale) const;

private:
    std::string name_;
    std::string path_;
};

} // namespace kit
