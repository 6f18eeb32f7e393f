// A listening TCP socket on 127.0.0.1 with a free port of its own, for the servers the
// tests play themselves (the movie driver, a proxy, a server that never answers). Winsock
// is started for the listener's life. Windows only.
#pragma once

#include <winsock2.h>

class LoopbackListener {
public:
    LoopbackListener() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            listen(m_socket, 4) == 0 &&
            getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~LoopbackListener() {
        Close();
        WSACleanup();
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    SOCKET Socket() const { return m_socket; }
    // 0 when no port could be had.
    int Port() const { return m_port; }
    // Stops listening: an accept blocked on the socket returns, and the port is free again.
    void Close() {
        if (m_socket != INVALID_SOCKET) {
            closesocket(m_socket);
            m_socket = INVALID_SOCKET;
        }
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
    int m_port = 0;
};
