#include "shell/DemoServerProcess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace shell {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the child to end, at most until `deadline`; true when it has (and is reaped).
bool reaped(pid_t pid, Clock::time_point deadline)
{
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void stop(pid_t pid, std::chrono::milliseconds patience)
{
    ::kill(pid, SIGTERM);
    if (!reaped(pid, Clock::now() + patience)) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

// The port of "listening on 127.0.0.1:PORT", or 0.
int announcedPort(const std::string& line)
{
    const std::string prefix = "listening on 127.0.0.1:";
    if (!line.starts_with(prefix) || line.size() == prefix.size() || line.size() > prefix.size() + 5)
        return 0;
    int port = 0;
    for (char c : line.substr(prefix.size())) {
        if (c < '0' || c > '9')
            return 0;
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : 0;
}

} // namespace

std::unique_ptr<DemoServerProcess> DemoServerProcess::start(const std::string& program, std::chrono::milliseconds patience,
                                                            std::string& why)
{
    if (::access(program.c_str(), X_OK) != 0) {
        why = program + ": " + std::strerror(errno);
        return nullptr;
    }
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        why = std::string("no pipe: ") + std::strerror(errno);
        return nullptr;
    }
    // Everything the child needs is made before the fork: between fork and exec it may only
    // make system calls (the window's libraries run threads of their own).
    std::vector<std::string> args{program, "--port", "0"};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t parent = ::getpid();
    sigset_t none;
    sigemptyset(&none);

    pid_t pid = ::fork();
    if (pid < 0) {
        why = std::string("cannot start it: ") + std::strerror(errno);
        ::close(pipe[0]);
        ::close(pipe[1]);
        return nullptr;
    }
    if (pid == 0) {
        // Ends when the client does, however the client ends; it may have ended already.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        int null = ::open("/dev/null", O_RDONLY);
        if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(pipe[1], 1) < 0)
            ::_exit(127);
        // The client's own files (its transcript, its display's connection) are none of its business.
        ::close_range(3, ~0U, 0);
        ::signal(SIGPIPE, SIG_DFL);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipe[1]);

    // Its first line names its port; then the pipe is closed, and the request log it goes on
    // writing is lost (the server ignores the broken pipe).
    std::string line;
    auto deadline = Clock::now() + patience;
    bool ended = false;
    while (line.find('\n') == std::string::npos && !ended) {
        pollfd ready{pipe[0], POLLIN, 0};
        int n = ::poll(&ready, 1, millisecondsLeft(deadline));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        char buffer[256];
        ssize_t got = ::read(pipe[0], buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            ended = true;
        else
            line.append(buffer, static_cast<std::size_t>(got));
        if (line.size() > 1024)
            break;
    }
    ::close(pipe[0]);
    auto newline = line.find('\n');
    int port = newline == std::string::npos ? 0 : announcedPort(line.substr(0, newline));
    if (port == 0) {
        why = newline != std::string::npos ? "it said '" + line.substr(0, newline) + "'"
            : ended                        ? "it ended without saying where it listens"
                                           : "it did not say where it listens within "
                                  + std::to_string(patience.count()) + " ms";
        stop(pid, std::chrono::milliseconds(500));
        return nullptr;
    }
    return std::unique_ptr<DemoServerProcess>(new DemoServerProcess(pid, port));
}

DemoServerProcess::~DemoServerProcess()
{
    stop(pid_, std::chrono::seconds(3));
}

bool DemoServerProcess::loopbackAnswers(int port, std::chrono::milliseconds patience)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool answers = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (!answers && errno == EINPROGRESS) {
        pollfd ready{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        answers = ::poll(&ready, 1, static_cast<int>(patience.count())) == 1
                  && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    ::close(fd);
    return answers;
}

} // namespace shell
