// Schannel client channel for the download client. The handshake is the usual SSPI loop
// (InitializeSecurityContext until SEC_E_OK, sending each token it produces and feeding it
// what the server sent, keeping any bytes past the message it consumed). Schannel's own
// certificate check is turned off (SCH_CRED_MANUAL_CRED_VALIDATION) only so that ours
// runs instead, with the revocation rules of tls_certificate_check_win.cpp; the
// connection is used only after that check has passed.
#include "store/transfers/tls_channel_win.h"

#include "store/transfers/tls_certificate_check_win.h"
#include "store/transfers/tls_notices.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// Each socket read is costly under Wine, so a read takes in many records at once (as the
// client's own reads do over plain HTTP).
constexpr size_t kIncomingStart = 256 * 1024;
// A server that sends more than this without completing a message is not speaking TLS.
constexpr size_t kIncomingLimit = 1024 * 1024;

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TlsChannel::TlsChannel(TlsTransport& transport) : transport_(transport) {
    incoming_.resize(kIncomingStart);
}

TlsChannel::~TlsChannel() {
    dropContext();
    if (haveCredentials_)
        FreeCredentialsHandle(&credentials_);
}

void TlsChannel::dropContext() {
    if (haveContext_) {
        DeleteSecurityContext(&context_);
        haveContext_ = false;
    }
}

IoStatus TlsChannel::sendToken(SecBuffer& token, int timeoutMs) {
    IoStatus status = IoStatus::kOk;
    if (token.pvBuffer != nullptr) {
        if (token.cbBuffer > 0)
            status = transport_.sendRaw(static_cast<const char*>(token.pvBuffer), token.cbBuffer,
                                        timeoutMs);
        FreeContextBuffer(token.pvBuffer);
        token.pvBuffer = nullptr;
    }
    return status;
}

IoStatus TlsChannel::readMore(int timeoutMs) {
    if (incomingSize_ == incoming_.size()) {
        if (incoming_.size() >= kIncomingLimit) {
            lastError_ = static_cast<int>(SEC_E_INVALID_TOKEN);
            return IoStatus::kFailed;
        }
        incoming_.resize(incoming_.size() * 2);
    }
    size_t got = 0;
    const IoStatus status = transport_.receiveRaw(incoming_.data() + incomingSize_,
                                                  incoming_.size() - incomingSize_, timeoutMs, got);
    if (status == IoStatus::kOk)
        incomingSize_ += got;
    return status;
}

IoStatus TlsChannel::handshake(const std::string& host, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    SCHANNEL_CRED settings{};
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    SECURITY_STATUS status =
        AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                  nullptr, &settings, nullptr, nullptr, &credentials_, nullptr);
    if (status != SEC_E_OK) {
        lastError_ = static_cast<int>(status);
        return IoStatus::kFailed;
    }
    haveCredentials_ = true;

    std::string target = host;
    bool first = true;
    for (;;) {
        SecBuffer token;
        unsigned long extra = 0;
        status = stepContext(&target[0], first, token, extra);
        if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK))
            haveContext_ = true;
        first = false;

        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            const IoStatus read = readMore(RemainingMs(deadline));
            if (read != IoStatus::kOk)
                return read == IoStatus::kClosed ? IoStatus::kFailed : read;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED &&
            status != SEC_I_INCOMPLETE_CREDENTIALS) {
            // An alert the server sent comes back in the output token; pass it on.
            sendToken(token, RemainingMs(deadline));
            lastError_ = static_cast<int>(status);
            return IoStatus::kFailed;
        }
        const IoStatus sent = sendToken(token, RemainingMs(deadline));
        if (sent != IoStatus::kOk)
            return sent;
        // Keep what the server sent past the message just consumed (all of it when the
        // context only asked for credentials).
        if (extra > 0 || status != SEC_I_INCOMPLETE_CREDENTIALS)
            keepExtra(extra);
        if (status == SEC_E_OK)
            break;
        if (status == SEC_I_CONTINUE_NEEDED && incomingSize_ == 0) {
            const IoStatus read = readMore(RemainingMs(deadline));
            if (read != IoStatus::kOk)
                return read == IoStatus::kClosed ? IoStatus::kFailed : read;
        }
    }
    status = QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (status != SEC_E_OK) {
        lastError_ = static_cast<int>(status);
        return IoStatus::kFailed;
    }
    return IoStatus::kOk;
}

SECURITY_STATUS TlsChannel::stepContext(char* target, bool first, SecBuffer& token,
                                        unsigned long& extra) {
    SecBuffer in[2] = {};
    in[0].BufferType = SECBUFFER_TOKEN;
    in[0].pvBuffer = incoming_.data();
    in[0].cbBuffer = static_cast<unsigned long>(incomingSize_);
    in[1].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    token = SecBuffer{};
    token.BufferType = SECBUFFER_TOKEN;
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &token};
    unsigned long attributes = 0;
    const SECURITY_STATUS status = InitializeSecurityContextA(
        &credentials_, first ? nullptr : &context_, target, kContextFlags, 0, 0,
        first ? nullptr : &inDesc, 0, first ? &context_ : nullptr, &outDesc, &attributes, nullptr);
    extra =
        in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer <= incomingSize_ ? in[1].cbBuffer : 0;
    return status;
}

void TlsChannel::keepExtra(unsigned long extra) {
    if (extra > 0)
        std::memmove(incoming_.data(), incoming_.data() + incomingSize_ - extra, extra);
    incomingSize_ = extra;
}

