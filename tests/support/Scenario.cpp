#include "support/Scenario.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace scenario {

namespace {

std::string tempRoot()
{
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

// The current environment with some variables replaced.
std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& overrides)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const auto& [name, value] : overrides)
            if (entry.compare(0, name.size() + 1, name + "=") == 0)
                replaced = true;
        if (!replaced)
            env.push_back(std::move(entry));
    }
    for (const auto& [name, value] : overrides)
        env.push_back(name + "=" + value);
    return env;
}

std::vector<char*> cStrings(std::vector<std::string>& texts)
{
    std::vector<char*> out;
    for (auto& text : texts)
        out.push_back(text.data());
    out.push_back(nullptr);
    return out;
}

// Starts `argv` with stdin, stdout and stderr connected to the given files; no shell.
pid_t spawn(std::vector<std::string> argv, std::vector<std::string> env, const std::string& stdinPath,
            const std::string& stdoutPath, const std::string& stderrPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    auto args = cStrings(argv);
    auto envp = cStrings(env);
    pid_t pid = -1;
    int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    return pid;
}

int statusToExitCode(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// Waits for the child; kills it after `timeoutSeconds`. Answers the exit code (-1 on time-out).
// *peakKB gets the child's peak resident memory (its VmHWM, as the kernel reports it at exit).
int waitFor(pid_t pid, double timeoutSeconds, bool& timedOut, long* peakKB = nullptr,
            const std::function<void(pid_t)>& whileRunning = {})
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    auto nextCall = std::chrono::steady_clock::now();
    timedOut = false;
    for (;;) {
        if (whileRunning && std::chrono::steady_clock::now() >= nextCall) {
            whileRunning(pid);
            nextCall = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        }
        int status = 0;
        struct rusage usage {};
        pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) {
            if (peakKB)
                *peakKB = usage.ru_maxrss;
            return statusToExitCode(status);
        }
        if (done < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            timedOut = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool hasFlag(const std::vector<std::string>& args, const std::string& flag)
{
    for (const auto& arg : args)
        if (arg == flag)
            return true;
    return false;
}

} // namespace

TempDir::TempDir(const std::string& prefix)
{
    std::string pattern = tempRoot() + "/" + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    path_ = pattern;
}

TempDir::~TempDir()
{
    if (!path_.empty())
        removeTree(path_);
}

std::string TempDir::release() { return std::exchange(path_, std::string()); }

void removeTree(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<nlohmann::json> Transcript::events(const std::string& ev) const
{
    std::vector<nlohmann::json> out;
    for (const auto& line : lines)
        if (line.value("ev", "") == ev)
            out.push_back(line);
    return out;
}

const nlohmann::json* Transcript::first(const std::string& ev) const
{
    for (const auto& line : lines)
        if (line.value("ev", "") == ev)
            return &line;
    return nullptr;
}

const nlohmann::json* Transcript::last(const std::string& ev) const
{
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->value("ev", "") == ev)
            return &*it;
    return nullptr;
}

size_t Transcript::count(const std::string& ev) const { return events(ev).size(); }

std::vector<nlohmann::json> Transcript::states() const
{
    std::vector<nlohmann::json> out;
    for (const auto& line : lines)
        if (line.value("ev", "") == "state" && line.contains("state"))
            out.push_back(line["state"]);
    return out;
}

std::vector<std::string> Transcript::names() const
{
    std::vector<std::string> out;
    for (const auto& line : lines)
        out.push_back(line.value("ev", ""));
    return out;
}

std::string Transcript::dump() const
{
    std::string out;
    for (const auto& line : lines)
        out += line.dump() + "\n";
    out += "exit " + std::to_string(exitCode) + (timedOut ? " (timed out)" : "") + "\n";
    if (!stderrText.empty())
        out += "stderr:\n" + stderrText;
    return out;
}

Transcript runScenario(const std::string& script, const std::vector<std::string>& args, const ScenarioOptions& options)
{
    TempDir work("street-run");
    std::optional<TempDir> freshData;
    std::string dataDir;
    if (options.dataDir) {
        dataDir = *options.dataDir;
    } else {
        freshData.emplace("street-data");
        dataDir = freshData->path();
    }
    std::string scriptPath = work.path() + "/script.txt";
    std::string transcriptPath = work.path() + "/transcript.jsonl";
    std::string stdinPath = "/dev/null";
    writeFile(scriptPath, script);
    if (options.stdinText) {
        stdinPath = work.path() + "/stdin.txt";
        writeFile(stdinPath, *options.stdinText);
    }
    std::filesystem::create_directories(work.path() + "/xdg-config");
    std::filesystem::create_directories(work.path() + "/xdg-data");

    std::vector<std::string> argv = options.launcher;
    argv.push_back(STREET_CLIENT_BIN);
    if (!options.rawCommandLine) {
        if (!options.desktop)
            argv.push_back("--headless");
        if (!hasFlag(args, "--script"))
            argv.insert(argv.end(), {"--script", scriptPath});
        if (!hasFlag(args, "--transcript"))
            argv.insert(argv.end(), {"--transcript", transcriptPath});
        if (!hasFlag(args, "--resources"))
            argv.insert(argv.end(), {"--resources", STREET_RESOURCES_DIR});
        if (!hasFlag(args, "--data-dir") && !options.defaultDataDirectories)
            argv.insert(argv.end(), {"--data-dir", dataDir});
    }
    argv.insert(argv.end(), args.begin(), args.end());

    std::vector<std::pair<std::string, std::string>> variables{{"XDG_CONFIG_HOME", work.path() + "/xdg-config"},
                                                               {"XDG_DATA_HOME", work.path() + "/xdg-data"},
                                                               {"XDG_CACHE_HOME", work.path() + "/xdg-cache"},
                                                               {"STREET_SERVER", kDemoAddress}};
    // A machine that cannot make user namespaces (a chroot, a locked-down container) cannot run
    // WebKit's sandbox, and the window then rightly shows no page. The window's other tests still
    // run there, without it; the containment tests check the sandbox itself and say so.
    static const bool sandboxRuns = [] {
        auto failure = bubblewrapFailure();
        if (failure)
            std::fprintf(stderr, "note: bwrap cannot run here, so the window's tests run pages without WebKit's "
                                 "sandbox: %s\n", failure->c_str());
        return !failure;
    }();
    if (options.desktop && !sandboxRuns)
        variables.emplace_back("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1");
    for (const auto& [name, value] : options.environment) {
        std::erase_if(variables, [&](const auto& v) { return v.first == name; });
        variables.emplace_back(name, value);
    }
    auto env = environmentWith(variables);
    Transcript result;
    pid_t pid = spawn(argv, env, stdinPath, work.path() + "/stdout.txt", work.path() + "/stderr.txt");
    std::function<void(pid_t)> whileRunning = options.whileRunning;
    if (options.watchTranscript)
        whileRunning = [&](pid_t child) {
            if (options.whileRunning)
                options.whileRunning(child);
            std::vector<nlohmann::json> lines;
            std::istringstream in(readFile(transcriptPath));
            // The last line may still be being written.
            for (std::string line; std::getline(in, line);) {
                auto parsed = nlohmann::json::parse(line, nullptr, false);
                if (!parsed.is_discarded())
                    lines.push_back(std::move(parsed));
            }
            options.watchTranscript(lines);
        };
    result.exitCode = waitFor(pid, options.timeoutSeconds, result.timedOut, &result.peakMemoryKB, whileRunning);
    result.stdoutText = readFile(work.path() + "/stdout.txt");
    result.stderrText = readFile(work.path() + "/stderr.txt");
    result.dataDir = dataDir;

    std::istringstream in(readFile(transcriptPath));
    for (std::string line; std::getline(in, line);) {
        if (line.empty())
            continue;
        auto parsed = nlohmann::json::parse(line, nullptr, false);
        if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains("t") || !parsed["t"].is_number()
            || !parsed.contains("ev") || !parsed["ev"].is_string()) {
            result.malformedLines.push_back(line);
            continue;
        }
        result.lines.push_back(std::move(parsed));
    }
    if (freshData && options.keepDataDir)
        freshData->release();
    return result;
}

