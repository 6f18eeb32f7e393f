// The test's movie driver: see movie_driver_link.h.
#include "movie_driver_link.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

constexpr DWORD kPollMs = 5;

void MakeNonBlocking(SOCKET socket) {
    u_long nonBlocking = 1;
    ioctlsocket(socket, static_cast<long>(FIONBIO), &nonBlocking);
}

// Pumps, then waits a moment or until messages arrive.
void PumpAndWait(const MessagePump& pump) {
    pump();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
}

}  // namespace

void PumpThreadMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::string JsonEscaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

MovieDriverConnection::MovieDriverConnection(SOCKET socket, MessagePump pump)
    : m_socket(socket), m_pump(std::move(pump)) {
    MakeNonBlocking(m_socket);
}

MovieDriverConnection::~MovieDriverConnection() {
    Close();
}

void MovieDriverConnection::Send(const std::string& line) {
    const std::string data = line + "\n";
    ASSERT_EQ(send(m_socket, data.data(), static_cast<int>(data.size()), 0),
              static_cast<int>(data.size()));
}

void MovieDriverConnection::Call(const std::string& request) {
    Send("{\"call\":\"" + JsonEscaped(request) + "\"}");
}

std::string MovieDriverConnection::ReadLine() {
    const DWORD start = GetTickCount();
    for (;;) {
        const size_t end = m_buffer.find('\n');
        if (end != std::string::npos) {
            std::string line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return line;
        }
        char chunk[4096];
        const int n = recv(m_socket, chunk, sizeof(chunk), 0);
        if (n > 0) {
            m_buffer.append(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
            return "<closed>";
        }
        if (GetTickCount() - start > kMovieDriverWaitMs) {
            return "<timeout>";
        }
        PumpAndWait(m_pump);
    }
}

void MovieDriverConnection::Close() {
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
}

MovieDriverListener::MovieDriverListener(MessagePump pump) : m_pump(std::move(pump)) {
    MakeNonBlocking(m_listener.Socket());
}

std::unique_ptr<MovieDriverConnection> MovieDriverListener::Accept() {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kMovieDriverWaitMs) {
        const SOCKET s = accept(m_listener.Socket(), nullptr, nullptr);
        if (s != INVALID_SOCKET) {
            return std::make_unique<MovieDriverConnection>(s, m_pump);
        }
        PumpAndWait(m_pump);
    }
    return nullptr;
}

bool MovieDriverListener::NothingPending(DWORD waitMs) {
    Sleep(waitMs);
    const SOCKET s = accept(m_listener.Socket(), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        return true;
    }
    closesocket(s);
    return false;
}

bool MovieDriverLink::Accept() {
    m_connection = m_listener.Accept();
    return m_connection != nullptr;
}

void MovieDriverLink::Send(const std::string& line) {
    ASSERT_NE(m_connection, nullptr) << "no control connected";
    m_connection->Send(line);
}

void MovieDriverLink::Call(const std::string& request) {
    ASSERT_NE(m_connection, nullptr) << "no control connected";
    m_connection->Call(request);
}

std::string MovieDriverLink::ReadLine() {
    return m_connection != nullptr ? m_connection->ReadLine() : "<closed>";
}
