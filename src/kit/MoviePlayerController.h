#pragma once

#include "kit/Object.h"

#include <functional>
#include <memory>
#include <string>

namespace kit {

inline const std::string MoviePlayerContentPreloadDidFinishNotification = "MoviePlayerContentPreloadDidFinish";
inline const std::string MoviePlayerPlaybackDidFinishNotification = "MoviePlayerPlaybackDidFinish";

enum class MovieControlMode { Default = 0, VolumeOnly = 1, Hidden = 2 };

class MoviePlayerController;

// A backend's movie output. It calls postPreloadDidFinish / postPlaybackDidFinish on the player.
class MoviePlayerPeer {
public:
    virtual ~MoviePlayerPeer() = default;
    virtual void play(MoviePlayerController&) = 0;
};

// The full-screen movie player. Each of its two notifications is posted at most once.
class MoviePlayerController : public Object {
public:
    using PeerFactory = std::function<std::unique_ptr<MoviePlayerPeer>(MoviePlayerController&)>;
    static void setPeerFactory(PeerFactory factory);
    // Told of each notification a player posts (a session recorder); null removes it.
    enum class Posted { PreloadDidFinish, PlaybackDidFinish };
    using PostObserver = std::function<void(Posted)>;
    static void setPostObserver(PostObserver observer);

    // A player for the movie file at `path`, or null when none can be made (no such file, or the
    // backend has no movie output).
    static std::shared_ptr<MoviePlayerController> initWithContentURL(const std::string& path);

    const std::string& contentURL() const { return contentURL_; }
    // The movie's resource name ("halvex_v1").
    std::string name() const;
    MovieControlMode movieControlMode() const { return controlMode_; }
    void setMovieControlMode(MovieControlMode mode) { controlMode_ = mode; }
    void play();
    bool isPlaying() const { return playing_; }

    void postPreloadDidFinish();
    void postPlaybackDidFinish();

    explicit MoviePlayerController(std::string contentURL) : contentURL_(std::move(contentURL)) {}
    ~MoviePlayerController() override;

private:
    std::string contentURL_;
    MovieControlMode controlMode_ = MovieControlMode::Default;
    std::unique_ptr<MoviePlayerPeer> peer_;
    bool playing_ = false;
    bool preloadPosted_ = false;
    bool playbackPosted_ = false;
};

} // namespace kit
