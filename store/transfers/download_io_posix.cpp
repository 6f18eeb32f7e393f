// POSIX side of the download client's platform layer: non-blocking sockets waited on with
// poll() in short slices, and plain file descriptors for the partial file.
#include "store/transfers/download_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

constexpr size_t kWritePiece = 256 * 1024;

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for `events` on `fd` until the deadline, looking at the stop flag between slices.
IoStatus WaitFor(int fd, short events, int timeoutMs, const std::atomic<bool>& stopFlag,
                 int& lastError) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (stopFlag.load(std::memory_order_relaxed))
            return IoStatus::kStopped;
        const int left = RemainingMs(deadline);
        if (left == 0) {
            lastError = kSocketTimeoutError;
            return IoStatus::kTimedOut;
        }
        pollfd entry{fd, events, 0};
        const int slice = left < DownloadSocket::kStopPollMs ? left : DownloadSocket::kStopPollMs;
        const int ready = ::poll(&entry, 1, slice);
        if (ready > 0)
            return IoStatus::kOk;
        if (ready < 0 && errno != EINTR) {
            lastError = errno;
            return IoStatus::kFailed;
        }
    }
}

bool ResolveIpv4(const std::string& host, in_addr& address) {
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

}  // namespace

DownloadSocket::DownloadSocket(const std::atomic<bool>& stopFlag)
    : stopFlag_(stopFlag), handle_(-1) {}

DownloadSocket::~DownloadSocket() {
    close();
}

bool DownloadSocket::create() {
    close();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        lastError_ = errno;
        return false;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    handle_ = fd;
    return true;
}

IoStatus DownloadSocket::connect(const std::string& host, int port, int timeoutMs) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    if (!ResolveIpv4(host, target.sin_addr)) {
        lastError_ = EHOSTUNREACH;
        return IoStatus::kFailed;
    }
    const int fd = static_cast<int>(handle_);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0)
        return IoStatus::kOk;
    if (errno != EINPROGRESS) {
        lastError_ = errno;
        return IoStatus::kFailed;
    }
    const IoStatus waited = WaitFor(fd, POLLOUT, timeoutMs, stopFlag_, lastError_);
    if (waited != IoStatus::kOk)
        return waited;
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        lastError_ = error;
        return IoStatus::kFailed;
    }
    return IoStatus::kOk;
}

IoStatus DownloadSocket::sendAll(const char* data, size_t size, int timeoutMs) {
    const int fd = static_cast<int>(handle_);
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            lastError_ = errno;
            return IoStatus::kFailed;
        }
        const IoStatus waited = WaitFor(fd, POLLOUT, timeoutMs, stopFlag_, lastError_);
        if (waited != IoStatus::kOk)
            return waited;
    }
    return IoStatus::kOk;
}

IoStatus DownloadSocket::receive(char* buffer, size_t capacity, int timeoutMs, size_t& received) {
    received = 0;
    const int fd = static_cast<int>(handle_);
    // Try first: while data streams in, this saves a poll() per piece.
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, capacity, 0);
        if (got > 0) {
            received = static_cast<size_t>(got);
            return IoStatus::kOk;
        }
        if (got == 0)
            return IoStatus::kClosed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            lastError_ = errno;
            return IoStatus::kFailed;
        }
        const IoStatus waited = WaitFor(fd, POLLIN, timeoutMs, stopFlag_, lastError_);
        if (waited != IoStatus::kOk)
            return waited;
    }
}

// The native build has no TLS of its own; the Windows build, which ships, uses the
// platform's. An "https" download therefore fails at once here, with its own code.
IoStatus DownloadSocket::startTls(const std::string&, int) {
    lastError_ = 0;
    return IoStatus::kUnsupported;
}

void DownloadSocket::dropTls() {}

void DownloadSocket::close() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
        handle_ = -1;
    }
}

DownloadFile::DownloadFile() : handle_(-1) {}

DownloadFile::~DownloadFile() {
    close();
}

bool DownloadFile::open(const std::string& path, bool truncate) {
    close();
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0)
        return false;
    handle_ = fd;
    pending_.clear();
    pending_.reserve(kWritePiece);
    return true;
}

bool DownloadFile::isOpen() const {
    return handle_ >= 0;
}

bool DownloadFile::seekToEnd() {
    return flush() && ::lseek(static_cast<int>(handle_), 0, SEEK_END) >= 0;
}

bool DownloadFile::flush() {
    size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t written =
            ::write(static_cast<int>(handle_), pending_.data() + done, pending_.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            pending_.clear();
            return false;
        }
        done += static_cast<size_t>(written);
    }
    pending_.clear();
    return true;
}

bool DownloadFile::write(const char* data, size_t size) {
    if (pending_.size() + size > kWritePiece && !flush())
        return false;
    pending_.insert(pending_.end(), data, data + size);
    return pending_.size() < kWritePiece || flush();
}

bool DownloadFile::close() {
    if (handle_ < 0)
        return true;
    const bool flushed = flush();
    const bool closed = ::close(static_cast<int>(handle_)) == 0;
    handle_ = -1;
    return flushed && closed;
}

bool QueryFileSize(const std::string& path, uint64_t& size) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

void RemoveFileIfPresent(const std::string& path) {
    ::unlink(path.c_str());
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool SetFileModificationTime(const std::string& path, time_t when) {
    timeval times[2] = {};
    times[0].tv_sec = when;
    times[1].tv_sec = when;
    return ::utimes(path.c_str(), times) == 0;
}

std::string ReadUrlCookies(const std::string&) {
    return std::string();
}

char LocalPathSeparator() {
    return '/';
}
