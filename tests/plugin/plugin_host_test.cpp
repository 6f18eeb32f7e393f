// The plug-in inside maxhost.exe, talking to a store window: registration values, the
// menu, every action with what reaches the store, the scene hand-off both ways, Stop,
// and the launcher starting a stand-in PXStore.exe from the installation folder.
// maxhost.exe, PXPluginMax.dlu and fake_store.exe lie next to this program.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hostlink/host_link_text.h"
#include "hostlink/link_workers.h"
#include "hostlink/message_window.h"
#include "plugin/launcher_rules.h"
#include "tests/plugin/max_host_session.h"
#include "tests/plugin/store_window_recorder.h"

namespace {

const char kBuildText[] = "PX_PLUGIN_BUILD_VER 1 PX_PLUGIN_BUILD_MAJOR 0 PX_PLUGIN_BUILD_MINOR 72";
const char kNoStoreBox[] = "MessageBox ERROR: Unable to start communication with store!";
const char kNoProgramBox[] = "MessageBox Unable to open PXStore.exe!";

std::string MaxHostPath() {
    return TestProgramFolder() + "maxhost.exe";
}
std::string PluginPath() {
    return TestProgramFolder() + "PXPluginMax.dlu";
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.compare(0, prefix.size(), prefix) == 0;
    }));
}

// The store's window on a thread of the test process; what it receives goes to `lines`.
class StoreThread {
public:
    bool Start() {
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_thread = std::thread([this, ready] {
            StoreWindowRecorder recorder([this](const std::string& line) { lines.Add(line); });
            m_created = recorder.Create();
            m_threadId = GetCurrentThreadId();
            SetEvent(ready);
            MSG msg;
            while (m_created && GetMessageA(&msg, nullptr, 0, 0) > 0) {
                if (msg.message == kHoldMessage && msg.hwnd == nullptr) {
                    // Busy: nothing sent to the window is looked at meanwhile.
                    WaitForSingleObject(m_release, static_cast<DWORD>(msg.wParam));
                    continue;
                }
                DispatchMessageA(&msg);
            }
            recorder.Destroy();
        });
        WaitForSingleObject(ready, INFINITE);
        CloseHandle(ready);
        return m_created;
    }
    void Stop() {
        Release();
        if (m_thread.joinable()) {
            PostThreadMessageA(m_threadId, WM_QUIT, 0, 0);
            m_thread.join();
        }
    }
    ~StoreThread() {
        Stop();
        CloseHandle(m_release);
    }

    // Makes the store's thread stop looking at its messages for `ms` ms, or until Release.
    void Hold(DWORD ms) {
        ResetEvent(m_release);
        PostThreadMessageA(m_threadId, kHoldMessage, ms, 0);
    }
    void Release() { SetEvent(m_release); }

    LineLog lines;

private:
    static constexpr UINT kHoldMessage = WM_APP + 7;
    HANDLE m_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread m_thread;
    DWORD m_threadId = 0;
    bool m_created = false;
};

// Sends a text to the plug-in's host window as the store would, and returns once the
// plug-in has handled it.
bool SendToHost(UINT code, const std::string& text) {
    TextSendRequest request;
    request.peerTitle = HostWindowTitle(kHostId3dsMax);
    request.code = code;
    request.text = text;
    return SendTextToPeer(request) == 1;
}

class PluginWithStore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store.Start());
        ASSERT_TRUE(host.Start(MaxHostPath(), PluginPath()));
        ASSERT_GE(host.Output().WaitFor("ready", 0, kLineTimeoutMs), 0);
    }
    void TearDown() override {
        EXPECT_EQ(host.Finish(), 0);
        store.Stop();
    }
    // Waits for a store line after `from`.
    bool StoreGot(const std::string& line, size_t from = 0) {
        return store.lines.WaitFor(line, from, kLineTimeoutMs) >= 0;
    }

    StoreThread store;
    MaxHostSession host;
};

