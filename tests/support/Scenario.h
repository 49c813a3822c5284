#pragma once

// Runs the built client end to end: a scenario script in, the transcript, exit status and
// error output back. Each run gets a fresh temporary data directory and its own XDG
// directories, so runs never see each other's (or the developer's) settings.

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <sys/types.h>
#include <vector>

namespace scenario {

// A temporary directory, removed with everything in it when the object goes away.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "street-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Gives the directory up: it stays on disk and this object no longer removes it.
    std::string release();

private:
    std::string path_;
};

void removeTree(const std::string& path);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

// Why bwrap (and so WebKit's sandbox) cannot run here, launched through `launcher`; none when it
// runs.
std::optional<std::string> bubblewrapFailure(const std::vector<std::string>& launcher = {});

struct ScenarioOptions {
    // Use this data directory instead of a fresh one; it is left in place afterwards. Two runs
    // given the same directory see each other's user defaults (a restart).
    std::optional<std::string> dataDir;
    // Keep the fresh data directory after the run; its path is in Transcript::dataDir and the
    // caller removes it (removeTree) or hands it to the next run as `dataDir`.
    bool keepDataDir = false;
    // Pass `args` exactly as given: no --headless, --script, --transcript, --resources or
    // --data-dir of our own (command-line tests). The transcript is then empty unless the
    // arguments name one of their own.
    bool rawCommandLine = false;
    // Fed to the client's standard input (for `--script -`); otherwise stdin is /dev/null.
    std::optional<std::string> stdinText;
    // Leave out --headless: the client opens its window (on the display the tests run under).
    bool desktop = false;
    // A run that takes longer is killed and reported with exitCode -1 and timedOut set.
    double timeoutSeconds = 90;
    // No --data-dir: the client keeps its files where the XDG directories say (see environment).
    bool defaultDataDirectories = false;
    // Further environment variables, set last (HOME, say, or one of the XDG directories).
    // STREET_SERVER is kDemoAddress unless set here (empty: the client sees none).
    std::vector<std::pair<std::string, std::string>> environment;
    // A command the client is started under (its arguments follow these).
    std::vector<std::string> launcher;
    // Called about every 50 ms while the client runs, with its process id.
    std::function<void(pid_t)> whileRunning;
    // Called as often, with the transcript's lines written so far (a test that acts as a person
    // would waits for what the screen shows).
    std::function<void(const std::vector<nlohmann::json>&)> watchTranscript;
};

struct Transcript {
    std::vector<nlohmann::json> lines;
    int exitCode = -1;  // the exit status, or 128 + signal number when killed by a signal
    bool timedOut = false;
    std::string stderrText;
    std::string stdoutText;
    std::string dataDir;  // the data directory the run used
    // The client's peak resident memory (VmHWM) in KiB.
    long peakMemoryKB = 0;
    // Transcript lines that are not JSON objects with "t" and "ev" (should stay empty).
    std::vector<std::string> malformedLines;

    std::vector<nlohmann::json> events(const std::string& ev) const;
    // The first line of that event, or null.
    const nlohmann::json* first(const std::string& ev) const;
    const nlohmann::json* last(const std::string& ev) const;
    size_t count(const std::string& ev) const;
    // The "state" objects of every `state` line, in order.
    std::vector<nlohmann::json> states() const;
    // The event names in order (handy in failure messages and order checks).
    std::vector<std::string> names() const;
    // The whole transcript as text, one line per event, for failure messages.
    std::string dump() const;
};

// The built-in demo address. Every run has it as STREET_SERVER (see ScenarioOptions::environment),
// so a run without --server talks to it whatever game server the build was made with, and never
// starts a demo server in its place (only a server that no one named is stood in for).
inline constexpr const char* kDemoAddress = "127.0.0.1:8642";
// The game server the build was made with (STREET_GAME_SERVER), else kDemoAddress.
std::string compiledInServer();

// Runs the client (STREET_CLIENT_BIN) with `script` and these extra arguments:
//   street-client --headless --script F --transcript F --resources R --data-dir D ARGS...
// (ARGS may add --clock, --server, --engine and so on).
Transcript runScenario(const std::string& script, const std::vector<std::string>& args = {},
                       const ScenarioOptions& options = {});

// The demo game server (STREET_DEMO_SERVER_BIN) on a free loopback port, for the life of the
// object. Its request log (one line per request) is kept in a file and can be read any time.
class DemoServer {
public:
    explicit DemoServer(const std::vector<std::string>& extraArgs = {});
    // Another server program that announces itself the same way ("listening on HOST:PORT").
    DemoServer(std::vector<std::string> command, const std::vector<std::string>& extraArgs);
    ~DemoServer();
    DemoServer(const DemoServer&) = delete;
    DemoServer& operator=(const DemoServer&) = delete;

    bool started() const { return port_ > 0; }
    int port() const { return port_; }
    // "127.0.0.1:<port>", the form --server takes.
    std::string hostPort() const;
    std::string baseURL() const { return "http://" + hostPort(); }
    // Everything the server has written to stdout after its first line.
    std::vector<std::string> requestLog() const;
    // The lines of the request log that start with one of `prefixes`.
    std::vector<std::string> requestsStartingWith(std::initializer_list<std::string_view> prefixes) const;
    std::vector<std::string> requestsStartingWith(std::string_view prefix) const { return requestsStartingWith({prefix}); }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    TempDir dir_;
};

// An address book of one contact with a phone number, Ann Lee: enough for one invitation.
extern const std::string kOneContact;
// Script lines that open the Recruit screen from the game server's commands page at `baseURL`,
// wait `settle` seconds for it, name the sender "Zed" and tick the first contact.
std::string openRecruitScript(const std::string& baseURL, const std::string& settle);

// A loopback port with nothing listening on it (bound, then closed again).
int closedLoopbackPort();

} // namespace scenario
