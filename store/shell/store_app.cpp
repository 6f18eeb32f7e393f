#include "store/shell/store_app.h"

#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <string>

#include "store/shell/store_command_line.h"
#include "store/shell/store_dialog.h"
#include "store/shell/store_instance.h"

int CPXStoreApp::Run(const char* commandLine) {
    const std::string line = commandLine != nullptr ? commandLine : "";
    LONG seen = 0;
    if (!ClaimFirstInstance(&seen)) {
        RunSecondInstance(line, seen);
        return 0;
    }
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // The main window hosts an ActiveX control and runs OLE drags: OLE, not just COM.
    const HRESULT ole = OleInitialize(nullptr);
    int exitCode = 0;
    {
        CPXStoreDlg dialog(ParseStoreCommandLine(line));
        exitCode = dialog.RunModal();
    }
    if (SUCCEEDED(ole)) {
        OleUninitialize();
    }
    return exitCode;
}