TEST_F(PluginWithStore, RegistersWithTheValuesHostsCheck) {
    const std::vector<std::string> lines = host.Output().Since(0);
    for (const char* expected : {
             "LibDescription -> Vellamar Store Bridge",
             "LibVersion -> 0x26AC1500",
             "LibNumberClasses -> 1",
             "LibClassDesc(0) -> InternalName=Plenthra SuperClassID=0x10E0 "
             "ClassID=(0x99E67C96,0x98D57239) IsPublic=1 OkToCreate=1 ClassName= Category= "
             "HInstance=library",
             "Create -> same object",
             "LibClassDesc(1) -> null",
             "Control -> 0",
             "RegisterActionContext 0x1761733D Orvik Quorvin Actions",
             "Start -> 0",
         }) {
        EXPECT_TRUE(Contains(lines, expected)) << expected;
    }
    const std::vector<std::string> contexts = {
        "RegisterMenuBarContext 0x3E695372 Orvik Context",
        "RegisterMenuBarContext 0x3E695373 PXImport Context",
        "RegisterMenuBarContext 0x3E695375 PXSave Context",
        "RegisterMenuBarContext 0x3E695376 PXUpdate Context",
        "RegisterMenuBarContext 0x3E695377 PXAbout Context",
    };
    auto first = std::find(lines.begin(), lines.end(), contexts[0]);
    ASSERT_LE(static_cast<size_t>(std::distance(first, lines.end())), lines.size());
    ASSERT_GE(static_cast<size_t>(std::distance(first, lines.end())), contexts.size());
    EXPECT_EQ(std::vector<std::string>(first, first + static_cast<long>(contexts.size())),
              contexts);
}

TEST_F(PluginWithStore, MenuHasFiveItemsInOrderAndASecondStartKeepsOne) {
    const std::string menu =
        "menu Plenthra: Search Marketplace...|Open My Files...|Save to Plenthra...|"
        "Check for Update...|About Vellamar Plenthra";
    EXPECT_TRUE(host.Run("menu", menu));
    ASSERT_TRUE(host.Run("start", "started -> 0"));
    const size_t mark = host.Output().Size();
    ASSERT_TRUE(host.Run("menu", menu));
    EXPECT_EQ(CountPrefix(host.Output().Since(mark), "menu "), 1u);
    ASSERT_TRUE(host.Run("stop", "stopped"));
    EXPECT_TRUE(host.Run("menu", "menu none"));
}

TEST_F(PluginWithStore, EachActionReachesTheStore) {
    const struct {
        int action;
        std::vector<std::string> storeLines;  // in this order
    } cases[] = {
        {5, {"post 0x413 0"}},
        {6, {"post 0x414 0"}},
        // The build numbers arrive before the interactive check that reports them.
        {8, {std::string("copydata 0x43B host ") + kBuildText, "post 0x417 0"}},
    };
    for (const auto& c : cases) {
        size_t from = store.lines.Size();
        const std::string action = "action " + std::to_string(c.action);
        EXPECT_TRUE(host.Run(action, action + " -> 1")) << action;
        for (const std::string& line : c.storeLines) {
            const long at = store.lines.WaitFor(line, from, kLineTimeoutMs);
            EXPECT_GE(at, 0) << action << ": " << line;
            from = at >= 0 ? static_cast<size_t>(at) + 1 : from;
        }
    }
    const std::vector<std::string> output = host.Output().Since(0);
    EXPECT_FALSE(Contains(output, kNoStoreBox));
    EXPECT_FALSE(Contains(output, kNoProgramBox));
    // Outside 5 to 9 the dispatcher answers -1.
    EXPECT_TRUE(host.Run("action 4", "action 4 -> -1"));
    EXPECT_TRUE(host.Run("action 10", "action 10 -> -1"));
}

TEST_F(PluginWithStore, AboutBoxShowsTheBuild) {
    const size_t mark = host.Output().Size();
    ASSERT_TRUE(host.Run("action 9", "action 9 -> 1"));
    EXPECT_TRUE(Contains(host.Output().Since(mark),
                         "Dialog About Vellamar Plenthra | Vellamar Plenthra for Autodesk 3ds Max "
                         "| Build: 1.0.72"));
}

