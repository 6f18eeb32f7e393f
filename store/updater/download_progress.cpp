// The progress window of a program download.
#include "store/updater/download_progress.h"

#include <commctrl.h>

#include "store/updater/download_progress_ids.h"

std::string UpdaterText(UINT id, const char* fallback) {
    char text[512];
    const int length = LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string(fallback);
}

CDownloadProgress::~CDownloadProgress() {
    // Closed by the user-interface thread in every normal course; a window still open here
    // must at least stop reaching this object.
    const HWND window = m_window.exchange(nullptr);
    if (window != nullptr) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
            DestroyWindow(window);
        }
    }
}

bool CDownloadProgress::Create(HWND mainWindow, bool required) {
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    const HWND window =
        CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DOWNLOAD_PROGRESS),
                           nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
    if (window == nullptr) {
        return false;
    }
    m_window.store(window);
    // The texts go in before the window shows, so that nobody sees the template's.
    if (required) {
        SetWindowTextA(
            window,
            UpdaterText(IDS_UPDATE_REQUIRED_CAPTION, "Downloading Required Update").c_str());
        SetDlgItemTextA(
            window, IDC_DOWNLOAD_MESSAGE_LINE,
            UpdaterText(IDS_UPDATE_REQUIRED_MESSAGE, "Downloading a required update for Plenthra")
                .c_str());
    } else {
        SetDlgItemTextA(
            window, IDC_DOWNLOAD_MESSAGE_LINE,
            UpdaterText(IDS_UPDATE_OPTIONAL_MESSAGE, "Downloading the latest version of Plenthra")
                .c_str());
    }
    MoveToCorner(mainWindow);
    ShowWindow(window, SW_SHOW);
    SendDlgItemMessageA(window, IDC_DOWNLOAD_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    return true;
}

void CDownloadProgress::Close(HWND mainWindow) {
    const HWND window = m_window.load();
    if (window == nullptr) {
        return;
    }
    MoveToCorner(mainWindow);
    ShowWindow(window, SW_HIDE);
    DestroyWindow(window);
    m_window.store(nullptr);
}

void CDownloadProgress::SetPercent(int percent) const {
    const HWND window = m_window.load();
    if (window != nullptr) {
        SendDlgItemMessageA(window, IDC_DOWNLOAD_PROGRESS_BAR, PBM_SETPOS,
                            static_cast<WPARAM>(percent), 0);
    }
}

void CDownloadProgress::SetSizeText(const std::string& text) const {
    const HWND window = m_window.load();
    if (window == nullptr) {
        return;
    }
    const HWND line = GetDlgItem(window, IDC_DOWNLOAD_SIZE_LINE);
    if (line != nullptr) {
        SetWindowTextA(line, text.c_str());
        RedrawWindow(line, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
}

void CDownloadProgress::MoveToCorner(HWND mainWindow) const {
    const HWND window = m_window.load();
    RECT corner;
    if (window == nullptr || mainWindow == nullptr || !GetWindowRect(mainWindow, &corner)) {
        return;
    }
    SetWindowPos(window, nullptr, corner.left, corner.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CDownloadProgress::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    auto* self = reinterpret_cast<CDownloadProgress*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            return TRUE;
        case WM_COMMAND:
            // Only Cancel (the button, Escape or the close box) stops the download; the
            // window stays until the worker has seen it and asks for it to close.
            if (LOWORD(wParam) == IDCANCEL && self != nullptr) {
                self->Cancel();
            }
            return TRUE;
        case WM_DESTROY:
            if (self != nullptr) {
                self->Cancel();
                SetWindowLongPtrA(dialog, DWLP_USER, 0);
            }
            return FALSE;
        default:
            return FALSE;
    }
}
