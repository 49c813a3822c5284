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

} // namespace backend::headless
