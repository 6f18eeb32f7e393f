// The thin platform layer under the download client: one TCP connection with waits that
// give up on a time limit or as soon as the owner's stop flag is set, the partial file
// written in large pieces, and the few file-system and cookie calls the client needs.
// Winsock 2 and Win32 files on Windows (download_io_win.cpp), POSIX elsewhere
// (download_io_posix.cpp), so the client's logic runs and is tested natively too.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

enum class IoStatus {
    kOk,
    kClosed,    // the peer ended the connection (receive only)
    kTimedOut,  // nothing happened within the time limit
    kStopped,   // the stop flag was seen while waiting
    kFailed,    // any other error; lastError() tells which
    // TLS only: the server's certificate failed the check (lastError() is the CERT_E_* /
    // CRYPT_E_* code); the connection must not be used.
    kRejected,
    kUnsupported,  // TLS asked of a build that has none (the POSIX build)
};

// The Winsock time-out code; the POSIX layer reports its time-outs with it too.
constexpr int kSocketTimeoutError = 10060;

class DownloadSocket {
public:
    // Every wait checks `stopFlag` at least this often, so a stop from another thread ends
    // a blocked connect, send or receive promptly.
    static constexpr int kStopPollMs = 50;

    explicit DownloadSocket(const std::atomic<bool>& stopFlag);
    ~DownloadSocket();
    DownloadSocket(const DownloadSocket&) = delete;
    DownloadSocket& operator=(const DownloadSocket&) = delete;

    // A fresh non-blocking TCP socket (closing any earlier one); false when none can be
    // made.
    bool create();
    // `host` is a dotted address or a name resolved to its first IPv4 address.
    IoStatus connect(const std::string& host, int port, int timeoutMs);
    // Turns the connected socket into a TLS connection to `host`: handshake and certificate
    // check within `timeoutMs`. After kOk, sendAll and receive carry plain text through it.
    IoStatus startTls(const std::string& host, int timeoutMs);
    // Sends all of `data`; each wait for the peer is limited to `timeoutMs`.
    IoStatus sendAll(const char* data, size_t size, int timeoutMs);
    // Receives at least one and at most `capacity` bytes into `buffer`.
    IoStatus receive(char* buffer, size_t capacity, int timeoutMs, size_t& received);
    // Closes at once, without a graceful shutdown (and without a TLS close notice).
    void close();
    // The last socket error code (Winsock numbering on Windows, errno elsewhere).
    int lastError() const { return lastError_; }

#ifdef _WIN32
    // The bytes on the wire, under TLS when it is on.
    IoStatus sendRaw(const char* data, size_t size, int timeoutMs);
    IoStatus receiveRaw(char* buffer, size_t capacity, int timeoutMs, size_t& received);
#endif

private:
    struct TlsState;
    void dropTls();

    const std::atomic<bool>& stopFlag_;
    intptr_t handle_;
#ifdef _WIN32
    void* event_ = nullptr;  // the network event of the socket
#endif
    TlsState* tls_ = nullptr;  // set while the connection speaks TLS
    int lastError_ = 0;
};

// The partial file. Writes are gathered into large pieces; a failed write or flush is
// reported by the call that hits it.
class DownloadFile {
public:
    DownloadFile();
    ~DownloadFile();
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;

    // Opens `path` for writing, creating it when missing, others may read but not write.
    // `truncate` empties it (a rewrite from the start).
    bool open(const std::string& path, bool truncate);
    bool seekToEnd();
    bool write(const char* data, size_t size);
    // Flushes and closes; false when the flush failed. Safe to call when not open.
    bool close();
    bool isOpen() const;

private:
    bool flush();

    intptr_t handle_;
    std::vector<char> pending_;
};

// Size of an existing regular file; false when there is none.
bool QueryFileSize(const std::string& path, uint64_t& size);
void RemoveFileIfPresent(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
// Errors are ignored by the caller, so this only reports them.
bool SetFileModificationTime(const std::string& path, time_t when);
// The browser cookies for `url` from the system's cookie store (none natively).
std::string ReadUrlCookies(const std::string& url);
// The separator of the local file system: "\\" on Windows, "/" elsewhere.
char LocalPathSeparator();
