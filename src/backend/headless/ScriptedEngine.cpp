#include "backend/headless/ScriptedEngine.h"

#include "kit/NetworkError.h"

namespace backend::headless {

bool ScriptedEngine::finish()
{
    if (!view_.isLoading())
        return false;
    view_.engineDidFinishLoad(url_);
    return true;
}

bool ScriptedEngine::fail(int code, std::optional<std::string> description)
{
    if (!view_.isLoading())
        return false;
    view_.engineDidFailLoad(url_, kit::NetworkError::make(code, std::move(description)));
    return true;
}

bool ScriptedEngine::redirect(const std::string& url)
{
    if (!view_.isLoading())
        return false;
    kit::URLRequest hop = kit::URLRequest::requestWithURL(url);
    hop.navigation = request_.navigation;
    hop.navigation.redirect = true;
    hop.navigation.earlierHops.push_back(url_);
    auto serial = view_.loadSerial();
    bool allow = view_.engineShouldStartLoad(hop, kit::NavigationType::Other);
    // The delegate may have stopped this load or started another one while it decided.
    if (serial != view_.loadSerial())
        return true;
    if (!allow) {
        view_.engineDidFailLoad(url_, kit::NetworkError::make(kit::NetworkError::Cancelled));
        return true;
    }
    request_ = std::move(hop);
    url_ = url;
    view_.engineDidRedirect(url_);
    return true;
}

} // namespace backend::headless
