#include "backend/gtk/WebModule.h"
#include "backend/gtk/WebViewPeer.h"

// The web module's one entry point (see WebModule::get).
extern "C" const backend::gtk::WebModule* street_desktop_web_module();

extern "C" const backend::gtk::WebModule* street_desktop_web_module()
{
    using namespace backend::gtk;
    static const WebModule module{
        [](const PageSettings& settings) -> std::unique_ptr<PageEngineMaker> { return std::make_unique<WebViewPeer::Factory>(settings); },
    };
    return &module;
}
