// CDownloadProgress: the modeless window that shows a program download's progress and
// lets the user cancel it. The user-interface thread creates and closes it; the download
// worker reads the running flag and updates the bar and the size line directly.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

class CDownloadProgress {
public:
    CDownloadProgress() = default;
    ~CDownloadProgress();
    CDownloadProgress(const CDownloadProgress&) = delete;
    CDownloadProgress& operator=(const CDownloadProgress&) = delete;

    // Creates the window from template 106 without a parent, moves it to the top-left
    // corner of `mainWindow` (when there is one), shows it, sets the bar's range to 0-100
    // and the texts for a required or an optional update. False when the window could not
    // be made.
    bool Create(HWND mainWindow, bool required);
    // Moves the window the same way, hides and destroys it.
    void Close(HWND mainWindow);

    // True from construction until Cancel is pressed or the window is destroyed.
    bool IsRunning() const { return m_running.load(); }
    void Cancel() { m_running.store(false); }

    // From the worker thread: the bar's position and the size line (repainted at once).
    void SetPercent(int percent) const;
    void SetSizeText(const std::string& text) const;

    HWND Window() const { return m_window.load(); }

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void MoveToCorner(HWND mainWindow) const;

    std::atomic<bool> m_running{true};
    std::atomic<HWND> m_window{nullptr};
};

// A text of the updater's string table, or `fallback` when the program has none.
std::string UpdaterText(UINT id, const char* fallback);