DemoServer::DemoServer(const std::vector<std::string>& extraArgs)
    : DemoServer({STREET_DEMO_SERVER_BIN}, extraArgs)
{
}

DemoServer::DemoServer(std::vector<std::string> command, const std::vector<std::string>& extraArgs)
    : dir_("street-demo")
{
    std::vector<std::string> argv = std::move(command);
    argv.insert(argv.end(), {"--port", "0"});
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    std::string logPath = dir_.path() + "/stdout.txt";
    pid_ = spawn(argv, environmentWith({}), "/dev/null", logPath, dir_.path() + "/stderr.txt");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string text = readFile(logPath);
        auto newline = text.find('\n');
        if (newline != std::string::npos) {
            std::string first = text.substr(0, newline);
            auto colon = first.rfind(':');
            if (first.rfind("listening on ", 0) == 0 && colon != std::string::npos)
                port_ = std::atoi(first.c_str() + colon + 1);
            break;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

DemoServer::~DemoServer()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    bool timedOut = false;
    waitFor(pid_, 5, timedOut);
}

std::string DemoServer::hostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> DemoServer::requestLog() const
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(dir_.path() + "/stdout.txt"));
    std::string line;
    std::getline(in, line); // "listening on ..."
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> DemoServer::requestsStartingWith(std::initializer_list<std::string_view> prefixes) const
{
    std::vector<std::string> lines;
    for (const auto& line : requestLog())
        for (auto prefix : prefixes)
            if (line.starts_with(prefix)) {
                lines.push_back(line);
                break;
            }
    return lines;
}

const std::string kOneContact = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\nTEL:555\r\nEND:VCARD\r\n";

std::string openRecruitScript(const std::string& baseURL, const std::string& settle)
{
    return "navigate " + baseURL + "/commands.php?showABRecruit=true\nwait " + settle
        + "\npress Continue\ntype Zed\npress Done\nrow 0 0\n";
}

std::string compiledInServer()
{
    return sizeof(STREET_GAME_SERVER) == 1 ? kDemoAddress : STREET_GAME_SERVER;
}

int closedLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

std::optional<std::string> bubblewrapFailure(const std::vector<std::string>& launcher)
{
    std::string command;
    for (const auto& word : launcher)
        command += word + " ";
    command += "/usr/bin/bwrap --ro-bind / / --proc /proc --dev /dev --unshare-all --die-with-parent true 2>&1";
    std::string said;
    if (FILE* out = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, out))
            said += buffer;
        if (::pclose(out) == 0)
            return std::nullopt;
    }
    return said.empty() ? std::string("it failed") : said;
}

} // namespace scenario
