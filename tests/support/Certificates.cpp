#include "support/Certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace scenario {

namespace {

void check(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string("test certificate: ") + what);
}

EVP_PKEY* newKey()
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    check(key != nullptr, "cannot make a key");
    return key;
}

void addExtension(X509* certificate, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    check(extension && X509_add_ext(certificate, extension, -1) == 1, "cannot add an extension");
    X509_EXTENSION_free(extension);
}

// A version 3 certificate for `key`, named `commonName`, valid for the given seconds from now.
X509* newCertificate(EVP_PKEY* key, const std::string& commonName, long validFrom, long validUntil)
{
    X509* certificate = X509_new();
    check(certificate != nullptr, "cannot make a certificate");
    X509_set_version(certificate, 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(certificate), validFrom);
    X509_gmtime_adj(X509_getm_notAfter(certificate), validUntil);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("street-client tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    return certificate;
}

void writePem(const std::string& path, X509* certificate, EVP_PKEY* key)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    check(file != nullptr, "cannot write a file");
    bool ok = certificate ? PEM_write_X509(file, certificate) == 1
                          : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    std::fclose(file);
    check(ok, "cannot write PEM");
}

bool isAddress(const std::string& name)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, name.c_str(), buffer) == 1 || inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

} // namespace

struct TestAuthority::Keys {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    ~Keys()
    {
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
};

TestAuthority::TestAuthority(const std::string& name)
    : dir_("street-tls")
    , keys_(std::make_unique<Keys>())
{
    keys_->key = newKey();
    keys_->certificate = newCertificate(keys_->key, name, -86400, 365L * 86400);
    X509_set_issuer_name(keys_->certificate, X509_get_subject_name(keys_->certificate));
    addExtension(keys_->certificate, keys_->certificate, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(keys_->certificate, keys_->certificate, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(keys_->certificate, keys_->certificate, NID_subject_key_identifier, "hash");
    check(X509_sign(keys_->certificate, keys_->key, EVP_sha256()) > 0, "cannot sign the authority");
    certificateFile_ = dir_.path() + "/authority.pem";
    writePem(certificateFile_, keys_->certificate, nullptr);
}

TestAuthority::~TestAuthority() = default;

std::string TestAuthority::hashedDirectory()
{
    std::string directory = dir_.path() + "/hashed";
    char name[32];
    std::snprintf(name, sizeof name, "/%08lx.0", X509_subject_name_hash(keys_->certificate));
    std::filesystem::create_directories(directory);
    writePem(directory + name, keys_->certificate, nullptr);
    return directory;
}

TestAuthority::Issued TestAuthority::issue(const std::vector<std::string>& names, long validFrom, long validUntil)
{
    EVP_PKEY* key = newKey();
    X509* certificate = newCertificate(key, names.empty() ? "server" : names.front(), validFrom, validUntil);
    X509_set_issuer_name(certificate, X509_get_subject_name(keys_->certificate));
    std::string alternatives;
    for (const auto& name : names)
        alternatives += (alternatives.empty() ? "" : ",") + std::string(isAddress(name) ? "IP:" : "DNS:") + name;
    addExtension(certificate, keys_->certificate, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(certificate, keys_->certificate, NID_key_usage, "critical,digitalSignature");
    addExtension(certificate, keys_->certificate, NID_ext_key_usage, "serverAuth");
    addExtension(certificate, keys_->certificate, NID_authority_key_identifier, "keyid:always");
    if (!alternatives.empty())
        addExtension(certificate, keys_->certificate, NID_subject_alt_name, alternatives);
    check(X509_sign(certificate, keys_->key, EVP_sha256()) > 0, "cannot sign a server certificate");
    std::string stem = dir_.path() + "/server" + std::to_string(++issued_);
    Issued issued{stem + ".pem", stem + ".key"};
    writePem(issued.certificateFile, certificate, nullptr);
    writePem(issued.keyFile, nullptr, key);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return issued;
}

TlsDemoServer::TlsDemoServer(TestAuthority& authority, const std::vector<std::string>& extraArgs,
                             const std::vector<std::string>& names, long validFrom, long validUntil)
    : issued(authority.issue(names, validFrom, validUntil))
    , server([&] {
        std::vector<std::string> args{"--tls", issued.certificateFile, issued.keyFile};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        return args;
    }())
{
}

} // namespace scenario
