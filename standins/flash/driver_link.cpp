// Reader thread and line handling of the driver link. The reader never touches the
// control: it parses, answers malformed lines itself, and posts calls to the window.
#include "driver_link.h"

#include <ws2tcpip.h>

#include <cstdlib>

#include "json_lines.h"

namespace pxflash {

namespace {

// A driver line longer than this is answered with an error and skipped; requests of
// the store's movies are a few kilobytes at most.
constexpr size_t kMaxLineBytes = 1 << 20;
// How long one line may wait for a driver that does not read before it is dropped.
constexpr long kSendWaitSeconds = 5;

}  // namespace

DriverLink::DriverLink() {
    InitializeCriticalSection(&sendLock_);
}

DriverLink::~DriverLink() {
    Close();
    DeleteCriticalSection(&sendLock_);
}

bool DriverLink::Connect(const std::string& address, HWND notify, std::string& error) {
    if (IsConnected())
        return true;
    size_t colon = address.rfind(':');
    if (colon == std::string::npos) {
        error = "PX_MOVIE_DRIVER is not HOST:PORT";
        return false;
    }
    std::string host = address.substr(0, colon);
    long port = std::strtol(address.c_str() + colon + 1, nullptr, 10);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    if (port <= 0 || port > 65535 || inet_pton(AF_INET, host.c_str(), &target.sin_addr) != 1) {
        error = "PX_MOVIE_DRIVER is not HOST:PORT";
        return false;
    }
    target.sin_port = htons(static_cast<u_short>(port));
    if (!winsockStarted_) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            error = "WSAStartup failed";
            return false;
        }
        winsockStarted_ = true;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        error = "socket failed";
        return false;
    }
    if (connect(s, reinterpret_cast<sockaddr*>(&target), sizeof(target)) != 0) {
        error = "cannot connect to " + address;
        closesocket(s);
        return false;
    }
    socket_ = s;
    notify_ = notify;
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    reader_ = stop_ != nullptr ? CreateThread(nullptr, 0, ReaderMain, this, 0, nullptr) : nullptr;
    if (reader_ == nullptr) {
        error = "CreateThread failed";
        Close();
        return false;
    }
    return true;
}

void DriverLink::SendLine(const std::string& line) {
    std::string data = line + "\n";
    EnterCriticalSection(&sendLock_);
    if (socket_ != INVALID_SOCKET) {
        size_t sent = 0;
        while (sent < data.size()) {
            int n = send(socket_, data.data() + sent, static_cast<int>(data.size() - sent), 0);
            if (n > 0) {
                sent += static_cast<size_t>(n);
                continue;
            }
            // The reader made the socket non-blocking: wait for room, but not forever
            // for a driver that stopped reading.
            if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
                fd_set writable;
                FD_ZERO(&writable);
                FD_SET(socket_, &writable);
                timeval wait{kSendWaitSeconds, 0};
                if (select(0, nullptr, &writable, nullptr, &wait) == 1)
                    continue;
            }
            break;
        }
    }
    LeaveCriticalSection(&sendLock_);
}

void DriverLink::Close() {
    if (reader_ != nullptr) {
        SetEvent(stop_);
        WaitForSingleObject(reader_, INFINITE);
        CloseHandle(reader_);
        reader_ = nullptr;
    }
    if (stop_ != nullptr) {
        CloseHandle(stop_);
        stop_ = nullptr;
    }
    EnterCriticalSection(&sendLock_);
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    LeaveCriticalSection(&sendLock_);
    if (winsockStarted_) {
        WSACleanup();
        winsockStarted_ = false;
    }
}

void DriverLink::DiscardPosted(HWND window) {
    MSG msg;
    while (PeekMessageA(&msg, window, WM_PXFLASH_CALL, WM_PXFLASH_CALL, PM_REMOVE)) {
        delete reinterpret_cast<std::u16string*>(msg.lParam);
    }
}

DWORD WINAPI DriverLink::ReaderMain(void* self) {
    static_cast<DriverLink*>(self)->Read();
    return 0;
}

void DriverLink::Read() {
    std::string pending;
    bool skipping = false;  // inside an over-long line, until its line break
    char buffer[4096];
    WSAEVENT readable = WSACreateEvent();
    if (readable == WSA_INVALID_EVENT ||
        WSAEventSelect(socket_, readable, FD_READ | FD_CLOSE) != 0) {
        if (readable != WSA_INVALID_EVENT)
            WSACloseEvent(readable);
        PostMessageA(notify_, WM_PXFLASH_DRIVER_GONE, 0, 0);
        return;
    }
    HANDLE waits[2] = {stop_, readable};
    for (;;) {
        int n = recv(socket_, buffer, sizeof(buffer), 0);
        if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
            DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (woke != WAIT_OBJECT_0 + 1)
                break;
            WSAResetEvent(readable);
            continue;
        }
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
            if (skipping) {
                skipping = false;
                continue;
            }
            std::string line = pending.substr(start, nl - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            HandleLine(line);
        }
        pending.erase(0, start);
        if (pending.size() > kMaxLineBytes) {
            if (!skipping)
                SendLine(R"({"event":"error","message":"line too long"})");
            skipping = true;
            pending.clear();
        }
    }
    WSAEventSelect(socket_, nullptr, 0);
    WSACloseEvent(readable);
    PostMessageA(notify_, WM_PXFLASH_DRIVER_GONE, 0, 0);
}

void DriverLink::HandleLine(const std::string& line) {
    if (line.find_first_not_of(" \t") == std::string::npos)
        return;
    JsonObject object;
    std::string error;
    if (ParseJsonObject(line, object, error)) {
        auto call = object.find("call");
        if (call != object.end() && call->second.isString) {
            auto* request = new std::u16string(call->second.text);
            if (!PostMessageA(notify_, WM_PXFLASH_CALL, 0, reinterpret_cast<LPARAM>(request))) {
                delete request;
            }
            return;
        }
        auto report = object.find("report");
        if (report != object.end() && report->second.isString && report->second.text == u"host") {
            PostMessageA(notify_, WM_PXFLASH_REPORT, 0, 0);
            return;
        }
        error = "expected {\"call\":TEXT}";
    }
    std::u16string message(error.begin(), error.end());
    SendLine(R"({"event":"error","message":)" + JsonQuote(message) + "}");
}

}  // namespace pxflash
