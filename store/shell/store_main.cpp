// PXStore.exe
#include <windows.h>

#include "store/shell/store_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    CPXStoreApp app;
    return app.Run(commandLine);
}
