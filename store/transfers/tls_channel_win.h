// TLS over a connected socket with the platform's TLS (Schannel through SSPI): the client
// handshake, the server certificate check, and records encrypted on the way out and
// decrypted on the way in. The channel owns no socket: it moves bytes through a
// TlsTransport, so every wait keeps the socket layer's time limits and stop flag.
#pragma once

#include "store/transfers/download_io.h"

#include <cstddef>
#include <string>
#include <vector>

#define SECURITY_WIN32
#include <windows.h>
#include <security.h>
#include <schannel.h>

class TlsTransport {
public:
    virtual IoStatus sendRaw(const char* data, size_t size, int timeoutMs) = 0;
    virtual IoStatus receiveRaw(char* buffer, size_t capacity, int timeoutMs, size_t& received) = 0;

protected:
    ~TlsTransport() = default;
};

class TlsChannel {
public:
    explicit TlsChannel(TlsTransport& transport);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Handshakes with the server for `host` (also its SNI name) within `timeoutMs` in all,
    // then checks its certificate. kRejected: the certificate failed the check
    // (lastError() is the CERT_E_* / CRYPT_E_* code); kFailed: the handshake failed
    // (lastError() is the SECURITY_STATUS or socket error).
    IoStatus start(const std::string& host, int timeoutMs);
    IoStatus send(const char* data, size_t size, int timeoutMs);
    // At least one and at most `capacity` bytes of plain text; kClosed at the end.
    IoStatus receive(char* buffer, size_t capacity, int timeoutMs, size_t& received);
    int lastError() const { return lastError_; }

private:
    IoStatus handshake(const std::string& host, int timeoutMs);
    // One step of the handshake: the records held so far go in (none on the first step),
    // the token to send comes out in `token`, and `extra` counts the held bytes the step
    // left for later.
    SECURITY_STATUS stepContext(char* target, bool first, SecBuffer& token, unsigned long& extra);
    // Keeps only the last `extra` held bytes.
    void keepExtra(unsigned long extra);
    IoStatus sendToken(SecBuffer& token, int timeoutMs);
    IoStatus readMore(int timeoutMs);
    // Decrypts every complete record held in `incoming_` into `plain_`; false on a fault.
    bool decryptHeld(bool& closedByPeer, bool& needMore);
    void dropContext();

    TlsTransport& transport_;
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool haveCredentials_ = false;
    bool haveContext_ = false;
    SecPkgContext_StreamSizes sizes_{};
    std::vector<char> incoming_;  // received, not yet decrypted
    size_t incomingSize_ = 0;
    std::vector<char> plain_;  // decrypted, not yet handed out
    size_t plainStart_ = 0;
    std::vector<char> outgoing_;
    bool peerClosed_ = false;
    int lastError_ = 0;
};
