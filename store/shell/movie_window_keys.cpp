#include "store/shell/movie_window_keys.h"

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
