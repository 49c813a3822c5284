#pragma once

// Throwaway certificate authorities for TLS tests: each makes its own key and self-signed
// certificate at run time and signs server certificates with it, all as PEM files in a temporary
// directory of its own.

#include "support/Scenario.h"

#include <memory>
#include <string>
#include <vector>

namespace scenario {

class TestAuthority {
public:
    explicit TestAuthority(const std::string& name = "Street Test Authority");
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    // The authority's certificate, as --ca-file takes it.
    const std::string& certificateFile() const { return certificateFile_; }
    // A directory that holds the certificate under its subject's hash, as the system keeps its
    // authorities (/etc/ssl/certs) for lookups one at a time.
    std::string hashedDirectory();

    struct Issued {
        std::string certificateFile;
        std::string keyFile;
    };
    // A server certificate for `names` (host names, or IP addresses such as "127.0.0.1"), valid
    // from `validFrom` to `validUntil` seconds from now.
    Issued issue(const std::vector<std::string>& names, long validFrom = -3600, long validUntil = 30L * 86400);

private:
    struct Keys;
    TempDir dir_;
    std::unique_ptr<Keys> keys_;
    std::string certificateFile_;
    int issued_ = 0;
};

// The demo server over https on a free loopback port, with a certificate that `authority` issued
// for 127.0.0.1 and localhost (or for `names`, valid as given).
struct TlsDemoServer {
    explicit TlsDemoServer(TestAuthority& authority, const std::vector<std::string>& extraArgs = {},
                           const std::vector<std::string>& names = {"127.0.0.1", "localhost"}, long validFrom = -3600,
                           long validUntil = 30L * 86400);
    TestAuthority::Issued issued;
    DemoServer server;
    // "https://127.0.0.1:<port>", the form --server takes for it.
    std::string serverArgument() const { return "https://" + server.hostPort(); }
    std::string baseURL() const { return serverArgument(); }
};

} // namespace scenario
