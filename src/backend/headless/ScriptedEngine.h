#pragma once

#include "kit/RunLoop.h"
#include "kit/WebView.h"

#include <optional>
#include <string>

namespace backend::headless {

// A web engine that fetches nothing: the scenario script plays the network. A load starts on
// the next run-loop turn and stays in flight until the script finishes or fails it.
class ScriptedEngine : public kit::WebEngine {
public:
    explicit ScriptedEngine(kit::WebView& view) : view_(view) {}
    ~ScriptedEngine() override;

    void load(const kit::URLRequest& request) override;
    void stopLoading() override;
    bool isLoading() const override { return inFlight_; }

    // The load in flight finishes / fails. False when there is none.
    bool finish();
    bool fail(int code, std::optional<std::string> description);
    const std::string& currentURL() const { return url_; }

private:
    // The load ends: its start is reported first if it has not been yet.
    std::string endLoad();

    kit::WebView& view_;
    bool inFlight_ = false;
    std::string url_;
    kit::RunLoop::TaskId startTask_ = 0;
};

} // namespace backend::headless
