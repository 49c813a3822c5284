#pragma once

#include "kit/Image.h"
#include "kit/View.h"

namespace kit {

class ImageView : public View {
public:
    using View::View;
    const std::shared_ptr<Image>& image() const { return image_; }
    void setImage(std::shared_ptr<Image> image);
    bool setProperty(const std::string& name, const nlohmann::json& value) override;

private:
    std::shared_ptr<Image> image_;
};

} // namespace kit
