// Win32 side of the two hidden windows: creating a message-only window the way both
// deliverables must, finding the peer by its title, opening the window to senders of
// lower integrity, and reading a WM_COPYDATA safely.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// The module that holds this code: the plug-in DLL registers its class under its own
// module, not under the executable that loaded it.
HINSTANCE LinkModule();

// Registers the class (default attributes) once and creates the window: ex-style 0,
// style 0, position and size 0, parent HWND_MESSAGE, no menu, no creation data. `owner`
// goes into GWLP_USERDATA before the call returns. Returns null on failure.
HWND CreateMessageOnlyWindow(const char* className, const char* title, WNDPROC proc, void* owner);

// Undoes the registration when the last window of the class is gone; a DLL's classes
// otherwise outlive the DLL with a dangling window procedure.
void UnregisterMessageWindowClass(const char* className);

HWND FindMessageWindow(const char* title);

// An elevated 3ds Max would otherwise never see a message from a non-elevated store (and
// the other way round). Uses ChangeWindowMessageFilterEx where user32 has it; elsewhere
// there is no filter to open and nothing is done.
void AllowLowerIntegritySenders(HWND window, const UINT* messages, std::size_t count);

// The text of a WM_COPYDATA, read with no trust in the sender (see ReadPayload). A null
// COPYDATASTRUCT gives code 0 and an empty text.
struct ReceivedText {
    ULONG_PTR code = 0;
    std::string text;
};
ReceivedText ReadCopyData(LPARAM lParam);

// Waits for `handle` while delivering messages that other threads send to this thread,
// so that a worker blocked in SendMessage to one of this thread's windows can finish.
// Posted messages stay queued. Gives up after `timeoutMs` (false); true when signalled.
bool WaitDeliveringSentMessages(HANDLE handle, DWORD timeoutMs = INFINITE);

// Lets messages that other threads send to this thread through for up to `ms` ms.
void SleepDeliveringSentMessages(DWORD ms);
