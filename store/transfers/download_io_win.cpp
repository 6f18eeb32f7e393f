// Windows side of the download client's platform layer: Winsock 2 sockets with a network
// event waited on in short slices (so a stop is seen promptly), Win32 files for the
// partial file, and WinInet for the user's cookies.
#include "store/transfers/download_io.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wininet.h>

#include "store/transfers/host_lookup_win.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr DWORD kWritePiece = 256 * 1024;

using Clock = std::chrono::steady_clock;

// Winsock 2.2 is started once per process and stays up until the process ends; a library
// that cannot give 2.2 is refused with WSAVERNOTSUPPORTED (10092).
int StartSockets() {
    static const int result = [] {
        WSADATA data;
        const int error = WSAStartup(MAKEWORD(2, 2), &data);
        if (error != 0)
            return error;
        if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
            WSACleanup();
            return static_cast<int>(WSAVERNOTSUPPORTED);
        }
        return 0;
    }();
    return result;
}

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until the socket's event fires for one of `wanted`, the deadline passes or the
// stop flag is set. `eventError` receives the error code reported with the event.
IoStatus WaitForEvent(SOCKET s, WSAEVENT event, long wanted, int wantedBit, int timeoutMs,
                      const std::atomic<bool>& stopFlag, int& lastError, int* eventError) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (stopFlag.load(std::memory_order_relaxed))
            return IoStatus::kStopped;
        const int left = RemainingMs(deadline);
        if (left == 0) {
            lastError = WSAETIMEDOUT;
            return IoStatus::kTimedOut;
        }
        const DWORD slice = static_cast<DWORD>(
            left < DownloadSocket::kStopPollMs ? left : DownloadSocket::kStopPollMs);
        const DWORD waited = WSAWaitForMultipleEvents(1, &event, FALSE, slice, FALSE);
        if (waited == WSA_WAIT_TIMEOUT)
            continue;
        if (waited != WSA_WAIT_EVENT_0) {
            lastError = WSAGetLastError();
            return IoStatus::kFailed;
        }
        WSANETWORKEVENTS happened{};
        if (WSAEnumNetworkEvents(s, event, &happened) != 0) {
            lastError = WSAGetLastError();
            return IoStatus::kFailed;
        }
        if (happened.lNetworkEvents & wanted) {
            if (eventError != nullptr)
                *eventError = happened.iErrorCode[wantedBit];
            return IoStatus::kOk;
        }
        // A close while waiting to read or write: let the caller's next call see it.
        if (happened.lNetworkEvents & FD_CLOSE)
            return IoStatus::kOk;
    }
}

SOCKET AsSocket(intptr_t handle) {
    return static_cast<SOCKET>(handle);
}

}  // namespace

DownloadSocket::DownloadSocket(const std::atomic<bool>& stopFlag)
    : stopFlag_(stopFlag), handle_(static_cast<intptr_t>(INVALID_SOCKET)) {}

DownloadSocket::~DownloadSocket() {
    close();
}

bool DownloadSocket::create() {
    close();
    const int started = StartSockets();
    if (started != 0) {
        lastError_ = started;
        return false;
    }
    SOCKET s = WSASocketA(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) {
        lastError_ = WSAGetLastError();
        return false;
    }
    const BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    WSAEVENT event = WSACreateEvent();
    // Selecting events also makes the socket non-blocking.
    if (event == WSA_INVALID_EVENT ||
        WSAEventSelect(s, event, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        lastError_ = WSAGetLastError();
        if (event != WSA_INVALID_EVENT)
            WSACloseEvent(event);
        closesocket(s);
        return false;
    }
    handle_ = static_cast<intptr_t>(s);
    event_ = event;
    return true;
}

IoStatus DownloadSocket::connect(const std::string& host, int port, int timeoutMs) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port));
    const LookupResult lookup =
        LookUpIpv4(host, stopFlag_, std::min(timeoutMs, kHostLookupLimitMs), target.sin_addr);
    if (lookup == LookupResult::kStopped)
        return IoStatus::kStopped;
    if (lookup != LookupResult::kFound) {
        lastError_ = lookup == LookupResult::kTimedOut ? kSocketTimeoutError : WSAHOST_NOT_FOUND;
        return lookup == LookupResult::kTimedOut ? IoStatus::kTimedOut : IoStatus::kFailed;
    }
    const SOCKET s = AsSocket(handle_);
    if (::connect(s, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0)
        return IoStatus::kOk;
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
        lastError_ = error;
        return IoStatus::kFailed;
    }
    int connectError = 0;
    const IoStatus waited =
        WaitForEvent(s, static_cast<WSAEVENT>(event_), FD_CONNECT, FD_CONNECT_BIT, timeoutMs,
                     stopFlag_, lastError_, &connectError);
    if (waited != IoStatus::kOk)
        return waited;
    if (connectError != 0) {
        lastError_ = connectError;
        return IoStatus::kFailed;
    }
    return IoStatus::kOk;
}

