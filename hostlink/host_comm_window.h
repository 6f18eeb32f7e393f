// A host plug-in's end of the host link: the hidden window `PXMaxHidCommWin` that the
// store finds by the host's title, and the host's calls to the store. The plug-in owns
// one static object; the window appears the first time a menu action needs the store.
#pragma once

#include <windows.h>

#include <string>

#include "hostlink/host_link_text.h"
#include "hostlink/link_workers.h"

// Called on the thread that created the host window (3ds Max's user-interface thread).
class IHostLinkActions {
public:
    virtual ~IHostLinkActions() = default;
    virtual void OpenFile(const std::string& path) = 0;
    virtual void SaveThumbnails(const std::string& folder) = 0;
};

constexpr DWORD kHelloUpdateDelayMs = 500;

class PXMaxHidCommWin {
public:
    // Prepares the titles and the identity text; creates no window yet.
    PXMaxHidCommWin(int hostId, const PluginBuild& build, IHostLinkActions* actions);
    // Destroys the window if it still exists, tells the store once more that the host
    // is gone and waits for the sender workers. The plug-in should call Close() from its
    // own stop code already: a DLL's static destructors run under the loader lock.
    ~PXMaxHidCommWin();
    PXMaxHidCommWin(const PXMaxHidCommWin&) = delete;
    PXMaxHidCommWin& operator=(const PXMaxHidCommWin&) = delete;

    // Creates the host window on the calling thread unless it exists. False on failure.
    bool EnsureWindow();
    // Destroys the window (which tells the store the host is gone) and waits for the
    // sender workers.
    void Close();
    HWND Window() const { return m_window; }

    int HostId() const { return m_hostId; }
    const std::string& Title() const { return m_title; }
    // "APPHOSTID <id> APPPID <process id>": the store's command line and identity text.
    const std::string& IdentityText() const { return m_identity; }

    static HWND FindStoreWindow();
    // Posts a plain message to the store window; false when the store window is missing.
    static bool PostToStore(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Sends a text to the store from a worker, with the host window as sender.
    bool SendTextToStore(UINT code, const std::string& text);
    bool SendBuild() { return SendTextToStore(PXCD_PLUGIN_BUILD, m_buildText); }
    bool SendIdentity() { return SendTextToStore(PXCD_HOST_IDENTITY, m_identity); }

    void WaitForSenders() { m_workers.WaitAll(); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const int m_hostId;
    IHostLinkActions* m_actions;
    const std::string m_title;
    const std::string m_identity;
    const std::string m_buildText;
    HWND m_window = nullptr;
    CLinkWorkers m_workers;
};
