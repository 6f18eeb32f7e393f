// Certificate validation for the download client's TLS connections, with the platform's
// own chain engine: CertGetCertificateChain builds the chain to a trusted root and checks
// revocation of every certificate but the root; CertVerifyCertificateChainPolicy with the
// SSL policy then checks the root's trust, the host name, the validity period and the use.
// Nothing here is ever switched off; the one allowance is an unknown revocation status.
// For CERT_CHAIN_PARA's time limit on fetching revocation lists.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "store/transfers/tls_certificate_check_win.h"

#include <mutex>
#include <set>
#include <vector>

namespace {

std::wstring Widen(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (needed <= 0)
        return std::wstring();
    std::vector<wchar_t> wide(static_cast<size_t>(needed));
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), needed);
    return std::wstring(wide.data());
}

constexpr DWORD kRevocationFetchMs = 10000;

// The revocation bits that only say "could not find out".
constexpr DWORD kRevocationUnknownBits =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// The policy error that matches the chain's first fault.
HRESULT ChainError(DWORD trustErrors) {
    if (trustErrors & CERT_TRUST_IS_NOT_TIME_VALID)
        return CERT_E_EXPIRED;
    if (trustErrors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
        return CERT_E_UNTRUSTEDROOT;
    if (trustErrors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return CERT_E_WRONG_USAGE;
    if (trustErrors & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return TRUST_E_CERT_SIGNATURE;
    return CERT_E_CHAINING;
}

DWORD VerifySslPolicy(PCCERT_CHAIN_CONTEXT chain, std::wstring& serverName, DWORD flags) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = 0;  // every check on
    ssl.pwszServerName = &serverName[0];
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = flags;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
        return GetLastError() != 0 ? GetLastError() : static_cast<DWORD>(TRUST_E_FAIL);
    return status.dwError;
}

bool BuildChain(PCCERT_CONTEXT certificate, CERT_CHAIN_PARA& para, DWORD flags,
                PCCERT_CHAIN_CONTEXT& chain) {
    return CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &para,
                                   flags, nullptr, &chain) != 0;
}

bool IsRevocationUnknownError(DWORD error) {
    return error == static_cast<DWORD>(CERT_E_REVOCATION_FAILURE) ||
           error == static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK) ||
           error == static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE);
}

// For a chain whose one fault is an unknown revocation status, where the SSL policy does
// not take the flags that forgive it (Wine's does not): the same checks on a chain built
// without the revocation check. Everything else (trusted root, name, time, use) must pass
// there as well.
DWORD VerifyWithoutRevocation(PCCERT_CONTEXT certificate, CERT_CHAIN_PARA& para,
                              std::wstring& serverName) {
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!BuildChain(certificate, para, 0, chain))
        return GetLastError();
    const DWORD trustErrors = chain->TrustStatus.dwErrorStatus;
    const DWORD error = trustErrors != 0 ? static_cast<DWORD>(ChainError(trustErrors))
                                         : VerifySslPolicy(chain, serverName, 0);
    CertFreeCertificateChain(chain);
    return error;
}

// Certificates found revoked so far in this process, by their SHA-1 hash. Wine 8's chain
// engine answers for a revoked certificate only the first time in a process and reports
// it sound when asked again, so a revocation once seen is remembered here.
std::mutex gRevokedLock;
std::set<std::string> gRevoked;

std::string CertificateHash(PCCERT_CONTEXT certificate) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size))
        return std::string();
    return std::string(reinterpret_cast<const char*>(hash), size);
}

bool SeenRevoked(const std::string& hash) {
    std::lock_guard<std::mutex> hold(gRevokedLock);
    return !hash.empty() && gRevoked.count(hash) != 0;
}

void RememberRevoked(const std::string& hash) {
    std::lock_guard<std::mutex> hold(gRevokedLock);
    if (!hash.empty())
        gRevoked.insert(hash);
}

}  // namespace

CertificateCheck CheckServerCertificate(PCCERT_CONTEXT serverCertificate, const std::string& host) {
    CertificateCheck result;
    if (serverCertificate == nullptr) {
        result.error = static_cast<unsigned long>(SEC_E_NO_CREDENTIALS);
        return result;
    }
    const std::string hash = CertificateHash(serverCertificate);
    if (SeenRevoked(hash)) {
        result.error = static_cast<unsigned long>(CRYPT_E_REVOKED);
        result.trustErrors = CERT_TRUST_IS_REVOKED;
        return result;
    }
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverAuth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    // A revocation list that does not come within this time counts as unknown, not as a
    // hang of the download.
    para.dwUrlRetrievalTimeout = kRevocationFetchMs;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!BuildChain(serverCertificate, para, CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT,
                    chain)) {
        result.error = GetLastError();
        return result;
    }
    result.trustErrors = chain->TrustStatus.dwErrorStatus;
    std::wstring serverName = Widen(host);
    if ((result.trustErrors & CERT_TRUST_IS_REVOKED) != 0) {
        result.error = static_cast<unsigned long>(CRYPT_E_REVOKED);
        RememberRevoked(hash);
    } else if ((result.trustErrors & ~kRevocationUnknownBits) != 0) {
        // Any fault of the chain itself fails, whatever the policy makes of it: Wine's SSL
        // policy passes a chain that ends short of a trusted root (a partial chain).
        result.error = static_cast<unsigned long>(ChainError(result.trustErrors));
    } else {
        const bool revocationUnknown = (result.trustErrors & kRevocationUnknownBits) != 0;
        // Only the "unknown" outcome of the revocation check is forgiven; a chain with any
        // other fault still fails the policy below.
        const DWORD flags = revocationUnknown ? CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS : 0;
        result.error = VerifySslPolicy(chain, serverName, flags);
        if (revocationUnknown && IsRevocationUnknownError(result.error))
            result.error = VerifyWithoutRevocation(serverCertificate, para, serverName);
        if (result.error == 0)
            result.verdict = revocationUnknown ? CertificateVerdict::kTrustedRevocationUnknown
                                               : CertificateVerdict::kTrusted;
    }
    CertFreeCertificateChain(chain);
    return result;
}

const char* CertificateErrorName(unsigned long error) {
    switch (static_cast<HRESULT>(error)) {
        case CERT_E_EXPIRED:
            return "CERT_E_EXPIRED";
        case CERT_E_UNTRUSTEDROOT:
            return "CERT_E_UNTRUSTEDROOT";
        case CERT_E_CHAINING:
            return "CERT_E_CHAINING";
        case CERT_E_CN_NO_MATCH:
            return "CERT_E_CN_NO_MATCH";
        case CERT_E_WRONG_USAGE:
            return "CERT_E_WRONG_USAGE";
        case CERT_E_REVOKED:
            return "CERT_E_REVOKED";
        case CRYPT_E_REVOKED:
            return "CRYPT_E_REVOKED";
        case CRYPT_E_NO_REVOCATION_CHECK:
            return "CRYPT_E_NO_REVOCATION_CHECK";
        case CRYPT_E_REVOCATION_OFFLINE:
            return "CRYPT_E_REVOCATION_OFFLINE";
        case CERT_E_REVOCATION_FAILURE:
            return "CERT_E_REVOCATION_FAILURE";
        case TRUST_E_CERT_SIGNATURE:
            return "TRUST_E_CERT_SIGNATURE";
        case TRUST_E_BASIC_CONSTRAINTS:
            return "TRUST_E_BASIC_CONSTRAINTS";
        default:
            return "certificate error";
    }
}
