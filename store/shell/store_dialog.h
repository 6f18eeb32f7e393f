// CPXStoreDlg: the store's main window. A dialog whose client area is the Flash control
// playing the store movie; it owns the start-up sequence, the transfer manager, the host
// link's hidden window, the pushes other parts ask for, files dropped on it, files dragged
// out of the movie, the About box and the orderly close.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "hostlink/link_workers.h"
#include "hostlink/store_link_window.h"
#include "store/files/camera_shelf.h"
#include "store/files/store_identity.h"
#include "store/shell/flash_call_handler.h"
#include "store/shell/movie_ready_requests.h"
#include "store/shell/settings_commands.h"
#include "store/shell/shockwave_flash.h"
#include "store/shell/store_command_line.h"
#include "store/shell/store_settings.h"
#include "store/transfers/real_transfer_runner.h"
#include "store/transfers/store_transfer_host.h"
#include "store/transfers/transfer_manager.h"
#include "store/updater/update_checker.h"
#include "store/updater/updater_host.h"

// The movie file loaded from the installation folder.
extern const char kStoreMovieName[];
// The About box's build line.
constexpr int kStoreBuildVersion = 1;
constexpr int kStoreBuildMajor = 0;
constexpr int kStoreBuildMinor = 25;
// How often the drag-out watcher looks at the mouse.
constexpr DWORD kDragOutWatchMs = 300;

class CPXStoreDlg : public IStoreLinkActions,
                    public IStoreIdentity,
                    public IStoreSettingsHost,
                    public IDragOutSink,
                    public ICameraShelfHost,
                    public IUpdaterHost {
public:
    explicit CPXStoreDlg(const StoreCommandLine& commandLine);
    ~CPXStoreDlg() override;
    CPXStoreDlg(const CPXStoreDlg&) = delete;
    CPXStoreDlg& operator=(const CPXStoreDlg&) = delete;

    // Creates the dialog from its template, runs it until it ends (close box, or the host
    // link ending the store), then closes everything down. The calling thread must have
    // called OleInitialize. Returns 0, or 1 when the window could not be created.
    int RunModal();

    HWND Window() const { return m_window; }

    // PostWhenMovieReady: kinds of MovieRequestKind.
    bool PostWhenMovieReady(int kind, const std::string& text = std::string());
    // Expands `path` to its long form (empty when that fails) and offers it for saving.
    void OfferFileForSaving(const std::string& path);

    // IStoreIdentity, IStoreSettingsHost, ICameraShelfHost, IUpdaterHost
    int HostId() const override { return m_hostId.load(); }
    HWND MainWindow() const override { return m_window; }
    void SetMovieReady() override { m_movieReady.store(true); }

    // IUpdaterHost (user-interface thread)
    HWND MessageWindow() const override { return m_link ? m_link->Window() : nullptr; }
    std::string UpdateHost() const override { return m_settings.updateHost; }

    // ICameraShelfHost, IUpdaterHost (user-interface thread)
    std::string TransferDirectory() const override { return m_settings.userCacheFolder; }
    std::string InstallFolder() const override { return m_settings.installFolder; }
    CPXHidMessageWin* LinkWindow() override { return m_link.get(); }
    ITransferStatusSource* TransferStatus() override { return m_transfers.get(); }

    // IDragOutSink (user-interface thread)
    void SetPendingDragOutList(const std::string& list) override;

    // IStoreLinkActions (user-interface thread)
    void BringToFront() override;
    void Restack() override;
    void ShowStore() override;
    void ShowMyFiles() override;
    void SaveFile(const std::string& longPath) override;
    bool IsUpdateBusy() override;
    void CheckForUpdate(bool silent) override;
    void ShowCameraShelf() override;
    void HostIdentity(int hostId, int hostPid) override;
    void HostReply(const std::string& fileName) override;
    void PluginBuild(int ver, int major, int minor) override;
    void QuitStore() override;
    LRESULT UpdateFlowMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Dialog keys and the like before dispatch; true when the message is done with.
    bool PreTranslate(MSG& msg);

    void OnInitDialog();
    void PlaceWindowAndControl();
    void CreateFlashControl();
    void OnDropFiles(HDROP drop);
    void OnBeginDragOut(const std::string& list);
    // The four messages that carry a text: only texts this store posted are taken.
    void OnTextMessage(UINT message, WPARAM wParam);
    void OnWindowPosChanging(WINDOWPOS* position);
    void OnClose();
    void CloseDown();
    void RaiseWindow();

    void StartDragOutWatcher();
    void StopDragOutWatcher();
    void WatchDragOut(RECT controlRect);

    StoreSettings m_settings;
    std::atomic<int> m_hostId;
    std::atomic<int> m_hostProcessId;
    std::atomic<bool> m_hidden;
    std::string m_startupFilePath;
    HICON m_icon = nullptr;
    HWND m_window = nullptr;
    bool m_ended = false;
    bool m_closedDown = false;

    std::atomic<bool> m_movieReady{false};
    MovieReadyRequests m_requests;

    CShockwaveflash1 m_flash;
    CLinkWorkers m_openWorkers;
    RealTransferRunner m_runner;
    std::unique_ptr<StoreTransferHost> m_transferHost;
    std::unique_ptr<TransferManager> m_transfers;
    std::unique_ptr<CPXHidMessageWin> m_link;
    CameraShelves m_shelves;
    CUpdateChecker m_updater;

    std::mutex m_dragOutLock;
    std::string m_pendingDragOut;
    std::atomic<bool> m_watcherRunning{false};
    HANDLE m_watcherStop = nullptr;
    HANDLE m_watcherDone = nullptr;  // set by the watcher as its last act
    std::thread m_watcher;
};
