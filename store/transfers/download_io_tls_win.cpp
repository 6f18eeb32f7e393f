// The TLS half of the Windows socket layer: DownloadSocket::startTls puts a TlsChannel
// between the download client and the socket, and sendAll/receive then go through it.
// Without TLS they pass straight to the socket.
#include "store/transfers/download_io.h"

#include "store/transfers/tls_channel_win.h"

#include <memory>

namespace {

// The channel's way to the wire: the socket's own waits, with its time limits and stop
// flag.
class SocketTransport final : public TlsTransport {
public:
    explicit SocketTransport(DownloadSocket& socket) : socket_(socket) {}
    IoStatus sendRaw(const char* data, size_t size, int timeoutMs) override {
        return socket_.sendRaw(data, size, timeoutMs);
    }
    IoStatus receiveRaw(char* buffer, size_t capacity, int timeoutMs, size_t& received) override {
        return socket_.receiveRaw(buffer, capacity, timeoutMs, received);
    }

private:
    DownloadSocket& socket_;
};

}  // namespace

struct DownloadSocket::TlsState {
    explicit TlsState(DownloadSocket& socket) : transport(socket), channel(transport) {}
    SocketTransport transport;
    TlsChannel channel;
};

IoStatus DownloadSocket::startTls(const std::string& host, int timeoutMs) {
    dropTls();
    auto state = std::make_unique<TlsState>(*this);
    const IoStatus started = state->channel.start(host, timeoutMs);
    if (started != IoStatus::kOk) {
        if (state->channel.lastError() != 0)
            lastError_ = state->channel.lastError();
        return started;
    }
    tls_ = state.release();
    return IoStatus::kOk;
}

void DownloadSocket::dropTls() {
    delete tls_;
    tls_ = nullptr;
}

IoStatus DownloadSocket::sendAll(const char* data, size_t size, int timeoutMs) {
    if (tls_ == nullptr)
        return sendRaw(data, size, timeoutMs);
    const IoStatus sent = tls_->channel.send(data, size, timeoutMs);
    if (sent == IoStatus::kFailed && tls_->channel.lastError() != 0)
        lastError_ = tls_->channel.lastError();
    return sent;
}

IoStatus DownloadSocket::receive(char* buffer, size_t capacity, int timeoutMs, size_t& received) {
    if (tls_ == nullptr)
        return receiveRaw(buffer, capacity, timeoutMs, received);
    const IoStatus got = tls_->channel.receive(buffer, capacity, timeoutMs, received);
    if (got == IoStatus::kFailed && tls_->channel.lastError() != 0)
        lastError_ = tls_->channel.lastError();
    return got;
}
