#pragma once

#include <curl/curl.h>

#include <string>

namespace kit {

// Certificate authorities that every HTTPS exchange trusts besides the system's store
// (--ca-file), for self-hosted game servers and tests. Nothing else is ever trusted, and
// certificates are always checked.
class CertificateAuthorities {
public:
    // Whether the PEM file can be read and holds at least one certificate; `error` says why not.
    static bool check(const std::string& path, std::string* error);
    // Trusts the file's authorities from now on (replacing an earlier file); false, with nothing
    // changed, when check() would fail.
    static bool setFile(const std::string& path, std::string* error);
    // Back to the system's store alone.
    static void reset();
    // The file in use; empty with none.
    static const std::string& file();

    // Sets a libcurl handle's trust: the system's authorities (from their hashed directory when
    // libcurl knows it, else as libcurl loads them) and the file's, which are added to the store
    // the handle verifies with, so that it keeps everything it already trusts.
    static void apply(CURL* handle);
};

} // namespace kit
