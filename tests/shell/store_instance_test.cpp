// The store's single-instance rule under Windows: the counter shared between two running
// probe processes (instance_probe.exe, next to this program), and a second start against
// a "Vellamar" window and a store message window made here.
#include "store/shell/store_instance.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostlink/host_link_codes.h"
#include "hostlink/host_link_text.h"
#include "hostlink/message_window.h"

namespace {

// A started instance_probe.exe with its stdout on a pipe.
class Probe {
public:
    Probe(const std::string& eventName) {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&m_output, &writeEnd, &inherit, 0)) {
            return;
        }
        SetHandleInformation(m_output, HANDLE_FLAG_INHERIT, 0);
        char path[MAX_PATH];
        const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
        std::string folder(path, length);
        folder.erase(folder.find_last_of('\\') + 1);
        std::string commandLine = "\"" + folder + "instance_probe.exe\" " + eventName;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        PROCESS_INFORMATION info = {};
        if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &info)) {
            CloseHandle(info.hThread);
            m_process = info.hProcess;
        }
        CloseHandle(writeEnd);
    }
    ~Probe() {
        if (m_process != nullptr) {
            if (WaitForSingleObject(m_process, 30000) != WAIT_OBJECT_0) {
                TerminateProcess(m_process, 1);
            }
            CloseHandle(m_process);
        }
        if (m_output != nullptr) {
            CloseHandle(m_output);
        }
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    bool Started() const { return m_process != nullptr; }

    // The probe's first line; empty when it ended without one.
    std::string ReadLine() {
        std::string line;
        char c = 0;
        DWORD got = 0;
        while (ReadFile(m_output, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
            if (c != '\r') {
                line += c;
            }
        }
        return line;
    }

    DWORD ExitCode() {
        DWORD code = 99;
        if (WaitForSingleObject(m_process, 30000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(m_process, &code);
        }
        return code;
    }

private:
    HANDLE m_process = nullptr;
    HANDLE m_output = nullptr;
};

TEST(StoreInstance, CounterIsSharedBetweenProcessesOfOneProgramFile) {
    const std::string eventName = "PXInstanceProbeRelease" + std::to_string(GetCurrentProcessId());
    const HANDLE release = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(release, nullptr);
    {
        Probe first(eventName);
        ASSERT_TRUE(first.Started());
        EXPECT_EQ(first.ReadLine(), "first");
        // The first probe is still running (it waits for the event) while these start.
        Probe second(eventName);
        ASSERT_TRUE(second.Started());
        EXPECT_EQ(second.ReadLine(), "second 1");
        Probe third(eventName);
        ASSERT_TRUE(third.Started());
        EXPECT_EQ(third.ReadLine(), "second 1");
        SetEvent(release);
        EXPECT_EQ(first.ExitCode(), 0u);
        EXPECT_EQ(second.ExitCode(), 0u);
        EXPECT_EQ(third.ExitCode(), 0u);
    }
    CloseHandle(release);
}

struct ReceivedCopy {
    ULONG_PTR code;
    WPARAM wParam;
    std::string text;
};
std::vector<ReceivedCopy> gReceived;

LRESULT CALLBACK RecordingStoreProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        const ReceivedText text = ReadCopyData(lParam);
        gReceived.push_back({text.code, wParam, text.text});
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

constexpr int kLeft = 100;
constexpr int kTop = 120;
constexpr int kWidth = 400;
constexpr int kHeight = 300;

// The running store as a second start sees it: its main window (minimised, as a user
// might have left it) and, when asked for, its hidden message window. Both live on this
// thread, so the second start's SendMessage reaches the recorder directly.
class RunningStore {
public:
    RunningStore(bool withMainWindow, bool withMessageWindow) {
        gReceived.clear();
        if (withMainWindow) {
            WNDCLASSA windowClass = {};
            windowClass.lpfnWndProc = DefWindowProcA;
            windowClass.hInstance = GetModuleHandleA(nullptr);
            windowClass.lpszClassName = "PXTestVellamarMain";
            RegisterClassA(&windowClass);
            m_main = CreateWindowExA(0, windowClass.lpszClassName, "Vellamar", WS_OVERLAPPEDWINDOW,
                                     kLeft, kTop, kWidth, kHeight, nullptr, nullptr,
                                     windowClass.hInstance, nullptr);
            ShowWindow(m_main, SW_SHOWMINIMIZED);
        }
        if (withMessageWindow) {
            m_store = CreateMessageOnlyWindow("PXTestStoreLink", StoreWindowTitle().c_str(),
                                              RecordingStoreProc, nullptr);
        }
    }
    ~RunningStore() {
        if (m_main != nullptr) {
            DestroyWindow(m_main);
        }
        if (m_store != nullptr) {
            DestroyWindow(m_store);
        }
    }
    RunningStore(const RunningStore&) = delete;
    RunningStore& operator=(const RunningStore&) = delete;

    HWND main() const { return m_main; }
    HWND store() const { return m_store; }

private:
    HWND m_main = nullptr;
    HWND m_store = nullptr;
};

void ExpectBroughtToFront(HWND window, const char* name) {
    EXPECT_TRUE(IsWindowVisible(window)) << name;
    EXPECT_FALSE(IsIconic(window)) << name;
    EXPECT_EQ(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0) << name;
    RECT rect = {};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, kLeft) << name;
    EXPECT_EQ(rect.top, kTop) << name;
    EXPECT_EQ(rect.right - rect.left, kWidth) << name;
    EXPECT_EQ(rect.bottom - rect.top, kHeight) << name;
}

TEST(StoreInstance, SecondStartActivatesAndForwardsDrivePaths) {
    const std::string longPath = "D:\\" + std::string(597, 'p');
    struct Case {
        const char* name;
        std::string commandLine;
        bool mainWindow;
        bool messageWindow;
        std::vector<std::string> expectedTexts;
    };
    const Case cases[] = {
        {"drive path", "C:\\Models\\chair 1.max", true, true, {"C:\\Models\\chair 1.max"}},
        {"path with percent", "C:\\100%s\\%n.max", true, true, {"C:\\100%s\\%n.max"}},
        {"600-character path cut to 520", longPath, true, true, {longPath.substr(0, 520)}},
        {"host form forwards nothing", "APPHOSTID 14 APPPID 4242", true, true, {}},
        {"empty forwards nothing", "", true, true, {}},
        {"no main window: nothing at all", "C:\\Models\\chair.max", false, true, {}},
        {"no message window: still to the front", "C:\\Models\\chair.max", true, false, {}},
    };
    SecondInstanceOptions quick;
    quick.baseDelayMs = 0;
    for (const Case& c : cases) {
        RunningStore running(c.mainWindow, c.messageWindow);
        ASSERT_TRUE(!c.mainWindow || running.main() != nullptr) << c.name;
        ASSERT_TRUE(!c.messageWindow || running.store() != nullptr) << c.name;
        RunSecondInstance(c.commandLine, 1, quick);

        std::vector<std::string> texts;
        for (const ReceivedCopy& received : gReceived) {
            EXPECT_EQ(received.code, PXCD_SAVE_FILE) << c.name;
            EXPECT_EQ(received.wParam, 0u) << c.name;
            texts.push_back(received.text);
        }
        EXPECT_EQ(texts, c.expectedTexts) << c.name;
        if (c.mainWindow) {
            ExpectBroughtToFront(running.main(), c.name);
        }
    }
}

}  // namespace
