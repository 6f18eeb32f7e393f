// A thread-local CBT hook: when a dialog window (#32770) is activated, its texts are
// read, printed as "MessageBox TEXT" (a message box: the static 0xFFFF holds its text) or
// "Dialog CAPTION | TEXT | ..." (any other dialog, its static controls in order), and OK
// is posted to it. The box then ends with IDOK as if the user had clicked.
#include "standins/maxhost/dialog_answerer.h"

#include <windows.h>

#include <string>

#include "standins/maxhost/host_output.h"

namespace {

HHOOK gHook = nullptr;
const char kAnsweredProp[] = "maxhost.answered";

std::string WindowText(HWND window) {
    char text[2048] = "";
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM lParam) {
    char className[32] = "";
    GetClassNameA(child, className, sizeof(className));
    if (lstrcmpiA(className, "Static") == 0) {
        auto* texts = reinterpret_cast<std::string*>(lParam);
        *texts += " | " + WindowText(child);
    }
    return TRUE;
}

void Answer(HWND dialog) {
    if (GetPropA(dialog, kAnsweredProp) != nullptr) {
        return;
    }
    SetPropA(dialog, kAnsweredProp, reinterpret_cast<HANDLE>(1));
    HWND boxText = GetDlgItem(dialog, 0xFFFF);
    if (boxText != nullptr) {
        HostPrint("MessageBox %s", OneLine(WindowText(boxText)).c_str());
    } else {
        std::string texts;
        EnumChildWindows(dialog, CollectStatic, reinterpret_cast<LPARAM>(&texts));
        HostPrint("Dialog %s%s", OneLine(WindowText(dialog)).c_str(), OneLine(texts).c_str());
    }
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[16] = "";
        GetClassNameA(window, className, sizeof(className));
        if (lstrcmpA(className, "#32770") == 0) {
            Answer(window);
        }
    } else if (code == HCBT_DESTROYWND) {
        RemovePropA(reinterpret_cast<HWND>(wParam), kAnsweredProp);
    }
    return CallNextHookEx(gHook, code, wParam, lParam);
}

}  // namespace

bool InstallDialogAnswerer() {
    gHook = SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
    return gHook != nullptr;
}

void RemoveDialogAnswerer() {
    if (gHook != nullptr) {
        UnhookWindowsHookEx(gHook);
        gHook = nullptr;
    }
}
