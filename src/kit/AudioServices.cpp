#include "kit/AudioServices.h"

#include "kit/Events.h"
#include "kit/RunLoop.h"

#include <cstring>
#include <fstream>
#include <map>

namespace kit {

namespace {

struct Sound {
    std::string path;
    std::function<void(SystemSoundID)> completion;
};

struct State {
    std::optional<std::string> route = std::string("Speaker");
    std::map<SystemSoundID, Sound> sounds;
    SystemSoundID nextID = 4096;
    SoundPlayer* player = nullptr;
    bool sessionInitialised = false;
};

State& state()
{
    static auto* s = new State();
    return *s;
}

// Only files that a sound player can read become system sounds: AIFF/AIFC, CAF, WAVE.
bool looksLikeSoundFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char head[12] = {};
    if (!in.read(head, sizeof head))
        return false;
    if (std::memcmp(head, "FORM", 4) == 0 && (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0))
        return true;
    if (std::memcmp(head, "caff", 4) == 0)
        return true;
    return std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

std::pair<std::string, std::string> nameAndType(const std::string& path)
{
    auto slash = path.find_last_of('/');
    std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    auto dot = file.find_last_of('.');
    if (dot == std::string::npos)
        return {file, ""};
    return {file.substr(0, dot), file.substr(dot + 1)};
}

} // namespace

void AudioServices::AudioSessionInitialize() { state().sessionInitialised = true; }

std::optional<std::string> AudioServices::audioRoute() { return state().route; }

void AudioServices::setAudioRoute(std::optional<std::string> route) { state().route = std::move(route); }

int AudioServices::createSystemSoundID(const std::string& path, SystemSoundID* outID)
{
    if (!outID)
        return kAudioServicesBadSpecifierSizeError;
    if (!looksLikeSoundFile(path))
        return kAudioServicesUnsupportedPropertyError;
    auto& s = state();
    SystemSoundID id = s.nextID++;
    if (s.player && !s.player->load(id, path))
        return kAudioServicesUnsupportedPropertyError;
    s.sounds[id] = Sound{path, nullptr};
    *outID = id;
    return kAudioServicesNoError;
}

void AudioServices::playSystemSound(SystemSoundID id)
{
    auto& s = state();
    if (id == kSystemSoundID_Vibrate) {
        emit("vibrate");
        if (s.player)
            s.player->vibrate();
        return;
    }
    auto it = s.sounds.find(id);
    if (it == s.sounds.end())
        return;
    auto [name, type] = nameAndType(it->second.path);
    emit("sound", {{"name", name}, {"type", type}});
    auto finished = [id] {
        auto& st = state();
        auto found = st.sounds.find(id);
        if (found == st.sounds.end() || !found->second.completion)
            return;
        auto completion = found->second.completion;
        completion(id);
    };
    if (s.player)
        s.player->play(id, it->second.path, finished);
    else
        RunLoop::main().post(finished);
}

int AudioServices::addSystemSoundCompletion(SystemSoundID id, std::function<void(SystemSoundID)> completion)
{
    auto it = state().sounds.find(id);
    if (it == state().sounds.end())
        return kAudioServicesUnsupportedPropertyError;
    it->second.completion = std::move(completion);
    return kAudioServicesNoError;
}

void AudioServices::removeSystemSoundCompletion(SystemSoundID id)
{
    auto it = state().sounds.find(id);
    if (it != state().sounds.end())
        it->second.completion = nullptr;
}

int AudioServices::disposeSystemSoundID(SystemSoundID id)
{
    auto& s = state();
    if (!s.sounds.erase(id))
        return kAudioServicesUnsupportedPropertyError;
    if (s.player)
        s.player->unload(id);
    return kAudioServicesNoError;
}

bool AudioServices::isSystemSoundValid(SystemSoundID id) { return state().sounds.count(id) != 0; }

size_t AudioServices::liveSystemSoundCount() { return state().sounds.size(); }

void AudioServices::setPlayer(SoundPlayer* player) { state().player = player; }

void AudioServices::reset() { state() = State{}; }

} // namespace kit
