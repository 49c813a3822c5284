#pragma once

#include "kit/WebView.h"

#include <optional>
#include <string>

namespace backend::headless {

// A web engine that fetches nothing: the scenario script plays the network. A load stays in
// flight until the script finishes or fails it.
class ScriptedEngine : public kit::WebEngine {
public:
    explicit ScriptedEngine(kit::WebView& view) : view_(view) {}

    // The load in flight finishes / fails. False when there is none.
    bool finish();
    bool fail(int code, std::optional<std::string> description);
    // The load in flight is sent on to `url`: the hop passes the bridge (refused, the load ends
    // as cancelled). False when there is no load.
    bool redirect(const std::string& url);

private:
    void loadImpl(const kit::URLRequest& request) override
    {
        request_ = request;
        url_ = request.url;
    }
    void stopLoadingImpl() override {}

    kit::WebView& view_;
    kit::URLRequest request_;
    std::string url_;
};

} // namespace backend::headless
