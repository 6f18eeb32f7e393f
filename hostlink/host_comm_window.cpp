// The host window of the host link and the host's calls to the store.
#include "hostlink/host_comm_window.h"

#include "hostlink/message_window.h"

namespace {

// What the store sends a host window.
const UINT kHostInbound[] = {WM_COPYDATA, WM_PX_HOST_HELLO, WM_PX_SEND_BUILD, WM_PX_QUERY_HOST};

}  // namespace

PXMaxHidCommWin::PXMaxHidCommWin(int hostId, const PluginBuild& build, IHostLinkActions* actions)
    : m_hostId(hostId),
      m_actions(actions),
      m_title(HostWindowTitle(hostId)),
      m_identity(FormatHostIdentity(hostId, static_cast<int>(GetCurrentProcessId()))),
      m_buildText(FormatPluginBuild(build)) {}

PXMaxHidCommWin::~PXMaxHidCommWin() {
    Close();
    PostToStore(WM_PX_HOST_GONE);
    m_workers.WaitAll();
    UnregisterMessageWindowClass(kHostWindowClass);
}

bool PXMaxHidCommWin::EnsureWindow() {
    if (m_window != nullptr && IsWindow(m_window)) {
        return true;
    }
    m_window = CreateMessageOnlyWindow(kHostWindowClass, m_title.c_str(), WindowProc, this);
    if (m_window == nullptr) {
        return false;
    }
    AllowLowerIntegritySenders(m_window, kHostInbound,
                               sizeof(kHostInbound) / sizeof(kHostInbound[0]));
    return true;
}

void PXMaxHidCommWin::Close() {
    // Only the creating thread can destroy the window; at process exit it is gone anyway.
    if (m_window != nullptr && IsWindow(m_window) &&
        GetWindowThreadProcessId(m_window, nullptr) == GetCurrentThreadId()) {
        DestroyWindow(m_window);
    }
    m_window = nullptr;
    m_workers.WaitAll();
}

HWND PXMaxHidCommWin::FindStoreWindow() {
    return FindMessageWindow(StoreWindowTitle().c_str());
}

bool PXMaxHidCommWin::PostToStore(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND store = FindStoreWindow();
    return store != nullptr && PostMessageA(store, message, wParam, lParam) != FALSE;
}

bool PXMaxHidCommWin::SendTextToStore(UINT code, const std::string& text) {
    TextSendRequest request;
    request.peerTitle = StoreWindowTitle();
    request.code = code;
    request.text = text;
    request.senderWindow = m_window;
    return m_workers.StartTextSender(std::move(request));
}

LRESULT CALLBACK PXMaxHidCommWin::WindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    auto* self = reinterpret_cast<PXMaxHidCommWin*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    const LRESULT result = self->HandleMessage(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        self->m_window = nullptr;
    }
    return result;
}

LRESULT PXMaxHidCommWin::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PX_HOST_HELLO:
            SendBuild();
            // The store handles the build text before the check that reports it.
            Sleep(kHelloUpdateDelayMs);
            PostToStore(WM_PX_CHECK_UPDATE, 1);
            break;
        case WM_PX_SEND_BUILD:
            SendBuild();
            break;
        case WM_COPYDATA: {
            const ReceivedText received = ReadCopyData(lParam);
            if (received.code == PXCD_OPEN_FILE) {
                m_actions->OpenFile(received.text);
            } else if (received.code == PXCD_SAVE_THUMBNAILS) {
                m_actions->SaveThumbnails(received.text);
            }
            break;
        }
        case WM_DESTROY:
            PostToStore(WM_PX_HOST_GONE);
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
