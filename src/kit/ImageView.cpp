#include "kit/ImageView.h"

#include <nlohmann/json.hpp>

namespace kit {

void ImageView::setImage(std::shared_ptr<Image> image)
{
    image_ = std::move(image);
    changed();
}

bool ImageView::setProperty(const std::string& name, const nlohmann::json& value)
{
    if (name == "image") {
        setImage(value.is_string() ? Image::imageNamed(value.get<std::string>()) : nullptr);
        return true;
    }
    return View::setProperty(name, value);
}

} // namespace kit
