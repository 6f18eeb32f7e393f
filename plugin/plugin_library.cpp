// The plug-in library: its initialisation when 3ds Max loads it, the entry points 3ds Max
// looks for, and the static objects that live as long as the library.
#include "plugin/plugin_library.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "max.h"
#include "hostlink/host_comm_window.h"
#include "plugin/px_max9_plug.h"
#include "plugin/resource.h"
#include "plugin/scene_handoff.h"
#include "plugin/store_launcher.h"

namespace {

HINSTANCE gInstance = nullptr;
bool gOleReady = false;
bool gSocketsReady = false;

// In this order: the hand-off asks for the core interface, the host window needs the
// hand-off for what the store sends, the launcher works on the host window.
CSceneHandoff gSceneHandoff;
PXMaxHidCommWin gHostWindow(kHostId3dsMax, kPluginBuild, &gSceneHandoff);
CStoreLauncher gStoreLauncher(gHostWindow);

char gDescription[256];

bool InitializeLibrary(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    static bool customControlsReady = false;
    if (!customControlsReady) {
        customControlsReady = true;
        InitCustomControls(instance);
    }
    gInstance = instance;

    gOleReady = SUCCEEDED(OleInitialize(nullptr));
    if (!gOleReady) {
        ShowPluginMessage("AfxOleInit Error!");
        return false;
    }
    WSADATA wsaData;
    gSocketsReady = WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
    if (!gSocketsReady) {
        ShowPluginMessage(LoadPluginString(IDS_SOCKETS_FAILED));
        return false;
    }
    return true;
}

void ShutDownLibrary() {
    if (gSocketsReady) {
        WSACleanup();
        gSocketsReady = false;
    }
    if (gOleReady) {
        OleUninitialize();
        gOleReady = false;
    }
}

}  // namespace

HINSTANCE PluginInstance() {
    return gInstance;
}

PXMaxHidCommWin& HostWindow() {
    return gHostWindow;
}

CStoreLauncher& StoreLauncher() {
    return gStoreLauncher;
}

CSceneHandoff& SceneHandoff() {
    return gSceneHandoff;
}

std::string LoadPluginString(UINT id) {
    char text[1024] = "";
    LoadStringA(gInstance, id, text, sizeof(text));
    return text;
}

void ShowPluginMessage(const std::string& text) {
    Interface* core = GetCOREInterface();
    MessageBoxA(core != nullptr ? core->GetMAXHWnd() : nullptr, text.c_str(), "PXPluginMax", MB_OK);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            DisableThreadLibraryCalls(instance);
            return InitializeLibrary(instance) ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            ShutDownLibrary();
            break;
        default:
            break;
    }
    return TRUE;
}

extern "C" __declspec(dllexport) const MCHAR* LibDescription() {
    if (LoadStringA(gInstance, IDS_LIB_DESCRIPTION, gDescription, sizeof(gDescription)) <= 0) {
        gDescription[0] = '\0';
    }
    return gDescription;
}

extern "C" __declspec(dllexport) int LibNumberClasses() {
    return 1;
}

extern "C" __declspec(dllexport) ClassDesc* LibClassDesc(int i) {
    return i == 0 ? GetPXMax9PlugDesc() : nullptr;
}

extern "C" __declspec(dllexport) ULONG LibVersion() {
    return VERSION_3DSMAX;
}