TEST_F(PluginWithStore, SaveToPlenthraHandsTheSceneFileOver) {
    const struct {
        const char* scene;   // empty: never saved
        const char* saveAs;  // what the save prompt names; empty: cancelled
        const char* checkForSave;
        const char* result;
        const char* sent;  // the path the store receives; null: nothing
    } cases[] = {
        {"C:\\scenes\\tower.max", "", "yes", "1", "C:\\scenes\\tower.max"},
        {"", "C:\\scenes\\named.max", "yes", "1", "C:\\scenes\\named.max"},
        {"", "", "yes", "0", nullptr},
        {"\\\\server\\share\\net.max", "", "yes", "0", nullptr},
        {"C:\\scenes\\kept.max", "", "no", "0", nullptr},
    };
    for (const auto& c : cases) {
        const std::string label = std::string(c.scene) + "|" + c.saveAs + "|" + c.checkForSave;
        ASSERT_TRUE(host.Run(std::string("scene ") + c.scene, std::string("scene ") + c.scene));
        ASSERT_TRUE(
            host.Run(std::string("save-as ") + c.saveAs, std::string("save-as ") + c.saveAs));
        ASSERT_TRUE(host.Run(std::string("check-for-save ") + c.checkForSave,
                             std::string("check-for-save ") + c.checkForSave));
        const size_t storeMark = store.lines.Size();
        const size_t hostMark = host.Output().Size();
        EXPECT_TRUE(host.Run("action 7", std::string("action 7 -> ") + c.result)) << label;
        const std::vector<std::string> output = host.Output().Since(hostMark);
        if (std::string(c.checkForSave) == "no") {
            EXPECT_EQ(CountPrefix(output, "GetCurFilePath"), 0u) << label;
        }
        if (c.scene[0] == '\0' && std::string(c.checkForSave) == "yes") {
            // A never-saved scene asks for a name first.
            EXPECT_TRUE(Contains(output, std::string("FileSave -> ") + c.saveAs)) << label;
        }
        if (c.sent != nullptr) {
            EXPECT_TRUE(StoreGot(std::string("copydata 0x416 host ") + c.sent, storeMark)) << label;
        } else {
            // A sender would have been started before the action returned.
            ASSERT_TRUE(host.Run("wait 300", "waited 300"));
            EXPECT_EQ(CountPrefix(store.lines.Since(storeMark), "copydata"), 0u) << label;
        }
    }
}

TEST_F(PluginWithStore, DownloadedFilesAreLoadedOrImported) {
    // Any action creates the host window that the store sends to.
    ASSERT_TRUE(host.Run("action 5", "action 5 -> 1"));
    const struct {
        const char* path;
        const char* checkForSave;
        std::vector<std::string> expected;  // in this order
        std::vector<std::string> absent;
    } cases[] = {
        {"C:\\dl\\model.max",
         "yes",
         {"CheckForSave -> yes", "LoadFromFile C:\\dl\\model.max"},
         {"RedrawViews"}},
        {"C:\\dl\\model.chr", "yes", {"CheckForSave -> yes", "LoadFromFile C:\\dl\\model.chr"}, {}},
        {"C:\\dl\\model.drf", "yes", {"CheckForSave -> yes", "LoadFromFile C:\\dl\\model.drf"}, {}},
        {"C:\\dl\\model.max", "no", {"CheckForSave -> no"}, {"LoadFromFile C:\\dl\\model.max"}},
        {"C:\\dl\\model.MAX",
         "yes",
         {"ImportFromFile C:\\dl\\model.MAX", "RedrawViews"},
         {"CheckForSave -> yes"}},
        {"C:\\dl\\model.obj", "yes", {"ImportFromFile C:\\dl\\model.obj", "RedrawViews"}, {}},
        {"C:\\dl\\model.3ds", "yes", {"ImportFromFile C:\\dl\\model.3ds", "RedrawViews"}, {}},
        {"max", "yes", {"ImportFromFile max", "RedrawViews"}, {}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(host.Run(std::string("check-for-save ") + c.checkForSave,
                             std::string("check-for-save ") + c.checkForSave));
        const size_t mark = host.Output().Size();
        ASSERT_TRUE(SendToHost(PXCD_OPEN_FILE, c.path)) << c.path;
        // The plug-in handled the text before SendMessage returned; a later command's
        // reply fences everything it printed.
        ASSERT_TRUE(host.Run("wait 0", "waited 0"));
        const std::vector<std::string> output = host.Output().Since(mark);
        auto at = output.begin();
        for (const std::string& line : c.expected) {
            at = std::find(at, output.end(), line);
            EXPECT_NE(at, output.end()) << c.path << ": " << line;
        }
        for (const std::string& line : c.absent) {
            EXPECT_FALSE(Contains(output, line)) << c.path << ": " << line;
        }
    }
}

TEST_F(PluginWithStore, ThumbnailsAreWrittenPerViewport) {
    ASSERT_TRUE(host.Run("action 5", "action 5 -> 1"));
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof(temp), temp);
    const std::string folder =
        std::string(temp) + "px-thumbs-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(SendToHost(PXCD_SAVE_THUMBNAILS, folder));
    ASSERT_TRUE(host.Run("wait 0", "waited 0"));
    const std::vector<std::string> output = host.Output().Since(0);
    for (int i = 0; i < 4; ++i) {
        const std::string file = folder + "\\thumb" + std::to_string(i) + ".jpg";
        EXPECT_TRUE(Contains(output, "Render " + file)) << file;
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes.substr(0, 2), "BM") << file;
        EXPECT_GT(bytes.size(), 300u * 200u) << file;
        in.close();
        DeleteFileA(file.c_str());
    }
    EXPECT_FALSE(Contains(output, "Render " + folder + "\\thumb4.jpg"));
    RemoveDirectoryA(folder.c_str());
}

