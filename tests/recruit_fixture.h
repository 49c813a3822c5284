#pragma once

// Shared by the Recruit unit tests: a clean process state for each test (resources, classes, run
// loop, alerts, defaults and contacts in a temporary directory), recorded events, vCard text
// helpers and a loopback HTTP responder for the invite post.

#include <gtest/gtest.h>

#include "app/GameServer.h"
#include "app/RecruitState.h"

#include "kit/AddressBook.h"
#include "kit/AlertView.h"
#include "kit/Application.h"
#include "kit/Bundle.h"
#include "kit/Device.h"
#include "kit/Events.h"
#include "kit/InterfaceLoader.h"
#include "kit/Platform.h"
#include "kit/RunLoop.h"
#include "kit/UserDefaults.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace recruit_test {

struct Event {
    std::string name;
    nlohmann::json fields;
};

class RecordingSink : public kit::EventSink {
public:
    void event(const std::string& name, nlohmann::json fields) override
    {
        (void)fields.dump(); // what the transcript would do: the fields must be printable JSON
        events.push_back({name, std::move(fields)});
    }
    std::vector<Event> named(const std::string& name) const
    {
        std::vector<Event> found;
        std::copy_if(events.begin(), events.end(), std::back_inserter(found), [&](const Event& e) { return e.name == name; });
        return found;
    }
    std::vector<Event> events;
};

// One vCard 3.0 record. Empty optional names are left out of the N line.
struct Card {
    std::optional<std::string> first;
    std::optional<std::string> last;
    std::vector<std::pair<std::string, std::string>> phones = {}; // (TYPE, number)
    std::vector<std::string> emails = {};
    bool withoutN = false; // FN only
};

inline std::string vcard(const std::vector<Card>& cards)
{
    std::string text;
    for (const auto& c : cards) {
        std::string fn = c.first.value_or("") + " " + c.last.value_or("");
        text += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + (fn == " " ? std::string("Company") : fn) + "\r\n";
        if (!c.withoutN)
            text += "N:" + c.last.value_or("") + ";" + c.first.value_or("") + ";;;\r\n";
        for (const auto& [type, number] : c.phones)
            text += "TEL;TYPE=" + type + ":" + number + "\r\n";
        for (const auto& email : c.emails)
            text += "EMAIL;TYPE=INTERNET:" + email + "\r\n";
        text += "END:VCARD\r\n";
    }
    return text;
}

// Answers each connection with one canned reply, on a thread of its own, and keeps the raw
// requests it read.
class LoopbackResponder {
public:
    LoopbackResponder()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 8) != 0
            || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on loopback");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackResponder()
    {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }

    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

    // The next replies: a status line and body, or a hang-up without any reply.
    void replyWith(std::string body, int status = 200)
    {
        std::lock_guard lock(mutex_);
        body_ = std::move(body);
        status_ = status;
        hangUp_ = false;
    }
    void hangUpWithoutReply()
    {
        std::lock_guard lock(mutex_);
        hangUp_ = true;
    }
    std::vector<std::string> requests() const
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void serve()
    {
        for (int connection; !stopping_ && (connection = ::accept(listener_, nullptr, nullptr)) >= 0; ::close(connection)) {
            std::string request = readRequest(connection), reply;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
                if (!hangUp_)
                    reply = "HTTP/1.1 " + std::to_string(status_) + " Whatever\r\nContent-Type: text/plain\r\nContent-Length: "
                            + std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_;
            }
            for (size_t sent = 0; sent < reply.size();) {
                ssize_t n = ::send(connection, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
        }
    }

    // Headers, then as many body bytes as Content-Length promises.
    static std::string readRequest(int connection)
    {
        std::string data;
        char buffer[65536];
        for (size_t expected = std::string::npos; expected == std::string::npos || data.size() < expected;) {
            ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            data.append(buffer, static_cast<size_t>(n));
            auto end = data.find("\r\n\r\n");
            if (expected == std::string::npos && end != std::string::npos) {
                std::string headers = data.substr(0, end);
                std::transform(headers.begin(), headers.end(), headers.begin(), [](unsigned char c) { return std::tolower(c); });
                auto at = headers.find("\r\ncontent-length:");
                expected = end + 4 + (at == std::string::npos ? 0 : std::stoul(headers.substr(at + 17)));
            }
        }
        return data;
    }

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::string body_ = "OK%OK";
    int status_ = 200;
    bool hangUp_ = false;
    std::vector<std::string> requests_;
};

class RecruitFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/street-recruit-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        // The interface files as shipped; the tick icons stand in by name only.
        std::filesystem::create_directories(dir_ + "/resources/images");
        std::filesystem::copy(std::string(STREET_RESOURCES_DIR) + "/interfaces", dir_ + "/resources/interfaces",
                              std::filesystem::copy_options::recursive);
        for (const char* icon : {"invited_icon.png", "none.png"})
            std::ofstream(dir_ + "/resources/images/" + icon) << "";
        kit::Bundle::setResourceDirectory(dir_ + "/resources");
        kit::InterfaceLoader::registerKitClasses();
        street::registerRecruitClasses();
        kit::Platform platform;
        platform.events = &sink_;
        session_.emplace(std::move(platform));
        kit::UserDefaults::setDataDirectory(dir_ + "/config");
        kit::AddressBook::setPath(dir_ + "/contacts.vcf");
        kit::Device::currentDevice().setUniqueIdentifier("udid-0123");
    }
    void TearDown() override
    {
        session_.reset();
        kit::UserDefaults::setDataDirectory("");
        kit::AddressBook::setPath("");
        kit::Bundle::setResourceDirectory(STREET_RESOURCES_DIR);
        street::GameServer::setHost(street::GameServer::defaultHost);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    void writeContacts(const std::string& text) { std::ofstream(dir_ + "/contacts.vcf", std::ios::binary) << text; }
    void writeContacts(const std::vector<Card>& cards) { writeContacts(vcard(cards)); }

    std::string dir_;
    RecordingSink sink_;
    std::optional<kit::PlatformSession> session_;
};

} // namespace recruit_test
