// The About box: template 107 with the plug-in's build numbers.
#pragma once

#include <windows.h>

class CAboutPX {
public:
    // Modal; returns when the user closes the box.
    static void Show(HWND parent);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};
