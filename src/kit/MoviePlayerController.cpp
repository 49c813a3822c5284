#include "kit/MoviePlayerController.h"

#include "kit/Events.h"
#include "kit/NotificationCenter.h"

#include <sys/stat.h>

namespace kit {

static MoviePlayerController::PeerFactory& peerFactory()
{
    static auto* factory = new MoviePlayerController::PeerFactory();
    return *factory;
}

void MoviePlayerController::setPeerFactory(PeerFactory factory) { peerFactory() = std::move(factory); }

MoviePlayerController::~MoviePlayerController() = default;

std::shared_ptr<MoviePlayerController> MoviePlayerController::initWithContentURL(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !peerFactory())
        return nullptr;
    auto player = std::make_shared<MoviePlayerController>(path);
    player->peer_ = peerFactory()(*player);
    if (!player->peer_)
        return nullptr;
    emit("movie", {{"name", player->name()}, {"event", "prepare"}});
    return player;
}

std::string MoviePlayerController::name() const
{
    auto slash = contentURL_.find_last_of('/');
    std::string file = slash == std::string::npos ? contentURL_ : contentURL_.substr(slash + 1);
    auto dot = file.find_last_of('.');
    return dot == std::string::npos ? file : file.substr(0, dot);
}

void MoviePlayerController::play()
{
    if (playing_ || playbackPosted_)
        return;
    playing_ = true;
    emit("movie", {{"name", name()}, {"event", "play"}});
    if (peer_)
        peer_->play(*this);
}

static MoviePlayerController::PostObserver& postObserver()
{
    static auto* observer = new MoviePlayerController::PostObserver();
    return *observer;
}

void MoviePlayerController::setPostObserver(PostObserver observer) { postObserver() = std::move(observer); }

void MoviePlayerController::postPreloadDidFinish()
{
    if (preloadPosted_)
        return;
    preloadPosted_ = true;
    if (postObserver())
        postObserver()(Posted::PreloadDidFinish);
    NotificationCenter::defaultCenter().postNotificationName(MoviePlayerContentPreloadDidFinishNotification);
}

void MoviePlayerController::postPlaybackDidFinish()
{
    if (playbackPosted_)
        return;
    playbackPosted_ = true;
    playing_ = false;
    if (postObserver())
        postObserver()(Posted::PlaybackDidFinish);
    NotificationCenter::defaultCenter().postNotificationName(MoviePlayerPlaybackDidFinishNotification);
}

} // namespace kit
