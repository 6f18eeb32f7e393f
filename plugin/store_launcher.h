// Makes sure the store program runs before an action talks to it: finds the store's
// window, creates the plug-in's host window, starts PXStore.exe from its installation
// folder with the host identity on its command line, and waits for the store's window.
#pragma once

class PXMaxHidCommWin;

class CStoreLauncher {
public:
    explicit CStoreLauncher(PXMaxHidCommWin& hostWindow) : m_hostWindow(hostWindow) {}

    // True when the store runs (and, with `wait`, its window was seen).
    bool ensureStore(bool wait, bool hidden);
    // Starts the store unless its window exists. Blocks up to 20 s with `wait`.
    bool launchStore(bool wait, bool hidden);
    // Sends PXCD_PLUGIN_BUILD from a worker; false when no worker could be started.
    bool sendBuildNumbers();
    // A 32-bit 3ds Max on 64-bit Windows; false where IsWow64Process does not exist.
    static bool isWow64();

private:
    PXMaxHidCommWin& m_hostWindow;
};
