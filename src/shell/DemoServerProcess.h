#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>

namespace shell {

// The demo game server as a child of the client, so that a player who named no server plays
// the demo. It listens on a free loopback port of its own choosing, and ends with the client:
// when this object goes, and when the client dies without a word (the kernel's parent-death
// signal).
class DemoServerProcess {
public:
    // Starts `program --port 0` and waits at most `patience` for its first line, "listening on
    // 127.0.0.1:PORT". None, with `why` set, when it cannot start or does not say so in time.
    static std::unique_ptr<DemoServerProcess> start(const std::string& program, std::chrono::milliseconds patience,
                                                    std::string& why);
    ~DemoServerProcess();
    DemoServerProcess(const DemoServerProcess&) = delete;
    DemoServerProcess& operator=(const DemoServerProcess&) = delete;

    int port() const { return port_; }
    // "127.0.0.1:PORT", the form --server takes.
    std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }

    // True when something takes a connection on 127.0.0.1:`port` within `patience`.
    static bool loopbackAnswers(int port, std::chrono::milliseconds patience);

private:
    DemoServerProcess(pid_t pid, int port) : pid_(pid), port_(port) {}
    pid_t pid_;
    int port_;
};

} // namespace shell
