// The invite post's reply: any bytes the server sends back become the alert the player sees.
// The whole client runs (Recruit screen open, a contact ticked, a sender name saved) and posts
// for real, over loopback, to a tiny server here that answers each post with the input.
#include "FuzzSupport.h"
#include "app/GameServer.h"
#include "AppHarness.h"

#include "app/RecruitABContainerController.h"
#include "kit/AlertView.h"
#include "kit/ViewController.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

using fuzz::check;

// Answers every request on a loopback port with the reply of the moment, then closes.
class ReplyServer {
public:
    ReplyServer()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::listen(fd_, 8) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("street-fuzz: reply server");
            std::abort();
        }
        port_ = ntohs(address.sin_port);
        std::thread([this] { serve(); }).detach();
    }

    int port() const { return port_; }

    void setReply(std::string reply)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reply_ = std::move(reply);
    }

private:
    void serve()
    {
        for (;;) {
            int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            timeval timeout {5, 0};
            ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            readRequest(client);
            std::string reply;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                reply = reply_;
            }
            std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                + std::to_string(reply.size()) + "\r\nConnection: close\r\n\r\n" + reply;
            for (size_t sent = 0; sent < response.size();) {
                ssize_t n = ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
            ::close(client);
        }
    }

    // Headers, then as many body bytes as they announce.
    static void readRequest(int client)
    {
        std::string request;
        char buffer[8192];
        size_t bodyStart = std::string::npos;
        size_t wanted = 0;
        for (;;) {
            if (bodyStart != std::string::npos && request.size() >= bodyStart + wanted)
                return;
            ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            request.append(buffer, static_cast<size_t>(n));
            if (bodyStart == std::string::npos) {
                size_t end = request.find("\r\n\r\n");
                if (end == std::string::npos)
                    continue;
                bodyStart = end + 4;
                size_t field = request.find("Content-Length:");
                if (field != std::string::npos && field < end)
                    wanted = std::strtoul(request.c_str() + field + 15, nullptr, 10);
            }
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::string reply_;
};

// The Recruit screen, open with the first contact ticked.
std::shared_ptr<street::RecruitABContainerController> openRecruit(fuzz::AppHarness& app)
{
    app.wait(4.0);  // past the intro movie
    // The server moved after launch: a page of it is shown first, so that its commands run.
    app.navigate(street::GameServer::baseURL() + "/home.php");
    app.finish();
    app.navigate(street::GameServer::baseURL() + "/recruit?showABRecruit=true");
    app.press(1);   // "Continue": the contacts are read
    if (app.alertCount() > 0) {
        app.type("Fuzz Sender");
        app.press(0);   // "Done": the name is saved
    }
    app.row(0, 0);
    auto screen = std::dynamic_pointer_cast<street::RecruitABContainerController>(kit::ViewController::frontmostModal());
    check(screen && app.alertCount() == 0, "the Recruit screen is open and waits");
    return screen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ReplyServer server;
    auto& app = fuzz::AppHarness::instance();
    static auto screen = [&] {
        app.setServer("127.0.0.1:" + std::to_string(server.port()));
        return openRecruit(app);
    }();

    server.setReply(std::string(reinterpret_cast<const char*>(data), size));
    screen->doInvite();
    // Every reply, readable or not, ends in exactly one alert with one button.
    check(app.alertCount() == 1, "one alert per reply");
    auto alert = kit::AlertView::frontmost();
    check(alert->buttonTitles().size() == 1, "the reply alert has one button");
    app.press(0);
    check(app.alertCount() == 0, "the alert goes with its button");
    return 0;
}
