#include "kit/ActivityIndicatorView.h"

namespace kit {

void ActivityIndicatorView::startAnimating()
{
    animating_ = true;
    changed();
}

void ActivityIndicatorView::stopAnimating()
{
    animating_ = false;
    changed();
}

} // namespace kit
