// hostlink_peer.exe: the other process in the host link's tests.
//   hostile        sends the store window WM_COPYDATA that no well-behaved sender would
//   hosts ID...    creates a host window per ID and ends once all of them are destroyed
//   busy ID S      creates a host window for ID, then does not look at its messages for S
//                  seconds (a host whose thread is busy or hung) and ends
// Exits 0 on success, 2 when the store window is missing, 3 when a window could not be
// made, 4 when it was left running for a minute.
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "hostlink/host_comm_window.h"
#include "hostlink/host_link_text.h"
#include "hostlink/message_window.h"

namespace {

class SilentHostActions : public IHostLinkActions {
public:
    void OpenFile(const std::string&) override {}
    void SaveThumbnails(const std::string&) override {}
};

void SendRaw(HWND store, ULONG_PTR code, const void* data, DWORD size) {
    COPYDATASTRUCT copy;
    copy.dwData = code;
    copy.cbData = size;
    copy.lpData = const_cast<void*>(data);
    SendMessageA(store, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
}

int SendHostile() {
    const HWND store = FindMessageWindow(StoreWindowTitle().c_str());
    if (store == nullptr) {
        return 2;
    }
    const char noZero[] = {'a', 'b', 'c'};
    SendRaw(store, PXCD_HOST_REPLY, noZero, sizeof(noZero));
    SendRaw(store, PXCD_HOST_REPLY, noZero, 0);
    SendRaw(store, PXCD_HOST_REPLY, nullptr, static_cast<DWORD>(kLinkPayloadSize));
    const std::vector<char> oversized(5000, 'x');
    SendRaw(store, PXCD_HOST_REPLY, oversized.data(), static_cast<DWORD>(oversized.size()));
    // The size ends inside "72": the receiver must stop where the sender said.
    const std::string build = FormatPluginBuild(PluginBuild{1, 0, 72});
    SendRaw(store, PXCD_PLUGIN_BUILD, build.data(), static_cast<DWORD>(build.size() - 1));
    return 0;
}

int RunHosts(int count, char** ids) {
    SilentHostActions actions;
    std::vector<std::unique_ptr<PXMaxHidCommWin>> hosts;
    for (int i = 0; i < count; ++i) {
        hosts.push_back(
            std::make_unique<PXMaxHidCommWin>(std::atoi(ids[i]), PluginBuild{1, 0, 72}, &actions));
        if (!hosts.back()->EnsureWindow()) {
            return 3;
        }
    }
    // A test that failed half-way must not leave this process behind.
    SetTimer(nullptr, 0, 60000, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
            return 4;
        }
        DispatchMessageA(&msg);
        bool anyLeft = false;
        for (const auto& host : hosts) {
            anyLeft = anyLeft || host->Window() != nullptr;
        }
        if (!anyLeft) {
            break;
        }
    }
    return 0;
}

int RunBusyHost(int id, int seconds) {
    SilentHostActions actions;
    PXMaxHidCommWin host(id, PluginBuild{1, 0, 72}, &actions);
    if (!host.EnsureWindow()) {
        return 3;
    }
    Sleep(static_cast<DWORD>(seconds) * 1000);
    return 0;  // ends without ever pumping: what was sent to the window is dropped
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "hostile") {
        return SendHostile();
    }
    if (mode == "busy" && argc > 3) {
        ExitProcess(static_cast<UINT>(RunBusyHost(std::atoi(argv[2]), std::atoi(argv[3]))));
    }
    if (mode == "hosts" && argc > 2) {
        return RunHosts(argc - 2, argv + 2);
    }
    return 1;
}
