// CUpdateChecker: the store's update check. WM_PX_CHECK_UPDATE (from a host) marks it busy
// and, through the main window, starts a check on the user-interface thread: the
// configuration service's descriptor is fetched into transfer directory +
// "\Updates\PXUpdate.xml", and depending on its AerinPluginUpdateLink the user hears that
// there is nothing new, is offered an optional update, or a required update is fetched
// and started straight away. Further check requests are dropped while one runs.
//
// Everything here runs on the user-interface thread that owns the store's message
// window; the downloads run on workers of their own (update_download.h).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "store/updater/update_urls.h"
#include "store/updater/updater_host.h"

class UpdaterState;

class CUpdateChecker {
public:
    explicit CUpdateChecker(IUpdaterHost& host);
    ~CUpdateChecker();
    CUpdateChecker(const CUpdateChecker&) = delete;
    CUpdateChecker& operator=(const CUpdateChecker&) = delete;

    // True while a check or an update download is in progress.
    bool IsBusy() const;
    // The WM_PX_CHECK_UPDATE handler calls this before the check starts.
    void MarkBusy();
    // A marked check that could not be started after all (the store is closing, or no
    // worker could be made): the next request must not be refused as busy.
    void ClearBusy();
    // The build the plug-in reported (PXCD_PLUGIN_BUILD); 1.0.0 until then.
    void SetPluginVersion(int ver, int major, int minor);
    // Fetches the descriptor: the next check number, the service URL, the download.
    void StartUpdateCheck(bool silent);
    // WM_PX_UPDATE_DESCRIPTOR .. WM_PX_CLOSE_PROGRESS arriving at the message window.
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The store is closing: cancels a running download, waits a bounded time for the
    // workers (delivering the messages they send meanwhile) and closes the progress window.
    void Shutdown();

    // The service URL the last check asked for ("" before the first).
    const std::string& LastServiceUrl() const { return m_lastServiceUrl; }

private:
    void OnUpdateDescriptor(const std::string& path, bool silent);
    void StartProgramDownload(const std::string& link);
    void ShowProgress();
    void CloseProgress();
    void RunDownloaded(const std::string& path);
    void Track(HANDLE worker);
    void CloseFinishedWorkers();

    IUpdaterHost& m_host;
    std::shared_ptr<UpdaterState> m_state;
    PluginVersion m_version;
    int m_checkCounter = 0;
    std::string m_lastServiceUrl;
    std::vector<HANDLE> m_workers;
};
