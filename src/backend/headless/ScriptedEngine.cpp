#include "backend/headless/ScriptedEngine.h"

#include "kit/NetworkError.h"

namespace backend::headless {

ScriptedEngine::~ScriptedEngine() { kit::RunLoop::main().cancel(startTask_); }

void ScriptedEngine::load(const kit::URLRequest& request)
{
    if (inFlight_) {
        kit::RunLoop::main().cancel(startTask_);
        startTask_ = 0;
        inFlight_ = false;
        view_.engineDidFailLoad(url_, kit::NetworkError::make(kit::NetworkError::Cancelled));
    }
    inFlight_ = true;
    url_ = request.url;
    // Reported on the next turn, as a real engine does: never from inside loadRequest.
    startTask_ = kit::RunLoop::main().post([this] {
        startTask_ = 0;
        view_.engineDidStartLoad(url_);
    });
}

void ScriptedEngine::stopLoading()
{
    if (!inFlight_)
        return;
    kit::RunLoop::main().cancel(startTask_);
    startTask_ = 0;
    inFlight_ = false;
    view_.engineDidFailLoad(url_, kit::NetworkError::make(kit::NetworkError::Cancelled));
}

std::string ScriptedEngine::endLoad()
{
    if (startTask_) {
        kit::RunLoop::main().cancel(startTask_);
        startTask_ = 0;
        view_.engineDidStartLoad(url_);
    }
    inFlight_ = false;
    return url_;
}

bool ScriptedEngine::finish()
{
    if (!inFlight_)
        return false;
    view_.engineDidFinishLoad(endLoad());
    return true;
}

bool ScriptedEngine::fail(int code, std::optional<std::string> description)
{
    if (!inFlight_)
        return false;
    view_.engineDidFailLoad(endLoad(), kit::NetworkError::make(code, std::move(description)));
    return true;
}

} // namespace backend::headless
