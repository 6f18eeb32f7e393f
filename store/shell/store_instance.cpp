// The single-instance rule of the store. The counter lives in a section of its own that
// the linker marks shared, so every process started from the same program file sees the
// same four bytes.
#include "store/shell/store_instance.h"

#include "hostlink/host_link_codes.h"
#include "hostlink/host_link_text.h"
#include "hostlink/link_workers.h"
#include "store/shell/store_command_line.h"

namespace {

constexpr char kMainWindowTitle[] = "Vellamar";

}  // namespace

// Section names are limited to 8 characters; "PXStoreS" is exactly that.
__attribute__((section("PXStoreS"), shared)) volatile LONG gStoreInstanceCount = 0;

bool ClaimFirstInstance(LONG* valueSeen) {
    for (;;) {
        const LONG seen = gStoreInstanceCount;
        if (seen != 0) {
            if (valueSeen != nullptr) {
                *valueSeen = seen;
            }
            return false;
        }
        if (InterlockedCompareExchange(&gStoreInstanceCount, seen + 1, seen) == seen) {
            if (valueSeen != nullptr) {
                *valueSeen = seen;
            }
            return true;
        }
        // Another store changed the counter between our read and our exchange: read again.
    }
}

void RunSecondInstance(const std::string& commandLine, LONG counterValue,
                       const SecondInstanceOptions& options) {
    Sleep(options.baseDelayMs);
    if (counterValue > 0) {
        Sleep(static_cast<DWORD>(counterValue));
    }

    const HWND mainWindow = FindWindowA(nullptr, kMainWindowTitle);
    if (mainWindow == nullptr) {
        return;
    }
    ShowWindow(mainWindow, SW_RESTORE);
    ShowWindow(mainWindow, SW_SHOW);
    SetForegroundWindow(mainWindow);
    // Topmost and at once not topmost again lifts it above every other window, even
    // when this process is not allowed to take the foreground.
    RECT rect;
    if (GetWindowRect(mainWindow, &rect)) {
        const int width = rect.right - rect.left;
        const int height = rect.bottom - rect.top;
        SetWindowPos(mainWindow, HWND_TOPMOST, rect.left, rect.top, width, height, SWP_SHOWWINDOW);
        SetWindowPos(mainWindow, HWND_NOTOPMOST, rect.left, rect.top, width, height,
                     SWP_SHOWWINDOW);
    }

    if (!IsDrivePath(commandLine)) {
        return;
    }
    TextSendRequest request;
    request.peerTitle = StoreWindowTitle();
    request.code = PXCD_SAVE_FILE;
    request.text = commandLine;
    request.senderWindow = nullptr;  // wParam 0: no window of ours to answer to
    SendTextToPeer(request);
}
