// maxhost.exe: plays 3ds Max for the plug-in. Loads the plug-in library, checks its
// entry points, creates and starts its global utility object, and runs the message loop
// on the main thread. Commands arrive on standard input and run one at a time on the
// main thread; every host operation is printed (see README.md).
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "max.h"
#include "gup.h"
#include "standins/maxhost/dialog_answerer.h"
#include "standins/maxhost/host_output.h"
#include "standins/maxhost/host_state.h"

namespace {

constexpr UINT WM_HOST_COMMAND = WM_APP + 1;

typedef const MCHAR* (*LibDescriptionFn)();
typedef int (*LibNumberClassesFn)();
typedef ClassDesc* (*LibClassDescFn)(int);
typedef ULONG (*LibVersionFn)();

struct Host {
    HMODULE library = nullptr;
    GUP* plugin = nullptr;
    bool stopped = false;
};

Host gHost;

void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

std::string Argument(const std::string& line, const std::string& command) {
    if (line.size() <= command.size()) {
        return std::string();
    }
    return line.substr(command.size() + 1);
}

bool Is(const std::string& line, const char* command) {
    const std::string word(command);
    return line == word || line.compare(0, word.size() + 1, word + " ") == 0;
}

void RunCommand(const std::string& line) {
    if (line == "menu") {
        PrintPlenthraMenus();
    } else if (Is(line, "action")) {
        const int id = std::atoi(Argument(line, "action").c_str());
        int result = 0;
        if (RunAction(id, &result)) {
            HostPrint("action %d -> %d", id, result);
        } else {
            HostPrint("action %d -> none", id);
        }
    } else if (Is(line, "scene")) {
        HostScene().currentFile = Argument(line, "scene");
        HostPrint("scene %s", HostScene().currentFile.c_str());
    } else if (Is(line, "save-as")) {
        HostScene().saveAsName = Argument(line, "save-as");
        HostPrint("save-as %s", HostScene().saveAsName.c_str());
    } else if (Is(line, "check-for-save")) {
        HostScene().checkForSaveAnswer = Argument(line, "check-for-save") != "no";
        HostPrint("check-for-save %s", HostScene().checkForSaveAnswer ? "yes" : "no");
    } else if (Is(line, "wait")) {
        const int ms = std::atoi(Argument(line, "wait").c_str());
        PumpFor(ms > 0 ? static_cast<DWORD>(ms) : 0);
        HostPrint("waited %d", ms);
    } else if (line == "start") {
        HostPrint("started -> %lu", gHost.plugin->Start());
        gHost.stopped = false;
    } else if (line == "stop") {
        gHost.plugin->Stop();
        gHost.stopped = true;
        HostPrint("stopped");
    } else if (line == "quit") {
        PostQuitMessage(0);
    } else if (!line.empty()) {
        HostPrint("unknown command %s", line.c_str());
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_HOST_COMMAND) {
        RunCommand(*reinterpret_cast<const std::string*>(lParam));
        return 0;
    }
    if (message == WM_CLOSE) {
        return 0;  // only `quit` ends the stand-in
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateMainWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "MaxHostMainWindow";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "Autodesk 3ds Max (maxhost)", WS_OVERLAPPEDWINDOW,
                           40, 40, 640, 480, nullptr, nullptr, wc.hInstance, nullptr);
}

// Each command is sent and waited for, so commands never overlap and never run inside
// one another's message boxes. End of input counts as `quit`.
void ReadCommands(HWND mainWindow) {
    std::string line;
    for (;;) {
        if (!std::getline(std::cin, line)) {
            line = "quit";
        }
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        SendMessageA(mainWindow, WM_HOST_COMMAND, 0, reinterpret_cast<LPARAM>(&line));
        if (line == "quit") {
            return;
        }
    }
}

// Loads the library and checks what 3ds Max checks before it trusts a plug-in.
bool LoadPlugin(const char* path) {
    gHost.library = LoadLibraryA(path);
    if (gHost.library == nullptr) {
        HostPrint("error cannot load %s (%lu)", path, GetLastError());
        return false;
    }
    auto description = reinterpret_cast<LibDescriptionFn>(
        reinterpret_cast<void*>(GetProcAddress(gHost.library, "LibDescription")));
    auto numberClasses = reinterpret_cast<LibNumberClassesFn>(
        reinterpret_cast<void*>(GetProcAddress(gHost.library, "LibNumberClasses")));
    auto classDesc = reinterpret_cast<LibClassDescFn>(
        reinterpret_cast<void*>(GetProcAddress(gHost.library, "LibClassDesc")));
    auto version = reinterpret_cast<LibVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(gHost.library, "LibVersion")));
    if (!description || !numberClasses || !classDesc || !version) {
        HostPrint("error missing library entry points");
        return false;
    }
    HostPrint("LibDescription -> %s", description() ? description() : "(null)");
    const ULONG libVersion = version();
    HostPrint("LibVersion -> 0x%08lX", static_cast<unsigned long>(libVersion));
    if (libVersion != VERSION_3DSMAX) {
        HostPrint("error plug-in built for another version");
        return false;
    }
    const int classes = numberClasses();
    HostPrint("LibNumberClasses -> %d", classes);
    for (int i = 0; i < classes; ++i) {
        ClassDesc* cd = classDesc(i);
        if (cd == nullptr) {
            HostPrint("LibClassDesc(%d) -> null", i);
            continue;
        }
        const Class_ID id = cd->ClassID();
        HostPrint(
            "LibClassDesc(%d) -> InternalName=%s SuperClassID=0x%lX ClassID=(0x%08lX,0x%08lX) "
            "IsPublic=%d OkToCreate=%d ClassName=%s Category=%s HInstance=%s",
            i, cd->InternalName() ? cd->InternalName() : "(null)",
            static_cast<unsigned long>(cd->SuperClassID()), static_cast<unsigned long>(id.PartA()),
            static_cast<unsigned long>(id.PartB()), cd->IsPublic(),
            cd->OkToCreate(GetCOREInterface()), cd->ClassName() ? cd->ClassName() : "(null)",
            cd->Category() ? cd->Category() : "(null)",
            cd->HInstance() == gHost.library ? "library" : "other");
        if (cd->SuperClassID() == GUP_CLASS_ID && gHost.plugin == nullptr) {
            gHost.plugin = static_cast<GUP*>(cd->Create(FALSE));
            void* again = cd->Create(TRUE);
            HostPrint("Create -> %s", again == gHost.plugin ? "same object" : "new object");
        }
    }
    // One past the last class: a plug-in must answer null.
    HostPrint("LibClassDesc(%d) -> %s", classes, classDesc(classes) ? "object" : "null");
    if (gHost.plugin == nullptr) {
        HostPrint("error no global utility class");
        return false;
    }
    HostPrint("Control -> %lu", static_cast<unsigned long>(gHost.plugin->Control(0)));
    HostPrint("Start -> %lu", static_cast<unsigned long>(gHost.plugin->Start()));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: maxhost.exe PLUGIN_PATH\n");
        return 2;
    }
    // 3ds Max's user-interface thread is an OLE apartment before any plug-in loads; a test
    // can make it a multithreaded one instead to see the plug-in's OLE failure.
    if (GetEnvironmentVariableA("MAXHOST_COM_MTA", nullptr, 0) != 0) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    } else {
        OleInitialize(nullptr);
    }
    InstallDialogAnswerer();
    HWND mainWindow = CreateMainWindow();
    if (mainWindow == nullptr) {
        HostPrint("error cannot create the main window (%lu)", GetLastError());
        return 1;
    }
    SetHostMainWindow(mainWindow);
    if (!LoadPlugin(argv[1])) {
        HostPrint("exit 1");
        return 1;
    }
    HostPrint("ready");

    std::thread reader(ReadCommands, mainWindow);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    reader.join();

    // Shutting 3ds Max down stops every global utility plug-in before it unloads it.
    if (!gHost.stopped) {
        gHost.plugin->Stop();
    }
    FreeLibrary(gHost.library);
    DestroyWindow(mainWindow);
    RemoveDialogAnswerer();
    OleUninitialize();
    HostPrint("exit 0");
    return 0;
}
