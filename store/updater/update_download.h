// The updater's downloader: fetches one file over WinInet on a worker thread of its own,
// saves it under the transfer directory and reports to the store's message window. A
// program download shows the progress window (WM_PX_SHOW_PROGRESS / WM_PX_CLOSE_PROGRESS,
// sent to the message window, whose handler owns the window) and can be cancelled there;
// a finished download posts its completion code with the saved file's path as a posted
// text (PostTextMessage: a token in wParam, never a pointer).
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CDownloadProgress;

// Caption of the messages the download worker shows itself.
extern const char kUpdaterMessageCaption[];

// State the update check on the user-interface thread shares with its download workers.
// Each worker holds it as well, so it outlives a checker that went first.
class UpdaterState {
public:
    // A check or download is in progress; new check requests are dropped meanwhile.
    std::atomic<bool> busy{false};
    // The update being fetched is a required one (chooses the progress window's texts).
    std::atomic<bool> required{false};
    // The store is closing: workers show nothing more and post nothing.
    std::atomic<bool> closing{false};

    // The progress window between WM_PX_SHOW_PROGRESS and WM_PX_CLOSE_PROGRESS.
    std::shared_ptr<CDownloadProgress> Progress();
    void SetProgress(std::shared_ptr<CDownloadProgress> progress);
    std::shared_ptr<CDownloadProgress> TakeProgress();

    // Internet sessions of running workers. Closing a session from another thread ends the
    // worker's blocked calls, which is how a closing store stops its downloads.
    // Registers a session; false once the store is closing (the caller closes it then).
    bool AddSession(void* session);
    // Unregisters a session; true when it was still registered and the caller closes it.
    bool RemoveSession(void* session);
    // Unregisters and closes every session.
    void CloseSessions();

private:
    std::mutex m_lock;
    std::shared_ptr<CDownloadProgress> m_progress;
    std::vector<void*> m_sessions;
};

// One download, owned and freed by its worker.
struct UpdateDownloadRequest {
    HWND window = nullptr;  // the store's message window
    std::string server;
    int port = 80;
    bool secure = false;
    std::string objectPath;
    std::string destination;  // the file to write, or the folder for a name from the server
    bool nameFromServer = false;
    UINT completionCode = 0;  // WM_PX_UPDATE_DESCRIPTOR(_SILENT) or WM_PX_RUN_DOWNLOADED
    std::string transferDirectory;
    std::shared_ptr<UpdaterState> state;
};

// Splits `url`, makes sure transfer directory + "\Updates\temp" exists and starts the
// worker. An empty `destination` lets the server name the file inside that folder. A link
// with another scheme than http:// or https:// is dropped silently with the busy flag
// cleared; so is a request whose worker cannot start. Returns the worker's thread handle
// (the caller closes it), or null when nothing was started.
HANDLE StartUpdateDownload(const std::shared_ptr<UpdaterState>& state, HWND window,
                           const std::string& url, UINT completionCode,
                           const std::string& destination, const std::string& transferDirectory);
