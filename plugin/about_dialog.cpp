// The About box of the plug-in.
#include "plugin/about_dialog.h"

#include <cstdio>

#include "plugin/plugin_library.h"
#include "plugin/resource.h"

void CAboutPX::Show(HWND parent) {
    DialogBoxParamA(PluginInstance(), MAKEINTRESOURCEA(IDD_ABOUT), parent, DialogProc, 0);
}

INT_PTR CALLBACK CAboutPX::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_INITDIALOG: {
            char build[64];
            std::snprintf(build, sizeof(build), "Build: %d.%d.%d", kPluginBuild.ver,
                          kPluginBuild.major, kPluginBuild.minor);
            SetDlgItemTextA(dialog, IDC_ABOUT_BUILD, build);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}
