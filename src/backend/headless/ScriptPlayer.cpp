#include "backend/headless/ScriptPlayer.h"

#include "backend/headless/HeadlessMoviePlayer.h"
#include "backend/headless/ScriptedEngine.h"
#include "kit/WebView.h"

namespace backend::headless {

void ScriptPlayer::perform(const shell::ScriptCommand& command)
{
    using Kind = shell::ScriptCommand::Kind;
    switch (command.kind) {
    case Kind::Finish:
    case Kind::Fail:
    case Kind::Redirect: {
        kit::WebView* view = applicationWebView();
        auto* engine = view ? dynamic_cast<ScriptedEngine*>(view->engine()) : nullptr;
        bool done = false;
        if (engine && command.kind == Kind::Finish)
            done = engine->finish();
        else if (engine && command.kind == Kind::Fail)
            done = engine->fail(command.code, command.description);
        else if (engine)
            done = engine->redirect(command.text);
        if (!done)
            ignored(command);
        return;
    }

    case Kind::MoviePreloaded:
    case Kind::MovieFinished: {
        auto player = HeadlessMoviePlayer::latest();
        if (!player)
            return ignored(command);
        if (command.kind == Kind::MoviePreloaded)
            player->postPreloadDidFinish();
        else
            player->postPlaybackDidFinish();
        return;
    }

    default:
        shell::ScriptPlayer::perform(command);
    }
}

} // namespace backend::headless
