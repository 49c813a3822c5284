#include "kit/Window.h"

#include "kit/Application.h"

namespace kit {

void Window::makeKeyAndVisible()
{
    Application::sharedApplication().setKeyWindow(this);
    setHidden(false);
}

bool Window::isKeyWindow() const { return Application::sharedApplication().keyWindow() == this; }

} // namespace kit
