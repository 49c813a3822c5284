#pragma once

#include "kit/Application.h"

#include <optional>
#include <string>

namespace kit {

// The errors a web engine reports for failed loads, with the platform's codes and texts. Both
// the headless engine and the window's report certificate problems with the same codes.
class NetworkError {
public:
    static constexpr int SecureConnectionFailed = -1200;
    static constexpr int ServerCertificateHasBadDate = -1201;
    static constexpr int ServerCertificateUntrusted = -1202;
    static constexpr int ServerCertificateNotYetValid = -1204;
    static constexpr int Cancelled = -999;
    static constexpr int TimedOut = -1001;
    static constexpr int CannotFindHost = -1003;
    static constexpr int CannotConnectToHost = -1004;
    static constexpr int NetworkConnectionLost = -1005;
    static constexpr int HTTPTooManyRedirects = -1007;
    static constexpr int NotConnectedToInternet = -1009;
    static constexpr int DataLengthExceedsMaximum = -1103;

    // The platform's description of a code ("The request timed out."); a generic text for
    // codes it has no words for.
    static std::string defaultDescription(int code);
    static Error make(int code, std::optional<std::string> description = std::nullopt);

    // Why a server's certificate was refused: signed by no authority trusted here, or made out
    // to another host (untrusted); expired; not yet valid; any other failure of TLS.
    enum class CertificateProblem { Untrusted, Expired, NotYetValid, Other };
    static int code(CertificateProblem problem);
    // A load from `host` whose TLS failed so, with the platform's words.
    static Error certificateError(CertificateProblem problem, const std::string& host);
    // What a failed check's verification result (X509_V_ERR_...) means here. libcurl checks the
    // host name itself, before it reads the result, which then still holds the
    // X509_V_ERR_UNSPECIFIED it starts with: a certificate for another host.
    static CertificateProblem problemForVerifyResult(long result);
};

} // namespace kit
