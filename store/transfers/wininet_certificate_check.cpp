// The certificate rules for WinInet requests (see the header).
#include "store/transfers/wininet_certificate_check.h"

#include "store/transfers/download_io.h"
#include "store/transfers/proxy_rules.h"
#include "store/transfers/tls_notices.h"

#include <wincrypt.h>

#include <atomic>
#include <optional>
#include <vector>

namespace {

constexpr int kCheckTimeLimitMs = 10000;
// A proxy's answer to CONNECT is a few lines; more than this is no proxy we can talk to.
constexpr size_t kConnectAnswerLimit = 8192;

// The proxy and bypass lists of `session` (or, for a session that takes the system's
// settings, those settings). Both empty when requests go direct.
void ReadProxyLists(HINTERNET session, std::string& proxyList, std::string& bypassList) {
    proxyList.clear();
    bypassList.clear();
    for (HINTERNET handle : {session, static_cast<HINTERNET>(nullptr)}) {
        DWORD size = 0;
        InternetQueryOptionA(handle, INTERNET_OPTION_PROXY, nullptr, &size);
        if (size < sizeof(INTERNET_PROXY_INFO)) {
            return;
        }
        std::vector<char> buffer(size + 1);
        if (!InternetQueryOptionA(handle, INTERNET_OPTION_PROXY, buffer.data(), &size)) {
            return;
        }
        const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer.data());
        if (info->dwAccessType == INTERNET_OPEN_TYPE_PROXY) {
            if (info->lpszProxy != nullptr) {
                proxyList = reinterpret_cast<const char*>(info->lpszProxy);
            }
            if (info->lpszProxyBypass != nullptr) {
                bypassList = reinterpret_cast<const char*>(info->lpszProxyBypass);
            }
            return;
        }
        // A session made with the system's settings may answer with that choice rather
        // than with the settings; the process-wide answer holds them.
        if (info->dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG &&
            info->dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
            return;
        }
    }
}

// Connects `socket` to `host`:`port` the way the WinInet request will go: through the
// session's proxy with CONNECT, or direct.
bool ConnectLikeTheRequest(DownloadSocket& socket, HINTERNET session, const std::string& host,
                           int port) {
    std::string proxyList;
    std::string bypassList;
    ReadProxyLists(session, proxyList, bypassList);
    const std::optional<ProxyServer> proxy = ChooseProxy(proxyList, bypassList, true, host, port);
    if (!proxy) {
        return socket.connect(host, port, kCheckTimeLimitMs) == IoStatus::kOk;
    }
    if (socket.connect(proxy->host, proxy->port, kCheckTimeLimitMs) != IoStatus::kOk) {
        return false;
    }
    const std::string request = ConnectRequest(host, port);
    if (socket.sendAll(request.data(), request.size(), kCheckTimeLimitMs) != IoStatus::kOk) {
        return false;
    }
    // Nothing may follow the answer's blank line: the server speaks only after our hello.
    std::string answer;
    char buffer[512];
    while (answer.find("\r\n\r\n") == std::string::npos) {
        size_t received = 0;
        if (answer.size() >= kConnectAnswerLimit ||
            socket.receive(buffer, sizeof buffer, kCheckTimeLimitMs, received) != IoStatus::kOk) {
            return false;
        }
        answer.append(buffer, received);
    }
    return answer.size() == answer.find("\r\n\r\n") + 4 && ConnectAnswerStatus(answer) == 200;
}

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

BOOL SendWithCertificateCheck(HINTERNET session, HINTERNET request, const std::string& host,
                              int port, bool secure, const std::function<BOOL()>& send) {
    if (!secure)
        return send();
    const std::atomic<bool> never{false};
    DownloadSocket socket(never);
    // A server that cannot be reached (nor a proxy that will not open a tunnel) is left to
    // WinInet, which reports it in its own words.
    if (socket.create() && ConnectLikeTheRequest(socket, session, host, port)) {
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