IoStatus DownloadSocket::sendRaw(const char* data, size_t size, int timeoutMs) {
    const SOCKET s = AsSocket(handle_);
    while (size > 0) {
        // Keep sending until Winsock says it would block: write readiness is only reported
        // again after that answer.
        const int piece = size > 0x10000 ? 0x10000 : static_cast<int>(size);
        const int sent = ::send(s, data, piece, 0);
        if (sent > 0) {
            data += sent;
            size -= static_cast<size_t>(sent);
            continue;
        }
        const int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            lastError_ = error;
            return IoStatus::kFailed;
        }
        const IoStatus waited =
            WaitForEvent(s, static_cast<WSAEVENT>(event_), FD_WRITE, FD_WRITE_BIT, timeoutMs,
                         stopFlag_, lastError_, nullptr);
        if (waited != IoStatus::kOk)
            return waited;
    }
    return IoStatus::kOk;
}

IoStatus DownloadSocket::receiveRaw(char* buffer, size_t capacity, int timeoutMs,
                                    size_t& received) {
    received = 0;
    const SOCKET s = AsSocket(handle_);
    const int room = capacity > 0x100000 ? 0x100000 : static_cast<int>(capacity);
    for (;;) {
        const int got = ::recv(s, buffer, room, 0);
        if (got > 0) {
            received = static_cast<size_t>(got);
            return IoStatus::kOk;
        }
        if (got == 0)
            return IoStatus::kClosed;
        const int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            lastError_ = error;
            return IoStatus::kFailed;
        }
        const IoStatus waited =
            WaitForEvent(s, static_cast<WSAEVENT>(event_), FD_READ | FD_CLOSE, FD_READ_BIT,
                         timeoutMs, stopFlag_, lastError_, nullptr);
        if (waited != IoStatus::kOk)
            return waited;
    }
}

void DownloadSocket::close() {
    dropTls();
    if (AsSocket(handle_) != INVALID_SOCKET) {
        closesocket(AsSocket(handle_));
        handle_ = static_cast<intptr_t>(INVALID_SOCKET);
    }
    if (event_ != nullptr) {
        WSACloseEvent(static_cast<WSAEVENT>(event_));
        event_ = nullptr;
    }
}

namespace {
HANDLE AsFile(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}
}  // namespace

DownloadFile::DownloadFile() : handle_(reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE)) {}

DownloadFile::~DownloadFile() {
    close();
}

bool DownloadFile::open(const std::string& path, bool truncate) {
    close();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (truncate && !SetEndOfFile(file)) {
        CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    pending_.clear();
    pending_.reserve(kWritePiece);
    return true;
}

bool DownloadFile::isOpen() const {
    return AsFile(handle_) != INVALID_HANDLE_VALUE;
}

bool DownloadFile::seekToEnd() {
    LARGE_INTEGER zero{};
    return flush() && SetFilePointerEx(AsFile(handle_), zero, nullptr, FILE_END) != 0;
}

bool DownloadFile::flush() {
    size_t done = 0;
    while (done < pending_.size()) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(pending_.size() - done);
        if (!WriteFile(AsFile(handle_), pending_.data() + done, piece, &written, nullptr) ||
            written == 0) {
            pending_.clear();
            return false;
        }
        done += written;
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
    if (!isOpen())
        return true;
    const bool flushed = flush();
    const bool closed = CloseHandle(AsFile(handle_)) != 0;
    handle_ = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
    return flushed && closed;
}

bool QueryFileSize(const std::string& path, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

void RemoveFileIfPresent(const std::string& path) {
    DeleteFileA(path.c_str());
}

bool RenameFile(const std::string& from, const std::string& to) {
    return MoveFileA(from.c_str(), to.c_str()) != 0;
}

bool SetFileModificationTime(const std::string& path, time_t when) {
    HANDLE file =
        CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // Seconds since 1970 to 100-nanosecond ticks since 1601.
    const uint64_t ticks = (static_cast<uint64_t>(when) + 11644473600ULL) * 10000000ULL;
    FILETIME stamp;
    stamp.dwLowDateTime = static_cast<DWORD>(ticks);
    stamp.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    const BOOL done = SetFileTime(file, nullptr, nullptr, &stamp);
    CloseHandle(file);
    return done != 0;
}

std::string ReadUrlCookies(const std::string& url) {
    DWORD size = 0;
    if (!InternetGetCookieA(url.c_str(), nullptr, nullptr, &size) || size == 0)
        return std::string();
    std::string cookies(size, '\0');
    if (!InternetGetCookieA(url.c_str(), nullptr, &cookies[0], &size))
        return std::string();
    cookies.resize(size < cookies.size() ? size : cookies.size());
    while (!cookies.empty() && cookies.back() == '\0')
        cookies.pop_back();
    return cookies;
}

char LocalPathSeparator() {
    return '\\';
}
