#include "kit/NetworkError.h"

#include <openssl/x509_vfy.h>

namespace kit {

std::string NetworkError::defaultDescription(int code)
{
    switch (code) {
    case NotConnectedToInternet:
        return "The Internet connection appears to be offline.";
    case TimedOut:
        return "The request timed out.";
    case CannotFindHost:
        return "A server with the specified hostname could not be found.";
    case CannotConnectToHost:
        return "Could not connect to the server.";
    case NetworkConnectionLost:
        return "The network connection was lost.";
    case HTTPTooManyRedirects:
        return "too many HTTP redirects";
    case DataLengthExceedsMaximum:
        return "resource exceeds maximum size";
    case Cancelled:
        return "cancelled";
    case SecureConnectionFailed:
        return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case ServerCertificateHasBadDate:
        return "The certificate for this server has expired.";
    case ServerCertificateUntrusted:
        return "The certificate for this server is invalid.";
    case ServerCertificateNotYetValid:
        return "The certificate for this server is not yet valid.";
    default:
        return "The operation couldn\u2019t be completed. (error " + std::to_string(code) + ")";
    }
}

Error NetworkError::make(int code, std::optional<std::string> description)
{
    return Error{code, "NSURLErrorDomain", description ? std::move(*description) : defaultDescription(code)};
}

int NetworkError::code(CertificateProblem problem)
{
    switch (problem) {
    case CertificateProblem::Untrusted:
        return ServerCertificateUntrusted;
    case CertificateProblem::Expired:
        return ServerCertificateHasBadDate;
    case CertificateProblem::NotYetValid:
        return ServerCertificateNotYetValid;
    default:
        return SecureConnectionFailed;
    }
}

Error NetworkError::certificateError(CertificateProblem problem, const std::string& host)
{
    int errorCode = code(problem);
    if (errorCode == SecureConnectionFailed)
        return make(errorCode);
    return make(errorCode, defaultDescription(errorCode) + " You might be connecting to a server that is pretending to be \u201c"
                               + host + "\u201d which could put your confidential information at risk.");
}

NetworkError::CertificateProblem NetworkError::problemForVerifyResult(long result)
{
    switch (result) {
    case X509_V_OK:
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
        return CertificateProblem::Untrusted;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return CertificateProblem::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return CertificateProblem::NotYetValid;
    default:
        return CertificateProblem::Other;
    }
}

} // namespace kit
