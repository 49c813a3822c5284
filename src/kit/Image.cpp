#include "kit/Image.h"

#include "kit/Bundle.h"

namespace kit {

std::shared_ptr<Image> Image::imageNamed(const std::string& name)
{
    auto path = Bundle::mainBundle().pathForResource(name, "");
    if (!path)
        return nullptr;
    return std::make_shared<Image>(name, *path);
}

} // namespace kit
