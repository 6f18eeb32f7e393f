// The store launcher of the plug-in.
#include "plugin/store_launcher.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "hostlink/host_comm_window.h"
#include "plugin/launcher_rules.h"
#include "plugin/plugin_library.h"

bool CStoreLauncher::ensureStore(bool wait, bool hidden) {
    // The host window comes first even when the store already runs: the texts the plug-in
    // sends name it as their sender, and the store can only hand files back to a host
    // whose window exists.
    m_hostWindow.EnsureWindow();
    if (PXMaxHidCommWin::FindStoreWindow() != nullptr) {
        return true;
    }
    return launchStore(wait, hidden);
}

bool CStoreLauncher::launchStore(bool wait, bool hidden) {
    if (PXMaxHidCommWin::FindStoreWindow() != nullptr) {
        return true;
    }
    char windowsDirectory[1024] = "";
    const UINT length = GetSystemWindowsDirectoryA(windowsDirectory, sizeof(windowsDirectory));
    const std::string folder = StoreInstallFolder(
        length > 0 && length < sizeof(windowsDirectory) ? windowsDirectory : "", isWow64());
    // This changes 3ds Max's own current directory; the store relies on being started there.
    SetCurrentDirectoryA(folder.c_str());
    const std::string parameters = StoreParameters(m_hostWindow.IdentityText(), hidden);
    const HINSTANCE started = ShellExecuteA(nullptr, "open", kStoreProgram, parameters.c_str(),
                                            folder.c_str(), SW_SHOWDEFAULT);
    if (reinterpret_cast<INT_PTR>(started) <= 32) {
        ShowPluginMessage("Unable to open PXStore.exe!");
        return false;
    }
    if (!wait) {
        return true;
    }
    for (int attempt = 0; attempt < kStoreWaitAttempts; ++attempt) {
        Sleep(kStoreWaitStepMs);
        if (PXMaxHidCommWin::FindStoreWindow() != nullptr) {
            return true;
        }
    }
    return false;
}

bool CStoreLauncher::sendBuildNumbers() {
    return m_hostWindow.SendBuild();
}

bool CStoreLauncher::isWow64() {
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32");
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}