TEST_F(PluginWithStore, StopTellsTheStoreTheHostIsGone) {
    ASSERT_TRUE(host.Run("action 6", "action 6 -> 1"));
    const size_t mark = store.lines.Size();
    ASSERT_TRUE(host.Run("stop", "stopped"));
    EXPECT_TRUE(StoreGot("post 0x40E 0", mark));
    EXPECT_EQ(FindMessageWindow(HostWindowTitle(kHostId3dsMax).c_str()), nullptr);
}

// A store whose thread is busy for 30 s while the plug-in hands it a scene: Stop still
// returns within the senders' bound instead of waiting for the store.
TEST_F(PluginWithStore, StopReturnsSoonWhileTheStoreIsBusy) {
    ASSERT_TRUE(host.Run("scene C:\\scenes\\tower.max", "scene C:\\scenes\\tower.max"));
    ASSERT_TRUE(host.Run("check-for-save yes", "check-for-save yes"));
    store.Hold(30000);
    ASSERT_TRUE(host.Run("action 7", "action 7 -> 1"));
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(host.Run("stop", "stopped", 45000));
    EXPECT_LT(GetTickCount64() - start, 20000u) << "far below the store's 30 s";
    store.Release();
}

// Plug-in starts that go wrong in the host, without a store.
TEST(PluginHostFailures, NoMainMenuBarIsReportedToTheListener) {
    SetEnvironmentVariableA("MAXHOST_NO_MENU_BAR", "1");
    MaxHostSession host;
    const bool started = host.Start(MaxHostPath(), PluginPath());
    SetEnvironmentVariableA("MAXHOST_NO_MENU_BAR", nullptr);
    ASSERT_TRUE(started);
    EXPECT_GE(host.Output().WaitFor("Listener can't get main menu bar\\n", 0, kLineTimeoutMs), 0);
    EXPECT_GE(host.Output().WaitFor("Start -> 0", 0, kLineTimeoutMs), 0);
    EXPECT_TRUE(host.Run("menu", "menu none"));
    EXPECT_EQ(host.Finish(), 0);
}

TEST(PluginHostFailures, OleFailureFailsTheLibrary) {
    SetEnvironmentVariableA("MAXHOST_COM_MTA", "1");
    MaxHostSession host;
    const bool started = host.Start(MaxHostPath(), PluginPath());
    SetEnvironmentVariableA("MAXHOST_COM_MTA", nullptr);
    ASSERT_TRUE(started);
    const long box = host.Output().WaitFor("MessageBox AfxOleInit Error!", 0, kLineTimeoutMs);
    EXPECT_GE(box, 0);
    EXPECT_GE(host.Output().WaitFor("exit 1", 0, kLineTimeoutMs), 0);
    EXPECT_EQ(host.Finish(), 1);
}