IoStatus TlsChannel::start(const std::string& host, int timeoutMs) {
    const IoStatus shaken = handshake(host, timeoutMs);
    if (shaken != IoStatus::kOk)
        return shaken;
    PCCERT_CONTEXT certificate = nullptr;
    const SECURITY_STATUS status =
        QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
    if (status != SEC_E_OK || certificate == nullptr) {
        lastError_ = static_cast<int>(status != SEC_E_OK ? status : SEC_E_NO_CREDENTIALS);
        return IoStatus::kRejected;
    }
    const CertificateCheck check = CheckServerCertificate(certificate, host);
    CertFreeCertificateContext(certificate);
    if (check.verdict == CertificateVerdict::kRejected) {
        lastError_ = static_cast<int>(check.error);
        NoteCertificateRejected(host, CertificateErrorName(check.error), check.error,
                                check.trustErrors);
        return IoStatus::kRejected;
    }
    if (check.verdict == CertificateVerdict::kTrustedRevocationUnknown)
        NoteRevocationUnknownOnce(host, check.trustErrors);
    return IoStatus::kOk;
}

IoStatus TlsChannel::send(const char* data, size_t size, int timeoutMs) {
    const size_t piece = sizes_.cbMaximumMessage;
    outgoing_.resize(sizes_.cbHeader + piece + sizes_.cbTrailer);
    while (size > 0) {
        const size_t now = std::min(size, piece);
        std::memcpy(outgoing_.data() + sizes_.cbHeader, data, now);
        SecBuffer buffers[4] = {};
        buffers[0].BufferType = SECBUFFER_STREAM_HEADER;
        buffers[0].pvBuffer = outgoing_.data();
        buffers[0].cbBuffer = sizes_.cbHeader;
        buffers[1].BufferType = SECBUFFER_DATA;
        buffers[1].pvBuffer = outgoing_.data() + sizes_.cbHeader;
        buffers[1].cbBuffer = static_cast<unsigned long>(now);
        buffers[2].BufferType = SECBUFFER_STREAM_TRAILER;
        buffers[2].pvBuffer = outgoing_.data() + sizes_.cbHeader + now;
        buffers[2].cbBuffer = sizes_.cbTrailer;
        buffers[3].BufferType = SECBUFFER_EMPTY;
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = EncryptMessage(&context_, 0, &desc, 0);
        if (status != SEC_E_OK) {
            lastError_ = static_cast<int>(status);
            return IoStatus::kFailed;
        }
        const size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
        const IoStatus sent = transport_.sendRaw(outgoing_.data(), total, timeoutMs);
        if (sent != IoStatus::kOk)
            return sent;
        data += now;
        size -= now;
    }
    return IoStatus::kOk;
}

bool TlsChannel::decryptHeld(bool& closedByPeer, bool& needMore) {
    closedByPeer = false;
    needMore = false;
    while (incomingSize_ > 0) {
        SecBuffer buffers[4] = {};
        buffers[0].BufferType = SECBUFFER_DATA;
        buffers[0].pvBuffer = incoming_.data();
        buffers[0].cbBuffer = static_cast<unsigned long>(incomingSize_);
        buffers[1].BufferType = SECBUFFER_EMPTY;
        buffers[2].BufferType = SECBUFFER_EMPTY;
        buffers[3].BufferType = SECBUFFER_EMPTY;
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needMore = true;
            return true;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED && status != SEC_I_RENEGOTIATE) {
            lastError_ = static_cast<int>(status);
            return false;
        }
        unsigned long extra = 0;
        for (const SecBuffer& buffer : buffers) {
            if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
                const char* from = static_cast<const char*>(buffer.pvBuffer);
                plain_.insert(plain_.end(), from, from + buffer.cbBuffer);
            } else if (buffer.BufferType == SECBUFFER_EXTRA && buffer.cbBuffer <= incomingSize_) {
                extra = buffer.cbBuffer;
            }
        }
        keepExtra(extra);
        if (status == SEC_I_CONTEXT_EXPIRED) {
            closedByPeer = true;
            return true;
        }
        if (status == SEC_I_RENEGOTIATE) {
            // The server sent handshake messages after the handshake (TLS 1.3 tickets, or a
            // renegotiation): hand them to the context, which may answer.
            SecBuffer token;
            unsigned long unread = 0;
            const SECURITY_STATUS again = stepContext(nullptr, false, token, unread);
            if (token.pvBuffer != nullptr)
                FreeContextBuffer(token.pvBuffer);
            if (again != SEC_E_OK && again != SEC_I_CONTINUE_NEEDED) {
                lastError_ = static_cast<int>(again);
                return false;
            }
            keepExtra(unread);
        }
    }
    needMore = true;
    return true;
}

IoStatus TlsChannel::receive(char* buffer, size_t capacity, int timeoutMs, size_t& received) {
    received = 0;
    for (;;) {
        if (plainStart_ < plain_.size()) {
            received = std::min(capacity, plain_.size() - plainStart_);
            std::memcpy(buffer, plain_.data() + plainStart_, received);
            plainStart_ += received;
            if (plainStart_ == plain_.size()) {
                plain_.clear();
                plainStart_ = 0;
            }
            return IoStatus::kOk;
        }
        if (peerClosed_)
            return IoStatus::kClosed;
        bool closedByPeer = false;
        bool needMore = false;
        if (!decryptHeld(closedByPeer, needMore))
            return IoStatus::kFailed;
        if (closedByPeer)
            peerClosed_ = true;
        if (plainStart_ < plain_.size() || peerClosed_)
            continue;
        const IoStatus read = readMore(timeoutMs);
        if (read == IoStatus::kClosed) {
            peerClosed_ = true;
            continue;
        }
        if (read != IoStatus::kOk)
            return read;
    }
}
