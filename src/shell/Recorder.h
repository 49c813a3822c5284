#pragma once

#include "kit/AddressBook.h"
#include "kit/Events.h"
#include "kit/WebView.h"
#include "shell/Options.h"
#include "shell/Script.h"
#include "shell/TranscriptWriter.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace shell {

// Keeps a player's private texts out of a recording: each text typed, each contact's names,
// numbers and addresses get a stand-in, and every event is rewritten with the same stand-ins.
// A name's stand-in keeps its first letter and sorts among the others as the name did, so the
// contact list has the same sections, counts and order.
class Redactor {
public:
    // What `type-redacted N` types: N letters.
    static std::string typedStandIn(size_t letters);
    // The number of letters (UTF-8 characters) of a text.
    static size_t letterCount(std::string_view text);

    // The stand-in of a text typed (or a name kept in the settings); remembered for rewriting.
    std::string typed(const std::string& text);
    // The people with stand-ins for their names, numbers and addresses; remembered for rewriting.
    std::vector<kit::ABPerson> people(const std::vector<kit::ABPerson>& people);

    // Every stand-in put in for what it replaces, wherever it stands on its own (not inside a
    // longer word), in every text of a JSON value.
    std::string rewrite(const std::string& text) const;
    nlohmann::json rewrite(const nlohmann::json& value) const;

private:
    void remember(const std::string& original, const std::string& standIn);
    std::vector<std::pair<std::string, std::string>> replacements_;  // longest first
    size_t numbers_ = 0;
    size_t addresses_ = 0;
};

// Writes a scenario script of everything that reaches the client from outside as the session
// runs (the player's input, the page's loads and how they ended, the platform's notifications,
// the invite post's reply, the address book as read), with the real time between them, so that
// the script alone plays the session again. Beside it: the transcript (redacted as the script
// is) and the address book as a vCard file.
class Recorder : public kit::EventSink, public kit::WebViewObserver {
public:
    // The files beside a recording FILE: FILE without its extension, then ".jsonl" / ".vcf".
    static std::string transcriptPathFor(const std::string& path);
    static std::string contactsPathFor(const std::string& path);

    // Null (with `error` set) when a file cannot be written. `next` also gets every event, as
    // it is (the run's own --transcript).
    static std::unique_ptr<Recorder> open(const Options& options, kit::EventSink* next, std::string* error);
    // What a runner does: a recorder when the options ask for one (none otherwise); false after
    // saying why the files cannot be written.
    static bool openFor(const Options& options, kit::EventSink* transcript, std::unique_ptr<Recorder>& recorder);
    // Where the kit's events go: through the recorder when there is one.
    static kit::EventSink* sink(Recorder* recorder, kit::EventSink* transcript)
    {
        return recorder ? static_cast<kit::EventSink*>(recorder) : transcript;
    }
    // The application's hooks, with the server in force noted for the header.
    AppHooks watching(const AppHooks& hooks);
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // How the replay has the intro movie move on: as the headless player does by itself (with
    // the same --movie-seconds), or at the recorded moments (a real movie's own pace).
    enum class Movie { ByItself, AsPlayed };
    // Once the kit is configured, before the application launches: the header, and the hooks
    // into the kit.
    void begin(Movie movie);
    // The run ends: what is held back is written, the hooks come out.
    void end();

    // A script line the player is about to play. Input and the platform's notifications are
    // written; what the recording gets by other ways (loads, their ends) is not.
    void played(const ScriptCommand& command);
    // A line of input from a screen (a window's widgets), written as given; `type` texts are
    // redacted here.
    void input(const ScriptCommand& command);

    void event(const std::string& name, nlohmann::json fields) override;
    void webViewDecided(kit::WebView& view, const kit::URLRequest& request, bool allow) override;
    void webViewEngineFinished(kit::WebView& view, const std::string& url) override;
    void webViewEngineFailed(kit::WebView& view, const std::string& url, const kit::Error& error) override;

private:
    Recorder(const Options& options, kit::EventSink* next) : options_(options), next_(next) {}
    // A line at the time it happened; `isInput`: a reply that comes while it plays goes before it.
    // `mayBeFrame`: a page's load of that URL, which is a frame's unless the main load begins.
    void write(const std::string& line, bool isInput = false, const std::string* mayBeFrame = nullptr);
    void flush();
    void resolvePendingNavigation();
    void addressBookRead(const std::vector<kit::ABPerson>& people);
    void postEnded(int status, const std::optional<std::string>& body);
    std::string header(const std::string& settings) const;

    Options options_;
    std::string server_;  // the game server in force
    std::optional<std::string> settings_;  // at start, while the header is still to be written
    kit::EventSink* next_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<TranscriptWriter> transcript_;
    Redactor redactor_;
    bool begun_ = false;
    bool recordsMovie_ = false;
    bool started_ = false;  // the client's first event has come
    kit::RunLoop::Micros last_ = 0;
    // Lines from the last input on, held back: the invite post's reply is written before the
    // input that sent it.
    std::vector<std::string> held_;
    size_t inputAt_ = 0;
    bool holdingInput_ = false;
    // A page's load allowed that may be a frame's: the main frame's is known by its start.
    struct Pending {
        std::string url;
        size_t at;  // where in held_
        bool started = false;
    };
    std::optional<Pending> pending_;
    bool refusedHop_ = false;  // the engine's cancellation that follows is the replay's own too
};

} // namespace shell
