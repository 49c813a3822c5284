#include "kit/CertificateAuthorities.h"

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace kit {

namespace {

struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Certificates = std::vector<std::unique_ptr<X509, CertificateFree>>;

struct Trusted {
    std::string path;
    Certificates certificates;
};

Trusted& trusted()
{
    static auto* state = new Trusted();
    return *state;
}

bool read(const std::string& path, Certificates& out, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = "cannot use the certificate file " + path + ": " + why;
        return false;
    };
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return fail("it cannot be read");
    Certificates read;
    while (X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr))
        read.emplace_back(certificate);
    std::fclose(file);
    if (read.empty())
        return fail("it holds no PEM certificate");
    out = std::move(read);
    return true;
}

CURLcode addToStore(CURL*, void* sslContext, void*)
{
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    for (const auto& certificate : trusted().certificates)
        X509_STORE_add_cert(store, certificate.get()); // one already there is no error
    return CURLE_OK;
}

} // namespace

bool CertificateAuthorities::check(const std::string& path, std::string* error)
{
    Certificates ignored;
    return read(path, ignored, error);
}

bool CertificateAuthorities::setFile(const std::string& path, std::string* error)
{
    Certificates certificates;
    if (!read(path, certificates, error))
        return false;
    trusted().path = path;
    trusted().certificates = std::move(certificates);
    return true;
}

void CertificateAuthorities::reset()
{
    trusted().path.clear();
    trusted().certificates.clear();
}

const std::string& CertificateAuthorities::file() { return trusted().path; }

// Whether libcurl knows the system's hashed directory of authorities, and it is there.
static bool systemDirectory()
{
    static const bool found = [] {
        CURL* probe = curl_easy_init();
        char* path = nullptr;
        bool there = probe && curl_easy_getinfo(probe, CURLINFO_CAPATH, &path) == CURLE_OK && path
            && std::filesystem::is_directory(path);
        curl_easy_cleanup(probe);
        return there;
    }();
    return found;
}

void CertificateAuthorities::apply(CURL* handle)
{
    // The system's authorities are then looked up one at a time in that directory: reading the
    // whole bundle file costs tens of milliseconds on every new connection.
    if (systemDirectory())
        curl_easy_setopt(handle, CURLOPT_CAINFO, nullptr);
    if (trusted().certificates.empty())
        return;
    if (curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &addToStore) != CURLE_OK) {
        static bool told = false;
        if (!told)
            std::fprintf(stderr, "street-client: this libcurl cannot add certificate authorities; only the system's are trusted\n");
        told = true;
    }
}

} // namespace kit
