// The control's optional connection to a test driver (PX_MOVIE_DRIVER): a socket
// speaking JSON Lines, read by a thread of its own that posts each driver call to the
// control's window, so the call is raised from the window's message loop.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

namespace pxflash {

// Posted to the notify window: lParam is a heap std::u16string with the request that
// the receiver deletes (DriverLink::DiscardPosted deletes the ones never received).
constexpr UINT WM_PXFLASH_CALL = WM_APP + 0x31;
// Posted when the driver closed the connection or it failed.
constexpr UINT WM_PXFLASH_DRIVER_GONE = WM_APP + 0x32;
// Posted for the driver's {"report":"host"}: the control reports what its host told it.
constexpr UINT WM_PXFLASH_REPORT = WM_APP + 0x33;

class DriverLink {
public:
    DriverLink();
    ~DriverLink();
    DriverLink(const DriverLink&) = delete;
    DriverLink& operator=(const DriverLink&) = delete;

    // address is "127.0.0.1:PORT". Returns false with a reason when it cannot connect.
    bool Connect(const std::string& address, HWND notify, std::string& error);
    bool IsConnected() const { return socket_ != INVALID_SOCKET; }

    // One line to the driver (the line break is added). Callable from any thread;
    // a failure to send only means the driver is gone.
    void SendLine(const std::string& line);

    // Closes the socket and waits for the reader thread; afterwards nothing more is
    // posted. Safe to call more than once.
    void Close();

    // Removes and frees the call messages still queued for window.
    static void DiscardPosted(HWND window);

private:
    static DWORD WINAPI ReaderMain(void* self);
    void Read();
    void HandleLine(const std::string& line);

    SOCKET socket_ = INVALID_SOCKET;
    HANDLE reader_ = nullptr;
    // Set to end the reader: a blocked recv is not reliably woken by shutdown.
    HANDLE stop_ = nullptr;
    HWND notify_ = nullptr;
    bool winsockStarted_ = false;
    CRITICAL_SECTION sendLock_;
};

}  // namespace pxflash
