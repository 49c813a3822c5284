#include "kit/Window.h"

#include "kit/Application.h"

namespace kit {

// The application refers to its key window without owning it.
Window::~Window() { Application::windowWillGo(this); }

void Window::makeKeyAndVisible()
{
    Application::sharedApplication().setKeyWindow(this);
    setHidden(false);
}

bool Window::isKeyWindow() const { return Application::sharedApplication().keyWindow() == this; }

} // namespace kit
