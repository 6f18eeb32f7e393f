// The store window of the host link and the store's calls to its host.
#include "hostlink/store_link_window.h"

#include <algorithm>
#include <cstring>

#include "hostlink/host_link_text.h"
#include "hostlink/message_window.h"

namespace {

// What hosts (and a second store instance) send the store window.
const UINT kStoreInbound[] = {
    WM_COPYDATA,        WM_PX_HOST_GONE,         WM_PX_BRING_TO_FRONT,
    WM_PX_SHOW_STORE,   WM_PX_SHOW_MY_FILES,     WM_PX_SHOW_EMPTY,
    WM_PX_CHECK_UPDATE, WM_PX_SHOW_CAMERA_SHELF, WM_PX_RESTACK,
};

// The save flow wants the long form of a path a host may give in 8.3 form; a path that
// cannot be expanded (missing file, too long) goes on as it came.
std::string ExpandLongPath(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    char expanded[kLinkPayloadSize];
    const DWORD length = GetLongPathNameA(path.c_str(), expanded, sizeof(expanded));
    if (length == 0 || length >= sizeof(expanded)) {
        return path;
    }
    return std::string(expanded, length);
}

}  // namespace

CPXHidMessageWin::CPXHidMessageWin(IStoreLinkActions* actions) : m_actions(actions) {}

CPXHidMessageWin::~CPXHidMessageWin() {
    Destroy();
    UnregisterMessageWindowClass(kStoreWindowClass);
}

bool CPXHidMessageWin::Create() {
    if (m_window != nullptr) {
        return true;
    }
    const std::string title = StoreWindowTitle();
    m_window = CreateMessageOnlyWindow(kStoreWindowClass, title.c_str(), WindowProc, this);
    if (m_window == nullptr) {
        return false;
    }
    AllowLowerIntegritySenders(m_window, kStoreInbound,
                               sizeof(kStoreInbound) / sizeof(kStoreInbound[0]));
    return true;
}

void CPXHidMessageWin::Destroy() {
    if (m_window != nullptr) {
        SetWindowLongPtrA(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
        m_window = nullptr;
    }
    m_workers.WaitAll();
}

HWND CPXHidMessageWin::FindHostWindow(int hostId) {
    return FindMessageWindow(HostWindowTitle(hostId).c_str());
}

int CPXHidMessageWin::CountLiveHosts() {
    int count = 0;
    for (int hostId = kHostIdFirst; hostId <= kHostIdLast; ++hostId) {
        if (FindHostWindow(hostId) != nullptr) {
            ++count;
        }
    }
    return count;
}

bool CPXHidMessageWin::PostHostHello(int hostId) {
    return m_workers.Start([hostId] {
        const HWND host = FindHostWindow(hostId);
        return host != nullptr && PostMessageA(host, WM_PX_HOST_HELLO, 0, 0) ? 1 : 0;
    });
}

bool CPXHidMessageWin::SendTextToHost(int hostId, UINT code, const std::string& text,
                                      HWND senderWindow) {
    TextSendRequest request;
    request.peerTitle = HostWindowTitle(hostId);
    request.code = code;
    request.text = text;
    request.senderWindow = senderWindow;
    return m_workers.StartTextSender(std::move(request));
}

std::string CPXHidMessageWin::QueryHost(int hostId, DWORD timeoutMs) {
    {
        // A reply that came after an earlier query gave up must not answer this one.
        std::lock_guard<std::mutex> guard(m_queryLock);
        m_queryBusy = true;
        m_queryReply.clear();
    }
    const HWND host = FindHostWindow(hostId);
    if (host == nullptr) {
        return std::string();
    }
    // A host whose thread is busy must not hold the store: one that did not take the
    // query within the bound will not answer it in time either.
    const ULONGLONG sendStart = GetTickCount64();
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutA(host, WM_PX_QUERY_HOST, 0, 0, SMTO_ABORTIFHUNG,
                            std::min<DWORD>(timeoutMs, kPeerSendTimeoutMs), &ignored) == 0) {
        return std::string();
    }
    const ULONGLONG sent = GetTickCount64() - sendStart;
    DWORD waited = sent >= timeoutMs ? timeoutMs : static_cast<DWORD>(sent);
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(m_queryLock);
            if (!m_queryBusy) {
                m_queryBusy = true;
                return m_queryReply;
            }
        }
        if (waited >= timeoutMs) {
            return std::string();
        }
        // On the window's own thread a plain Sleep would hold the reply back for good.
        SleepDeliveringSentMessages(kHostQueryPollMs);
        waited += kHostQueryPollMs;
    }
}

LRESULT CALLBACK CPXHidMessageWin::WindowProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    auto* self = reinterpret_cast<CPXHidMessageWin*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return self->HandleMessage(window, message, wParam, lParam);
}

LRESULT CPXHidMessageWin::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PX_HOST_GONE:
            HandleHostGone();
            return 0;
        case WM_PX_BRING_TO_FRONT:
            m_actions->BringToFront();
            return 0;
        case WM_PX_SHOW_STORE:
            m_actions->BringToFront();
            m_actions->ShowStore();
            return 0;
        case WM_PX_SHOW_MY_FILES:
            m_actions->BringToFront();
            m_actions->ShowMyFiles();
            return 0;
        case WM_PX_SHOW_EMPTY:
            m_actions->BringToFront();
            m_actions->SaveFile(std::string());
            return 0;
        case WM_PX_CHECK_UPDATE:
            if (!m_actions->IsUpdateBusy()) {
                m_actions->CheckForUpdate(wParam != 0);
            }
            return 0;
        case WM_PX_SHOW_CAMERA_SHELF:
            m_actions->ShowCameraShelf();
            return 0;
        case WM_PX_RESTACK:
            m_actions->Restack();
            return 0;
        case WM_COPYDATA:
            HandleCopyData(lParam);
            break;
        default:
            if (message >= kUpdateFlowFirst && message <= kUpdateFlowLast) {
                return m_actions->UpdateFlowMessage(message, wParam, lParam);
            }
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void CPXHidMessageWin::HandleCopyData(LPARAM lParam) {
    const ReceivedText received = ReadCopyData(lParam);
    switch (received.code) {
        case PXCD_SAVE_FILE:
            m_actions->BringToFront();
            m_actions->SaveFile(ExpandLongPath(received.text));
            break;
        case PXCD_HOST_IDENTITY: {
            int hostId = 0;
            int hostPid = 0;
            if (ScanHostIdentity(received.text.c_str(), &hostId, &hostPid)) {
                m_actions->HostIdentity(hostId, hostPid);
            }
            break;
        }
        case PXCD_HOST_REPLY: {
            {
                std::lock_guard<std::mutex> guard(m_queryLock);
                m_queryReply = received.text;
                m_queryBusy = false;
            }
            m_actions->HostReply(received.text);
            break;
        }
        case PXCD_PLUGIN_BUILD: {
            PluginBuild build;
            if (ScanPluginBuild(received.text.c_str(), &build)) {
                m_actions->PluginBuild(build.ver, build.major, build.minor);
            }
            break;
        }
        default:
            break;
    }
}

void CPXHidMessageWin::HandleHostGone() {
    // Every host posts this more than once (window destroyed, object destroyed); the
    // count after the pause makes the repeats harmless and lets a restarting host
    // bring its window back in time.
    // Once the quit is on its way, the repeats queued before it need no second pause.
    if (m_quitRequested) {
        return;
    }
    Sleep(kHostGoneDelayMs);
    if (CountLiveHosts() == 0) {
        m_quitRequested = true;
        m_actions->QuitStore();
    }
}