// The store is not running: the plug-in starts PXStore.exe (the fake store) from the
// installation folder in the prefix, and the fake store logs to a file.
class PluginLauncher : public ::testing::Test {
protected:
    void SetUp() override {
        char windows[1024] = "";
        GetSystemWindowsDirectoryA(windows, sizeof(windows));
        BOOL wow64 = FALSE;
        IsWow64Process(GetCurrentProcess(), &wow64);
        folder = StoreInstallFolder(windows, wow64 != FALSE);
        CreateDirectoryA(folder.c_str(), nullptr);
        program = folder + "\\PXStore.exe";
        ASSERT_TRUE(
            CopyFileA((TestProgramFolder() + "fake_store.exe").c_str(), program.c_str(), FALSE));
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof(temp), temp);
        logPath =
            std::string(temp) + "px-fake-store-" + std::to_string(GetCurrentProcessId()) + ".log";
        DeleteFileA(logPath.c_str());
        SetEnvironmentVariableA("PX_FAKE_STORE_LOG", logPath.c_str());
        quitEvent = CreateEventA(nullptr, TRUE, FALSE, "PXFakeStoreQuit");
        ResetEvent(quitEvent);
        ASSERT_EQ(FindMessageWindow(StoreWindowTitle().c_str()), nullptr) << "a store runs already";
    }

    void TearDown() override {
        EXPECT_EQ(host.Finish(), 0);
        // A started fake store logs "exit" once told to end.
        SetEvent(quitEvent);
        if (!StoreLog().empty()) {
            EXPECT_TRUE(WaitForLog("exit"));
        }
        CloseHandle(quitEvent);
        SetEnvironmentVariableA("PX_FAKE_STORE_LOG", nullptr);
        SetEnvironmentVariableA("PX_FAKE_STORE_WINDOW_DELAY_MS", nullptr);
        SetEnvironmentVariableA("PX_FAKE_STORE_NO_WINDOW", nullptr);
        DeleteFileA(program.c_str());
        DeleteFileA(logPath.c_str());
    }

    void StartHost() {
        ASSERT_TRUE(host.Start(MaxHostPath(), PluginPath()));
        ASSERT_GE(host.Output().WaitFor("ready", 0, kLineTimeoutMs), 0);
    }

    std::vector<std::string> StoreLog() {
        std::vector<std::string> lines;
        std::ifstream in(logPath);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    bool WaitForLog(const std::string& line) {
        for (DWORD waited = 0; waited < kLineTimeoutMs; waited += 50) {
            if (Contains(StoreLog(), line)) {
                return true;
            }
            Sleep(50);
        }
        return false;
    }

    std::string Identity() { return "APPHOSTID 14 APPPID " + std::to_string(host.ProcessId()); }

    std::string folder;
    std::string program;
    std::string logPath;
    HANDLE quitEvent = nullptr;
    MaxHostSession host;
};

TEST_F(PluginLauncher, VisibleStartWaitsForTheStoreWindow) {
    // The window comes late: only a launcher that waits can post to it.
    SetEnvironmentVariableA("PX_FAKE_STORE_WINDOW_DELAY_MS", "1500");
    StartHost();
    ASSERT_TRUE(host.Run("action 5", "action 5 -> 1"));
    EXPECT_TRUE(WaitForLog("post 0x413 0"));
    const std::vector<std::string> log = StoreLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "start " + Identity());
    EXPECT_EQ(log[1], "cwd " + folder);
    EXPECT_EQ(log[2], "window");
    EXPECT_FALSE(Contains(host.Output().Since(0), kNoStoreBox));
}

TEST_F(PluginLauncher, CheckForUpdateStartsTheStoreHidden) {
    StartHost();
    ASSERT_TRUE(host.Run("action 8", "action 8 -> 1"));
    EXPECT_TRUE(WaitForLog("post 0x417 0"));
    const std::vector<std::string> log = StoreLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "start HideWindows" + Identity());
    EXPECT_TRUE(Contains(log, std::string("copydata 0x43B host ") + kBuildText));
}

TEST_F(PluginLauncher, MissingProgramShowsBothMessagesInOrder) {
    DeleteFileA(program.c_str());
    StartHost();
    const size_t mark = host.Output().Size();
    ASSERT_TRUE(host.Run("action 6", "action 6 -> 1"));
    const std::vector<std::string> output = host.Output().Since(mark);
    const std::vector<std::string> boxes = {kNoProgramBox, kNoStoreBox};
    std::vector<std::string> shown;
    std::copy_if(output.begin(), output.end(), std::back_inserter(shown),
                 [](const std::string& l) { return l.compare(0, 11, "MessageBox ") == 0; });
    EXPECT_EQ(shown, boxes);
}

TEST_F(PluginLauncher, StoreThatNeverShowsItsWindowFailsAfterTheWait) {
    SetEnvironmentVariableA("PX_FAKE_STORE_NO_WINDOW", "1");
    StartHost();
    const size_t mark = host.Output().Size();
    // 40 looks 500 ms apart.
    ASSERT_TRUE(host.Run("action 5", "action 5 -> 1", 60000));
    const std::vector<std::string> output = host.Output().Since(mark);
    EXPECT_TRUE(Contains(output, kNoStoreBox));
    EXPECT_FALSE(Contains(output, kNoProgramBox));
    EXPECT_TRUE(WaitForLog("start " + Identity()));
}

}  // namespace
