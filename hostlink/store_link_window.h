// The store program's end of the host link: the hidden window `CPXHidMessageWin` that
// hosts find by title, what each of their messages does, and the store's own calls to
// its host (greeting, texts, the host query). The effects live in the main window, the
// updater and the camera shelf; the window reaches them through IStoreLinkActions.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

#include "hostlink/link_workers.h"

// Everything here is called on the store's user-interface thread (the thread that
// created the window).
class IStoreLinkActions {
public:
    virtual ~IStoreLinkActions() = default;

    // Clears the hide flag and raises the main window (topmost, then not topmost).
    virtual void BringToFront() = 0;
    // Raises the main window the same way without touching the hide flag.
    virtual void Restack() = 0;
    virtual void ShowStore() = 0;
    virtual void ShowMyFiles() = 0;
    // Starts the save-to-store flow; `longPath` is already expanded, or empty.
    virtual void SaveFile(const std::string& longPath) = 0;
    // True while an update check or download runs; a new check request is then dropped.
    virtual bool IsUpdateBusy() = 0;
    virtual void CheckForUpdate(bool silent) = 0;
    virtual void ShowCameraShelf() = 0;
    virtual void HostIdentity(int hostId, int hostPid) = 0;
    // A host answered a query; the pending QueryHost call also receives the text.
    virtual void HostReply(const std::string& fileName) = 0;
    virtual void PluginBuild(int ver, int major, int minor) = 0;
    // Ends the store: posts WM_QUIT to the main window's thread.
    virtual void QuitStore() = 0;
    // The updater's own messages (WM_PX_UPDATE_DESCRIPTOR .. WM_PX_CLOSE_PROGRESS).
    virtual LRESULT UpdateFlowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
        (void)message;
        (void)wParam;
        (void)lParam;
        return 0;
    }
};

// The host query waits this long for PXCD_HOST_REPLY. The 3ds Max plug-in never
// replies, so the wait must end; ten seconds is long enough for a host that renders a
// picture first and short enough for the movie that asked.
constexpr DWORD kHostQueryTimeoutMs = 10000;
constexpr DWORD kHostQueryPollMs = 500;
constexpr DWORD kHostGoneDelayMs = 2000;

class CPXHidMessageWin {
public:
    explicit CPXHidMessageWin(IStoreLinkActions* actions);
    ~CPXHidMessageWin();
    CPXHidMessageWin(const CPXHidMessageWin&) = delete;
    CPXHidMessageWin& operator=(const CPXHidMessageWin&) = delete;

    // Creates the store window on the calling thread, which must run a message loop.
    bool Create();
    // Destroys the window (on its own thread) and waits for the link's workers.
    void Destroy();
    HWND Window() const { return m_window; }

    static HWND FindHostWindow(int hostId);
    // Host windows of any host ID 1 to 14 that exist now.
    static int CountLiveHosts();

    // Posts WM_PX_HOST_HELLO to the host's window from a worker. False when no worker
    // could be started.
    bool PostHostHello(int hostId);
    // Sends a text (PXCD_OPEN_FILE and the like) to the host's window from a worker.
    bool SendTextToHost(int hostId, UINT code, const std::string& text, HWND senderWindow);
    // Asks the host for a reply text: sends WM_PX_QUERY_HOST, then polls every 500 ms
    // for PXCD_HOST_REPLY. Gives the reply, or an empty text when the host is missing, did
    // not take the query within kPeerSendTimeoutMs (its thread is busy) or has not replied
    // within `timeoutMs`. Call it on the window's thread (replies sent
    // meanwhile are delivered while it polls) or on any other thread.
    std::string QueryHost(int hostId, DWORD timeoutMs = kHostQueryTimeoutMs);

    // Waits for the greeting and sender workers started by this object.
    void WaitForWorkers() { m_workers.WaitAll(); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void HandleCopyData(LPARAM lParam);
    void HandleHostGone();

    IStoreLinkActions* m_actions;
    HWND m_window = nullptr;
    CLinkWorkers m_workers;
    bool m_quitRequested = false;

    // Host query state: the reply clears the busy flag, the query sets it again.
    std::mutex m_queryLock;
    bool m_queryBusy = true;
    std::string m_queryReply;
};
