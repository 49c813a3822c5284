#include "kit/Image.h"

#include "kit/Bundle.h"

#include <filesystem>
#include <system_error>

namespace kit {

std::shared_ptr<Image> Image::imageNamed(const std::string& name)
{
    auto path = Bundle::mainBundle().pathForResource(name, "");
    if (!path)
        return nullptr;
    return std::make_shared<Image>(name, *path);
}

std::string Image::pathAtScale(int scale) const
{
    if (scale < 2)
        return path_;
    std::filesystem::path file(path_);
    std::filesystem::path doubled = file.parent_path() / (file.stem().string() + "@2x" + file.extension().string());
    std::error_code error;
    return std::filesystem::is_regular_file(doubled, error) ? doubled.string() : path_;
}

} // namespace kit
