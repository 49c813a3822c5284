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

private:
    std::string name_;
    std::string path_;
};

} // namespace kit
