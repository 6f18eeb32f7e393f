// store_probe.exe: the Windows side of the store program's tests. It plays host plug-ins
// and pokes the store's windows the way other programs do. Commands on standard input,
// one per line; every answer is one line on standard output, flushed:
//   host ID          creates a host window for ID          -> "host ID"
//   unhost ID        destroys it (the store hears the host is gone) -> "unhosted ID"
//   post MSG [W]     posts MSG (decimal or 0x..) to the store's hidden window
//                                                          -> "posted MSG ok|missing"
//   post-main MSG [W] posts MSG with wParam W to the main window "Vellamar"
//                                                          -> "post-main MSG ok|missing"
//   window           the main window "Vellamar"            -> "window none" or
//                    "window visible=V x=X y=Y w=W h=H cx=.. cy=.. cw=.. ch=.."
//                    (c*: the first child, the Flash control, in client coordinates)
//   find-window T    the top-level window titled T (rest of the line) -> "find-window none"
//                    or "find-window visible=V x=X y=Y w=W h=H"
//   key VK           posts a key-down of VK to the control's window -> "key VK"
//   close            posts WM_CLOSE to the main window     -> "close ok|missing"
//   syscommand N     posts WM_SYSCOMMAND N to the main window  -> "syscommand N"
//   dialog-item T ID the text of item ID in the top-level window titled T (rest of the
//                    line after ID)                        -> "dialog-item TEXT" or "dialog-item
//                    none"
//   end-dialog T     presses OK in the window titled T     -> "end-dialog ok|missing"
//   hold MS          answers, then looks at no message for MS ms (a busy 3ds Max): the
//                    host windows take nothing and no command is read meanwhile
//                                                          -> "hold MS"
//   pid              this process's id                     -> "pid N"
//   quit             ends the probe                        -> "bye"
// Texts the store sends to a host window print as "open-file PATH".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "hostlink/host_comm_window.h"
#include "hostlink/host_link_text.h"
#include "hostlink/message_window.h"

namespace {

constexpr UINT WM_PROBE_COMMAND = WM_APP + 1;

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class PrintingHostActions : public IHostLinkActions {
public:
    void OpenFile(const std::string& path) override { Say("open-file " + path); }
    void SaveThumbnails(const std::string& folder) override { Say("save-thumbnails " + folder); }
};

PrintingHostActions g_actions;
std::map<int, std::unique_ptr<PXMaxHidCommWin>> g_hosts;

HWND MainWindow() {
    return FindWindowA(nullptr, "Vellamar");
}

BOOL CALLBACK FirstChild(HWND child, LPARAM found) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

HWND ControlWindow(HWND main) {
    HWND child = nullptr;
    EnumChildWindows(main, FirstChild, reinterpret_cast<LPARAM>(&child));
    return child;
}

std::string DescribeWindow() {
    HWND main = MainWindow();
    if (main == nullptr) {
        return "window none";
    }
    RECT frame = {};
    GetWindowRect(main, &frame);
    RECT control = {};
    if (HWND child = ControlWindow(main)) {
        GetWindowRect(child, &control);
        MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&control), 2);
    }
    char line[256];
    std::snprintf(line, sizeof(line),
                  "window visible=%d x=%ld y=%ld w=%ld h=%ld cx=%ld cy=%ld cw=%ld ch=%ld",
                  IsWindowVisible(main) ? 1 : 0, frame.left, frame.top, frame.right - frame.left,
                  frame.bottom - frame.top, control.left, control.top, control.right - control.left,
                  control.bottom - control.top);
    return line;
}

std::string DescribeTopLevel(const std::string& title) {
    HWND window = FindWindowA(nullptr, title.c_str());
    if (window == nullptr) {
        return "find-window none";
    }
    RECT frame = {};
    GetWindowRect(window, &frame);
    char line[160];
    std::snprintf(line, sizeof(line), "find-window visible=%d x=%ld y=%ld w=%ld h=%ld",
                  IsWindowVisible(window) ? 1 : 0, frame.left, frame.top, frame.right - frame.left,
                  frame.bottom - frame.top);
    return line;
}

