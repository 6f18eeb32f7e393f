// The movie driver's end of the Flash control stand-in's links, played by tests: a
// listening socket on 127.0.0.1 (any free port) that each control connects to when
// PX_MOVIE_DRIVER names its address, with JSON lines both ways. Every wait runs the
// given message pump, because a control raises FlashCall from the loop of the thread
// that made it; waits give up after kMovieDriverWaitMs.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/loopback_listener.h"

constexpr DWORD kMovieDriverWaitMs = 10000;

// Handles the messages waiting for this thread once; called over and over while waiting.
using MessagePump = std::function<void()>;

// Translates and dispatches every message waiting for this thread.
void PumpThreadMessages();

// `text` with backslashes and double quotes escaped, for a JSON string.
std::string JsonEscaped(const std::string& text);

// One accepted connection of a control.
class MovieDriverConnection {
public:
    MovieDriverConnection(SOCKET socket, MessagePump pump);
    ~MovieDriverConnection();
    MovieDriverConnection(const MovieDriverConnection&) = delete;
    MovieDriverConnection& operator=(const MovieDriverConnection&) = delete;

    // Sends `line` and a line break; a test failure unless all of it went.
    void Send(const std::string& line);
    // Sends {"call":"<request>"}.
    void Call(const std::string& request);
    // The next line without its line break, or "<closed>" / "<timeout>".
    std::string ReadLine();
    void Close();

private:
    SOCKET m_socket;
    MessagePump m_pump;
    std::string m_buffer;
};

class MovieDriverListener {
public:
    explicit MovieDriverListener(MessagePump pump = PumpThreadMessages);
    MovieDriverListener(const MovieDriverListener&) = delete;
    MovieDriverListener& operator=(const MovieDriverListener&) = delete;

    int Port() const { return m_listener.Port(); }
    // "127.0.0.1:<port>", as PX_MOVIE_DRIVER takes it.
    std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }
    // The next control's connection; null when none came in time.
    std::unique_ptr<MovieDriverConnection> Accept();
    // True when nobody connected within `waitMs` (messages are not pumped meanwhile).
    bool NothingPending(DWORD waitMs);

private:
    LoopbackListener m_listener;
    MessagePump m_pump;
};

// The listener and the one connection of a test with a single control.
class MovieDriverLink {
public:
    explicit MovieDriverLink(MessagePump pump = PumpThreadMessages) : m_listener(pump) {}

    std::string Address() const { return m_listener.Address(); }
    bool Accept();
    void Send(const std::string& line);
    void Call(const std::string& request);
    // As MovieDriverConnection::ReadLine; "<closed>" before a connection was accepted.
    std::string ReadLine();

private:
    MovieDriverListener m_listener;
    std::unique_ptr<MovieDriverConnection> m_connection;
};
