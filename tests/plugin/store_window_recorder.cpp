// The store window stand-in of the plug-in's tests.
#include "tests/plugin/store_window_recorder.h"

#include <cstdio>

#include "hostlink/host_link_text.h"
#include "hostlink/message_window.h"

namespace {

// Who sent a text: the plug-in's host window, nobody, or something else.
const char* SenderName(WPARAM sender) {
    if (sender == 0) {
        return "none";
    }
    const HWND host = FindMessageWindow(HostWindowTitle(kHostId3dsMax).c_str());
    return reinterpret_cast<HWND>(sender) == host ? "host" : "other";
}

}  // namespace

bool StoreWindowRecorder::Create() {
    m_window =
        CreateMessageOnlyWindow(kStoreWindowClass, StoreWindowTitle().c_str(), WindowProc, this);
    return m_window != nullptr;
}

void StoreWindowRecorder::Destroy() {
    if (m_window != nullptr) {
        DestroyWindow(m_window);
        m_window = nullptr;
    }
}

LRESULT CALLBACK StoreWindowRecorder::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
    auto* self = reinterpret_cast<StoreWindowRecorder*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && message == WM_COPYDATA) {
        const ReceivedText received = ReadCopyData(lParam);
        char head[64];
        std::snprintf(head, sizeof(head), "copydata 0x%X %s ", static_cast<unsigned>(received.code),
                      SenderName(wParam));
        self->m_sink(head + received.text);
        return TRUE;
    }
    if (self != nullptr && message >= WM_USER && message < WM_APP) {
        char line[64];
        std::snprintf(line, sizeof(line), "post 0x%X %llu", message,
                      static_cast<unsigned long long>(wParam));
        self->m_sink(line);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