void RunCommand(const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "host") {
        int id = 0;
        words >> id;
        auto host = std::make_unique<PXMaxHidCommWin>(id, PluginBuild{1, 0, 72}, &g_actions);
        if (!host->EnsureWindow()) {
            Say("host-failed " + std::to_string(id));
            return;
        }
        g_hosts[id] = std::move(host);
        Say("host " + std::to_string(id));
    } else if (verb == "unhost") {
        int id = 0;
        words >> id;
        auto found = g_hosts.find(id);
        if (found != g_hosts.end()) {
            found->second->Close();
            g_hosts.erase(found);
        }
        Say("unhosted " + std::to_string(id));
    } else if (verb == "post") {
        std::string message;
        std::string wParam = "0";
        words >> message >> wParam;
        const UINT code = static_cast<UINT>(std::strtoul(message.c_str(), nullptr, 0));
        const WPARAM w = static_cast<WPARAM>(std::strtoul(wParam.c_str(), nullptr, 0));
        const bool posted = PXMaxHidCommWin::PostToStore(code, w, 0);
        Say("posted " + message + (posted ? " ok" : " missing"));
    } else if (verb == "hold") {
        unsigned ms = 0;
        words >> ms;
        Say("hold " + std::to_string(ms));
        Sleep(ms);
    } else if (verb == "post-main") {
        std::string message;
        std::string wParam = "0";
        words >> message >> wParam;
        const UINT code = static_cast<UINT>(std::strtoul(message.c_str(), nullptr, 0));
        const WPARAM w = static_cast<WPARAM>(std::strtoull(wParam.c_str(), nullptr, 0));
        HWND main = MainWindow();
        const bool posted = main != nullptr && PostMessageA(main, code, w, 0);
        Say("post-main " + message + (posted ? " ok" : " missing"));
    } else if (verb == "window") {
        Say(DescribeWindow());
    } else if (verb == "find-window") {
        std::string title;
        std::getline(words >> std::ws, title);
        Say(DescribeTopLevel(title));
    } else if (verb == "key") {
        int key = 0;
        words >> key;
        HWND main = MainWindow();
        HWND target = main != nullptr ? ControlWindow(main) : nullptr;
        if (target == nullptr) {
            target = main;
        }
        PostMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(key), 1);
        PostMessageA(target, WM_KEYUP, static_cast<WPARAM>(key), static_cast<LPARAM>(0xC0000001u));
        Say("key " + std::to_string(key));
    } else if (verb == "close") {
        HWND main = MainWindow();
        const bool posted = main != nullptr && PostMessageA(main, WM_CLOSE, 0, 0);
        Say(posted ? "close ok" : "close missing");
    } else if (verb == "syscommand") {
        unsigned command = 0;
        words >> command;
        PostMessageA(MainWindow(), WM_SYSCOMMAND, command, 0);
        Say("syscommand " + std::to_string(command));
    } else if (verb == "dialog-item") {
        int item = 0;
        std::string title;
        words >> item;
        std::getline(words >> std::ws, title);
        HWND dialog = FindWindowA(nullptr, title.c_str());
        char text[512] = {};
        if (dialog == nullptr || GetDlgItemTextA(dialog, item, text, sizeof(text)) == 0) {
            Say("dialog-item none");
        } else {
            Say(std::string("dialog-item ") + text);
        }
    } else if (verb == "end-dialog") {
        std::string title;
        std::getline(words >> std::ws, title);
        HWND dialog = FindWindowA(nullptr, title.c_str());
        const bool posted =
            dialog != nullptr && PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        Say(posted ? "end-dialog ok" : "end-dialog missing");
    } else if (verb == "pid") {
        Say("pid " + std::to_string(GetCurrentProcessId()));
    } else if (!verb.empty()) {
        Say("unknown " + verb);
    }
}

DWORD WINAPI ReadCommands(void* mainThread) {
    const DWORD threadId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(mainThread));
    char buffer[4096];
    while (std::fgets(buffer, sizeof(buffer), stdin) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line == "quit") {
            break;
        }
        PostThreadMessageA(threadId, WM_PROBE_COMMAND, 0,
                           reinterpret_cast<LPARAM>(new std::string(line)));
    }
    PostThreadMessageA(threadId, WM_QUIT, 0, 0);
    return 0;
}

}  // namespace

int main() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here
    const DWORD self = GetCurrentThreadId();
    HANDLE reader = CreateThread(nullptr, 0, ReadCommands,
                                 reinterpret_cast<void*>(static_cast<ULONG_PTR>(self)), 0, nullptr);
    if (reader == nullptr) {
        return 1;
    }
    Say("ready");
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == WM_PROBE_COMMAND) {
            std::unique_ptr<std::string> line(reinterpret_cast<std::string*>(msg.lParam));
            RunCommand(*line);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    for (auto& host : g_hosts) {
        host.second->Close();
    }
    g_hosts.clear();
    WaitForSingleObject(reader, 5000);
    CloseHandle(reader);
    Say("bye");
    return 0;
}
