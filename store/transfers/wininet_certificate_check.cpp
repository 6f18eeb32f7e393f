// The certificate rules for WinInet requests (see the header).
#include "store/transfers/wininet_certificate_check.h"

#include "store/transfers/download_io.h"
#include "store/transfers/tls_notices.h"

#include <wincrypt.h>

#include <atomic>

namespace {

constexpr int kCheckTimeLimitMs = 10000;

// The WinInet code a user of WinInet expects for a certificate fault.
DWORD WinInetCodeFor(int certificateError) {
    switch (static_cast<HRESULT>(certificateError)) {
        case CERT_E_EXPIRED:
            return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
        case CERT_E_CN_NO_MATCH:
            return ERROR_INTERNET_SEC_CERT_CN_INVALID;
        case CERT_E_UNTRUSTEDROOT:
        case CERT_E_CHAINING:
            return ERROR_INTERNET_INVALID_CA;
        case CRYPT_E_REVOKED:
        case CERT_E_REVOKED:
            return ERROR_INTERNET_SEC_CERT_REVOKED;
        default:
            return ERROR_INTERNET_SEC_INVALID_CERT;
    }
}

}  // namespace

BOOL SendWithCertificateCheck(HINTERNET request, const std::string& host, int port, bool secure,
                              const std::function<BOOL()>& send) {
    if (!secure)
        return send();
    const std::atomic<bool> never{false};
    DownloadSocket socket(never);
    // A server that cannot be reached is left to WinInet, which reports it in its own words.
    if (socket.create() && socket.connect(host, port, kCheckTimeLimitMs) == IoStatus::kOk) {
        const IoStatus checked = socket.startTls(host, kCheckTimeLimitMs);
        if (checked == IoStatus::kRejected) {
            SetLastError(WinInetCodeFor(socket.lastError()));
            return FALSE;
        }
    }
    socket.close();
    if (send())
        return TRUE;
    if (GetLastError() != ERROR_INTERNET_SEC_CERT_REV_FAILED)
        return FALSE;
    // Our check has passed the certificate (it would have refused a revoked one), so the
    // status is unknown, not bad.
    DWORD flags = 0;
    DWORD size = sizeof flags;
    if (!InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) {
        SetLastError(ERROR_INTERNET_SEC_CERT_REV_FAILED);
        return FALSE;
    }
    flags |= SECURITY_FLAG_IGNORE_REVOCATION;
    if (!InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags)) {
        SetLastError(ERROR_INTERNET_SEC_CERT_REV_FAILED);
        return FALSE;
    }
    NoteRevocationUnknownOnce(host, 0);
    return send();
}
