// demo-server: a small game server for trying the client out and for its end-to-end tests.
//
//   demo-server [--port N] [--host-name NAME] [--tls CERT KEY] [--invite-delay S]
//               [--invite-redirect STATUS URL]
//
// Listens on 127.0.0.1 only. The first line on stdout is "listening on 127.0.0.1:<port>",
// then one line per request. SIGINT and SIGTERM stop it.

#include "Routes.h"

#include <httplib.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <thread>

namespace {

constexpr const char* kUsage =
    "usage: demo-server [--port N] [--host-name NAME] [--tls CERT KEY] [--invite-delay S]\n"
    "                   [--invite-redirect STATUS URL]\n"
    "  --port N          port on 127.0.0.1 (0, the default, picks a free one)\n"
    "  --host-name NAME  host[:port] written into absolute links (default: the\n"
    "                    request's Host header)\n"
    "  --tls CERT KEY    serve https with this certificate (chain) and key, PEM files\n"
    "  --invite-delay S  hold each invite reply back for S seconds (at most 60)\n"
    "  --invite-redirect STATUS URL\n"
    "                    answer an invite post with this redirect (301, 302, 303, 307 or 308);\n"
    "                    a post whose address carries a query is answered as usual\n";

struct Options {
    int port = 0;
    std::string hostName;
    std::string certificate;
    std::string key;
    demo::InviteBehaviour invite;
};

std::optional<int> parsePort(std::string_view text)
{
    int port = -1;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port < 0 || port > 65535)
        return std::nullopt;
    return port;
}

// Exits with status 2 (after the usage) on a bad command line.
Options parseCommandLine(int argc, char** argv)
{
    auto fail = [](const std::string& message) {
        std::cerr << "demo-server: " << message << "\n" << kUsage;
        std::exit(2);
    };
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        int values = arg == "--tls" || arg == "--invite-redirect" ? 2 : 1;
        if (arg != "--port" && arg != "--host-name" && arg != "--tls" && arg != "--invite-delay"
            && arg != "--invite-redirect")
            fail("unknown argument '" + std::string(arg) + "'");
        if (i + values >= argc)
            fail(std::string(arg) + (values == 1 ? " needs a value" : " needs two values"));
        std::string_view value = argv[++i];
        if (arg == "--port") {
            auto port = parsePort(value);
            if (!port)
                fail("bad port '" + std::string(value) + "'");
            options.port = *port;
        } else if (arg == "--host-name") {
            if (value.empty() || value.find_first_of("/ \t\r\n") != std::string_view::npos)
                fail("bad host name '" + std::string(value) + "'");
            options.hostName = value;
        } else if (arg == "--tls") {
            options.certificate = value;
            options.key = argv[++i];
            if (options.certificate.empty() || options.key.empty())
                fail("--tls needs a certificate file and a key file");
        } else if (arg == "--invite-delay") {
            double seconds = -1;
            auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (error != std::errc() || end != value.data() + value.size() || !(seconds >= 0 && seconds <= 60))
                fail("bad invite delay '" + std::string(value) + "' (0 to 60 seconds)");
            options.invite.delay = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
        } else {
            auto status = parsePort(value);
            std::string_view url = argv[++i];
            if (!status || (*status != 301 && *status != 302 && *status != 303 && *status != 307 && *status != 308))
                fail("bad redirect status '" + std::string(value) + "' (301, 302, 303, 307 or 308)");
            if (url.empty() || url.find_first_of(" \t\r\n") != std::string_view::npos)
                fail("bad redirect address '" + std::string(url) + "'");
            options.invite.redirectStatus = *status;
            options.invite.redirectTo = url;
        }
    }
    return options;
}

class Log {
public:
    void line(const std::string& text)
    {
        std::lock_guard lock(mutex_);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

private:
    std::mutex mutex_;
};

} // namespace

int main(int argc, char** argv)
{
    Options options = parseCommandLine(argc, argv);

    // Block the stop signals in every thread (httplib's workers inherit this mask) and
    // take them with sigwait on one thread of our own, where calling stop() is safe.
    // A shell starts background jobs with SIGINT ignored; an ignored signal never reaches sigwait.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Log log;
    bool secure = !options.certificate.empty();
    demo::ServerContext context(options.hostName, secure, options.invite, [&log](const std::string& text) { log.line(text); });
    std::unique_ptr<httplib::Server> served;
    if (secure) {
        auto tls = std::make_unique<httplib::SSLServer>(options.certificate.c_str(), options.key.c_str());
        if (!tls->is_valid()) {
            std::cerr << "demo-server: cannot serve https with " << options.certificate << " and " << options.key << "\n";
            return 1;
        }
        served = std::move(tls);
    } else {
        served = std::make_unique<httplib::Server>();
    }
    httplib::Server& server = *served;
    // Short keep-alive so that stopping does not wait on idle client connections.
    server.set_keep_alive_timeout(1);
    // A reply written in pieces (headers, body; TLS records) goes out at once, not after the
    // client's delayed acknowledgement.
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(1 << 20);
    server.set_logger([&log](const httplib::Request& req, const httplib::Response& res) {
        log.line(req.method + " " + req.target + " " + std::to_string(res.status));
    });
    demo::installRoutes(server, context);

    int port = options.port;
    if (port == 0) {
        port = server.bind_to_any_port("127.0.0.1");
        if (port < 0)
            port = 0;
    } else if (!server.bind_to_port("127.0.0.1", port)) {
        port = 0;
    }
    if (port == 0) {
        std::cerr << "demo-server: cannot listen on 127.0.0.1:" << options.port << "\n";
        return 1;
    }
    context.setPort(port);
    log.line("listening on 127.0.0.1:" + std::to_string(port));

    std::atomic<bool> ended{false};
    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        context.stop();
        // stop() does nothing until the server runs: a signal that came before listening began
        // waits for it, or it would be lost and the server would never end.
        while (!server.is_running() && !ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        server.stop();
    });

    bool listened = server.listen_after_bind();
    ended = true;
    if (!listened)
        context.stop();
    // Wakes the waiter if the server ended on its own; harmless after a real signal.
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    return listened ? 0 : 1;
}
