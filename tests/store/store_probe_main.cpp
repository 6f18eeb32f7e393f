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
//                    (c*: the first child that is not a Static, the Flash control, in
//                    client coordinates)
//   find-window T    the top-level window titled T (rest of the line) -> "find-window none"
//                    or "find-window visible=V x=X y=Y w=W h=H"
//   key VK           posts a key-down of VK to the control's window -> "key VK"
//   click            posts a left click to the control's window -> "click ok|missing"
//   close            posts WM_CLOSE to the main window     -> "close ok|missing"
//   syscommand N     posts WM_SYSCOMMAND N to the main window  -> "syscommand N"
//   dialog-item T ID the text of item ID in the top-level window titled T (rest of the
//                    line after ID)                        -> "dialog-item TEXT" or "dialog-item
//                    none"
//   end-dialog T     presses OK in the window titled T     -> "end-dialog ok|missing"
//   hold MS          answers, then looks at no message for MS ms (a busy 3ds Max): the
//                    host windows take nothing and no command is read meanwhile
//                                                          -> "hold MS"
//   notice T         the explanation (the visible Static child IDC_MOVIE_NOTICE) of the
//                    top-level window titled T
//                    -> "notice none" or "notice FONT HEX": FONT is "dialog-font" when it
//                    uses its window's font (else "other-font"), HEX its text as read with
//                    WM_GETTEXT, in hexadecimal
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
#include "store/shell/missing_movie_notice_ids.h"

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

bool IsStatic(HWND window) {
    char className[32] = {};
    GetClassNameA(window, className, sizeof(className));
    return lstrcmpiA(className, "Static") == 0;
}

// The explanation a window shows without its movie is a Static; the control never is.
BOOL CALLBACK FirstChild(HWND child, LPARAM found) {
    if (IsStatic(child)) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

std::string DescribeNotice(const std::string& title) {
    HWND window = FindWindowA(nullptr, title.c_str());
    // By its id: a window still initialising may hold other Statics (the camera shelf's
    // placeholder for the control), and the explanation shows once it is complete.
    HWND notice = window != nullptr ? GetDlgItem(window, IDC_MOVIE_NOTICE) : nullptr;
    if (notice == nullptr || !IsWindowVisible(notice)) {
        return "notice none";
    }
    const LRESULT length = SendMessageA(notice, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    const LRESULT copied = SendMessageA(notice, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                        reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    const bool dialogFont =
        SendMessageA(notice, WM_GETFONT, 0, 0) == SendMessageA(window, WM_GETFONT, 0, 0);
    std::string line = dialogFont ? "notice dialog-font " : "notice other-font ";
    static const char kDigits[] = "0123456789abcdef";
    for (char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        line += kDigits[c >> 4];
        line += kDigits[c & 0x0F];
    }
    return line;
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
        const WPARAM w = static_cast<WPARAM>(std::strtoull(wParam.c_str(), nullptr, 0));
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
    } else if (verb == "click") {
        HWND main = MainWindow();
        HWND target = main != nullptr ? ControlWindow(main) : nullptr;
        const bool posted = target != nullptr &&
                            PostMessageA(target, WM_LBUTTONDOWN, MK_LBUTTON, 0) &&
                            PostMessageA(target, WM_LBUTTONUP, 0, 0);
        Say(posted ? "click ok" : "click missing");
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
    } else if (verb == "notice") {
        std::string title;
        std::getline(words >> std::ws, title);
        Say(DescribeNotice(title));
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
