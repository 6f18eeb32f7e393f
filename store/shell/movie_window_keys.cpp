// The key rules shared by the main window and the camera shelves.
#include "store/shell/movie_window_keys.h"

#include "store/shell/shockwave_flash.h"

bool HandleMovieWindowKeys(MSG& msg) {
    if (msg.message != WM_KEYDOWN) {
        return false;
    }
    if (msg.wParam == VK_ESCAPE) {
        return true;
    }
    if (msg.wParam == VK_RETURN) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        return true;
    }
    return false;
}

bool TranslateMovieWindowKeys(MSG& msg, CShockwaveflash1& flash) {
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
        return true;  // not even the movie gets it
    }
    if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) {
        const HWND control = flash.GetControlWindow();
        if (control != nullptr && (msg.hwnd == control || IsChild(control, msg.hwnd)) &&
            flash.TranslateControlKey(&msg)) {
            return true;
        }
    }
    return HandleMovieWindowKeys(msg);
}
