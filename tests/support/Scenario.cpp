#include "support/Scenario.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
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
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace scenario {

namespace {

// The current environment with some variables replaced.
std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& overrides)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        if (std::none_of(overrides.begin(), overrides.end(), [&](const auto& o) { return entry.starts_with(o.first + "="); }))
            env.push_back(std::move(entry));
    }
    for (const auto& [name, value] : overrides)
        env.push_back(name + "=" + value);
    return env;
}

// Starts `argv` with stdin, stdout and stderr connected to the given files; no shell.
pid_t spawn(std::vector<std::string> argv, std::vector<std::string> env, const std::string& stdinPath, const std::string& stdoutPath,
            const std::string& stderrPath)
{
    auto cStrings = [](std::vector<std::string>& texts) {
        std::vector<char*> out;
        for (auto& text : texts)
            out.push_back(text.data());
        out.push_back(nullptr);
        return out;
    };
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

// Waits for the child; kills it after `timeoutSeconds`. Answers the exit status, 128 + the signal
// when a signal ended it, -1 on time-out.
int waitFor(pid_t pid, double timeoutSeconds, bool& timedOut)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    timedOut = false;
    for (int status = 0;; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
        if (done < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            timedOut = true;
            return -1;
        }
    }
}

} // namespace

TempDir::TempDir(const std::string& prefix)
{
    const char* root = std::getenv("TMPDIR");
    std::string pattern = std::string(root && *root ? root : "/tmp") + "/" + prefix + "-XXXXXX";
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

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary | std::ios::trunc) << text; }

std::vector<nlohmann::json> Transcript::events(const std::string& ev) const
{
    std::vector<nlohmann::json> out;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(out), [&](const nlohmann::json& line) { return line.value("ev", "") == ev; });
    return out;
}

const nlohmann::json* Transcript::first(const std::string& ev) const
{
    auto it = std::find_if(lines.begin(), lines.end(), [&](const nlohmann::json& line) { return line.value("ev", "") == ev; });
    return it == lines.end() ? nullptr : &*it;
}

const nlohmann::json* Transcript::last(const std::string& ev) const
{
    auto it = std::find_if(lines.rbegin(), lines.rend(), [&](const nlohmann::json& line) { return line.value("ev", "") == ev; });
    return it == lines.rend() ? nullptr : &*it;
}

size_t Transcript::count(const std::string& ev) const { return events(ev).size(); }

std::vector<nlohmann::json> Transcript::states() const
{
    std::vector<nlohmann::json> out;
    for (const auto& line : events("state"))
        if (line.contains("state"))
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
    return stderrText.empty() ? out : out + "stderr:\n" + stderrText;
}

Transcript runScenario(const std::string& script, const std::vector<std::string>& args, const ScenarioOptions& options)
{
    TempDir work("street-run");
    std::optional<TempDir> freshData;
    if (!options.dataDir)
        freshData.emplace("street-data");
    const std::string dataDir = options.dataDir ? *options.dataDir : freshData->path();
    const std::string scriptPath = work.path() + "/script.txt", transcriptPath = work.path() + "/transcript.jsonl";
    std::string stdinPath = "/dev/null";
    writeFile(scriptPath, script);
    if (options.stdinText) {
        stdinPath = work.path() + "/stdin.txt";
        writeFile(stdinPath, *options.stdinText);
    }
    std::filesystem::create_directories(work.path() + "/xdg-config");
    std::filesystem::create_directories(work.path() + "/xdg-data");

    std::vector<std::string> argv{STREET_CLIENT_BIN};
    if (!options.rawCommandLine) {
        argv.push_back("--headless");
        for (const auto& [flag, value] : std::vector<std::pair<std::string, std::string>>{
                 {"--script", scriptPath}, {"--transcript", transcriptPath}, {"--resources", STREET_RESOURCES_DIR}, {"--data-dir", dataDir}})
            if (std::find(args.begin(), args.end(), flag) == args.end())
                argv.insert(argv.end(), {flag, value});
    }
    argv.insert(argv.end(), args.begin(), args.end());

    Transcript result;
    pid_t pid = spawn(argv, environmentWith({{"XDG_CONFIG_HOME", work.path() + "/xdg-config"}, {"XDG_DATA_HOME", work.path() + "/xdg-data"}}),
                      stdinPath, work.path() + "/stdout.txt", work.path() + "/stderr.txt");
    result.exitCode = waitFor(pid, options.timeoutSeconds, result.timedOut);
    result.stdoutText = readFile(work.path() + "/stdout.txt");
    result.stderrText = readFile(work.path() + "/stderr.txt");
    result.dataDir = dataDir;

    std::istringstream in(readFile(transcriptPath));
    for (std::string line; std::getline(in, line);) {
        if (line.empty())
            continue;
        auto parsed = nlohmann::json::parse(line, nullptr, false);
        if (parsed.is_object() && parsed.contains("t") && parsed["t"].is_number() && parsed.contains("ev") && parsed["ev"].is_string())
            result.lines.push_back(std::move(parsed));
        else
            result.malformedLines.push_back(line);
    }
    if (freshData && options.keepDataDir)
        freshData->release();
    return result;
}

DemoServer::DemoServer(const std::vector<std::string>& extraArgs)
    : dir_("street-demo")
{
    std::vector<std::string> argv{STREET_DEMO_SERVER_BIN, "--port", "0"};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    const std::string logPath = dir_.path() + "/stdout.txt";
    pid_ = spawn(argv, environmentWith({}), "/dev/null", logPath, dir_.path() + "/stderr.txt");
    // Its first line names the port: "listening on 127.0.0.1:PORT".
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20); std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        std::string text = readFile(logPath);
        if (auto newline = text.find('\n'); newline != std::string::npos) {
            std::string first = text.substr(0, newline);
            if (first.starts_with("listening on ") && first.rfind(':') != std::string::npos)
                port_ = std::atoi(first.c_str() + first.rfind(':') + 1);
            break;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
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

int closedLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 1;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

} // namespace scenario
