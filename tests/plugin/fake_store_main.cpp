// A stand-in PXStore.exe for the launcher tests: placed in the store's installation
// folder, it records how it was started (arguments, current directory) and everything
// its store window receives in the file named by PX_FAKE_STORE_LOG, one line each.
//   PX_FAKE_STORE_WINDOW_DELAY_MS  create the window this late (the launcher must wait)
//   PX_FAKE_STORE_NO_WINDOW        never create it
// It ends when the named event PXFakeStoreQuit is set, or after a minute at the latest.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/plugin/store_window_recorder.h"

namespace {

constexpr char kQuitEventName[] = "PXFakeStoreQuit";
constexpr DWORD kLifetimeMs = 60000;

std::string gLogPath;

void Log(const std::string& line) {
    FILE* log = std::fopen(gLogPath.c_str(), "ab");
    if (log == nullptr) {
        return;
    }
    std::fprintf(log, "%s\n", line.c_str());
    std::fclose(log);
}

std::string Environment(const char* name) {
    char value[1024] = "";
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? value : "";
}

// Runs the loop until the quit event is set or the deadline passes; false on the deadline.
bool RunUntilQuit(HANDLE quitEvent, DWORD untilTick) {
    for (;;) {
        const DWORD now = GetTickCount();
        if (static_cast<LONG>(untilTick - now) <= 0) {
            return false;
        }
        const DWORD wait =
            MsgWaitForMultipleObjects(1, &quitEvent, FALSE, untilTick - now, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) {
            return true;
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    gLogPath = Environment("PX_FAKE_STORE_LOG");
    if (gLogPath.empty()) {
        return 2;
    }
    const DWORD deadline = GetTickCount() + kLifetimeMs;
    HANDLE quitEvent = CreateEventA(nullptr, TRUE, FALSE, kQuitEventName);
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof(directory), directory);
    Log(std::string("start ") + commandLine);
    Log(std::string("cwd ") + directory);

    StoreWindowRecorder recorder(Log);
    bool quit = false;
    if (Environment("PX_FAKE_STORE_NO_WINDOW").empty()) {
        const int delay = std::atoi(Environment("PX_FAKE_STORE_WINDOW_DELAY_MS").c_str());
        quit = delay > 0 && RunUntilQuit(quitEvent, GetTickCount() + static_cast<DWORD>(delay));
        if (!quit && recorder.Create()) {
            Log("window");
        }
    }
    if (!quit) {
        RunUntilQuit(quitEvent, deadline);
    }
    recorder.Destroy();
    Log("exit");
    CloseHandle(quitEvent);
    return 0;
}
