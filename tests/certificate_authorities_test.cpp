// The authorities of --ca-file join the store libcurl verifies with (the system's) instead of
// replacing it, and a file that holds no certificate is refused before anything runs.

#include "kit/CertificateAuthorities.h"
#include "shell/Options.h"
#include "support/Certificates.h"

#include <gtest/gtest.h>

namespace {

using kit::CertificateAuthorities;

// One GET of `url` with a handle whose own store is the hashed directory `systemStore`
// (standing in for the system's authorities) and the kit's authorities applied; libcurl's result.
CURLcode fetch(const std::string& url, const std::string& systemStore)
{
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, systemStore.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
    CertificateAuthorities::apply(curl);
    CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return result;
}

class Authorities : public ::testing::Test {
protected:
    void TearDown() override { CertificateAuthorities::reset(); }
    scenario::TempDir empty_{"street-no-certificates"};
};

bool haveSystemDirectory()
{
    CURL* probe = curl_easy_init();
    char* path = nullptr;
    bool there = curl_easy_getinfo(probe, CURLINFO_CAPATH, &path) == CURLE_OK && path;
    curl_easy_cleanup(probe);
    return there;
}

TEST_F(Authorities, TheFilesAuthoritiesAreTrustedBesideTheSystemsOwn)
{
    scenario::TestAuthority system("The System's Authority"), file("The File's Authority");
    scenario::TlsDemoServer bySystem(system), byFile(file);
    ASSERT_TRUE(bySystem.server.started() && byFile.server.started());
    std::string a = bySystem.baseURL() + "/commands.php", b = byFile.baseURL() + "/commands.php";
    ASSERT_TRUE(haveSystemDirectory()) << "this libcurl knows no directory of system authorities";
    std::string store = system.hashedDirectory();

    EXPECT_EQ(fetch(a, store), CURLE_OK);
    EXPECT_EQ(fetch(b, store), CURLE_PEER_FAILED_VERIFICATION);
    std::string error;
    ASSERT_TRUE(CertificateAuthorities::setFile(file.certificateFile(), &error)) << error;
    // Twice each: a second handle finds the authorities again (libcurl may keep its store).
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(fetch(a, store), CURLE_OK) << round;
        EXPECT_EQ(fetch(b, store), CURLE_OK) << round;
    }
    CertificateAuthorities::reset();
    EXPECT_EQ(fetch(b, store), CURLE_PEER_FAILED_VERIFICATION);
}

TEST_F(Authorities, AFileWithoutACertificateIsABadCommandLine)
{
    scenario::TestAuthority authority;
    auto issued = authority.issue({"127.0.0.1"});
    scenario::writeFile(empty_.path() + "/empty.pem", "");
    scenario::writeFile(empty_.path() + "/text.pem", "not a certificate\n");
    const std::pair<std::string, std::string> bad[] = {
        {empty_.path() + "/missing.pem", "it cannot be read"}, {empty_.path(), "it holds no PEM certificate"},
        {empty_.path() + "/empty.pem", "it holds no PEM certificate"}, {empty_.path() + "/text.pem", "it holds no PEM certificate"},
        {issued.keyFile, "it holds no PEM certificate"},
    };
    for (const auto& [path, why] : bad) {
        std::vector<std::string> args{"street-client", "--headless", "--ca-file", path};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        auto parsed = shell::parseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_FALSE(parsed.options) << path;
        EXPECT_EQ(parsed.exitCode, 2) << path;
        EXPECT_TRUE(parsed.message.starts_with("street-client: --ca-file: cannot use the certificate file " + path + ": " + why + "\n"))
            << parsed.message;
    }
    std::string error;
    EXPECT_FALSE(CertificateAuthorities::setFile(issued.keyFile, &error));
    EXPECT_TRUE(CertificateAuthorities::file().empty());
    // A chain file (server certificate, then its authority) is a file of authorities too.
    scenario::writeFile(empty_.path() + "/chain.pem",
                        scenario::readFile(issued.certificateFile) + scenario::readFile(authority.certificateFile()));
    EXPECT_TRUE(CertificateAuthorities::setFile(empty_.path() + "/chain.pem", &error)) << error;
}

} // namespace
