// The host link's windows under real message loops: every store message reaches the
// right action, hostile WM_COPYDATA from another process is survived, the host answers
// the greeting, waiting for senders cannot deadlock, the host query ends, and the store
// quits only when the last host window of any ID is gone. A second process,
// hostlink_peer.exe (next to this program), plays the foreign sender and other hosts.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "hostlink/host_link_text.h"
#include "hostlink/message_window.h"
#include "link_test_support.h"

namespace {

const std::string kSentinel = "flow:" + std::to_string(WM_PX_CLOSE_PROGRESS);

HWND StoreWindow() {
    return FindMessageWindow(StoreWindowTitle().c_str());
}

int SendText(const std::string& peerTitle, UINT code, const std::string& text) {
    TextSendRequest request;
    request.peerTitle = peerTitle;
    request.code = code;
    request.text = text;
    return SendTextToPeer(request);
}

// Posts a sentinel behind whatever the test sent and waits for it, so that everything
// before it has been handled; returns what was logged before the sentinel.
std::vector<std::string> SettledEvents(EventLog& log, HWND window, UINT sentinel) {
    PostMessageA(window, sentinel, 0, 0);
    EXPECT_TRUE(log.WaitFor(kSentinel));
    std::vector<std::string> events = log.Events();
    events.pop_back();
    log.Clear();
    return events;
}

// Starts hostlink_peer.exe from this program's folder with `arguments`.
class PeerProcess {
public:
    bool Start(const std::string& arguments) {
        char path[MAX_PATH];
        const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
        if (length == 0 || length >= sizeof(path)) {
            return false;
        }
        std::string commandLine(path, length);
        commandLine = commandLine.substr(0, commandLine.find_last_of("\\/") + 1);
        commandLine = "\"" + commandLine + "hostlink_peer.exe\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        std::vector<char> writable(commandLine.begin(), commandLine.end());
        writable.push_back('\0');
        if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &m_process)) {
            return false;
        }
        CloseHandle(m_process.hThread);
        return true;
    }
    // The peer's exit code, or -1 if it did not end within the generous limit.
    int Wait() {
        if (m_process.hProcess == nullptr) {
            return -1;
        }
        DWORD code = 0;
        const bool ended = WaitForSingleObject(m_process.hProcess, 30000) == WAIT_OBJECT_0;
        if (!ended) {
            TerminateProcess(m_process.hProcess, 99);
            WaitForSingleObject(m_process.hProcess, INFINITE);
        }
        GetExitCodeProcess(m_process.hProcess, &code);
        CloseHandle(m_process.hProcess);
        m_process.hProcess = nullptr;
        return ended ? static_cast<int>(code) : -1;
    }
    // Ends the peer at once.
    void Kill() {
        if (m_process.hProcess != nullptr) {
            TerminateProcess(m_process.hProcess, 98);
        }
    }
    ~PeerProcess() { Wait(); }

private:
    PROCESS_INFORMATION m_process = {};
};

bool WaitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 400; ++i) {
        if (condition()) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

class StoreWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(StoreWindow(), nullptr) << "a store window was left behind";
        ASSERT_TRUE(store.thread.Start());
        window = StoreWindow();
        ASSERT_EQ(window, store.window->Window());
    }
    std::vector<std::string> Settled() {
        return SettledEvents(store.actions.log, window, WM_PX_CLOSE_PROGRESS);
    }

    StoreOnThread store;
    HWND window = nullptr;
};

TEST_F(StoreWindowTest, PostedMessagesReachTheirActions) {
    struct Case {
        UINT message;
        WPARAM wParam;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {WM_PX_BRING_TO_FRONT, 0, {"front"}},
        {WM_PX_SHOW_STORE, 0, {"front", "store"}},
        {WM_PX_SHOW_MY_FILES, 0, {"front", "myfiles"}},
        {WM_PX_SHOW_EMPTY, 0, {"front", "save:"}},
        {WM_PX_CHECK_UPDATE, 1, {"update:silent"}},
        {WM_PX_CHECK_UPDATE, 0, {"update:interactive"}},
        {WM_PX_SHOW_CAMERA_SHELF, 0, {"shelf"}},
        {WM_PX_RESTACK, 0, {"restack"}},
        {WM_PX_UPDATE_DESCRIPTOR_SILENT, 0, {"flow:1298"}},
        {WM_PX_QUERY_HOST, 0, {}},  // a host's message, not the store's
        {WM_PX_HOST_HELLO, 0, {}},
        {WM_USER + 7, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        PostMessageA(window, c.message, c.wParam, 0);
        EXPECT_EQ(Settled(), c.expected);
    }
}

TEST_F(StoreWindowTest, UpdateCheckIsDroppedWhileOneRuns) {
    store.actions.updateBusy = true;
    PostMessageA(window, WM_PX_CHECK_UPDATE, 1, 0);
    PostMessageA(window, WM_PX_CHECK_UPDATE, 0, 0);
    EXPECT_EQ(Settled(), std::vector<std::string>{});
    store.actions.updateBusy = false;
    PostMessageA(window, WM_PX_CHECK_UPDATE, 0, 0);
    EXPECT_EQ(Settled(), std::vector<std::string>{"update:interactive"});
}

TEST_F(StoreWindowTest, TextsReachTheirActionsScannedAsTheWireSays) {
    const std::string title = StoreWindowTitle();
    const std::string longText(700, 'r');
    struct Case {
        UINT code;
        std::string text;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {PXCD_SAVE_FILE, "Z:\\no\\such\\scene.max", {"front", "save:Z:\\no\\such\\scene.max"}},
        {PXCD_SAVE_FILE, "", {"front", "save:"}},
        {PXCD_HOST_IDENTITY, "APPHOSTID 3 APPPID 777", {"identity:3,777"}},
        {PXCD_HOST_IDENTITY, "APPHOSTID 3 PID 777", {}},
        {PXCD_HOST_IDENTITY, "%s%n%s%n", {}},
        {PXCD_PLUGIN_BUILD, FormatPluginBuild(PluginBuild{1, 0, 72}), {"build:1,0,72"}},
        {PXCD_PLUGIN_BUILD, "PX_PLUGIN_BUILD_VER %d PX_PLUGIN_BUILD_MAJOR %s%n", {}},
        {PXCD_HOST_REPLY, "cam1.jpg", {"reply:cam1.jpg"}},
        {PXCD_HOST_REPLY, longText, {"reply:" + longText.substr(0, 520)}},
        {PXCD_OPEN_FILE, "C:\\model.max", {}},  // meant for a host
        {0x999, "anything", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        EXPECT_EQ(SendText(title, c.code, c.text), 1);
        EXPECT_EQ(Settled(), c.expected);
    }
}

TEST_F(StoreWindowTest, SavedPathIsExpandedToItsLongForm) {
    char folder[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof(folder), folder), 0u);
    const std::string longPath = std::string(folder) + "hostlink long scene name.max";
    const HANDLE file = CreateFileA(longPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    char expected[MAX_PATH];
    ASSERT_NE(GetLongPathNameA(longPath.c_str(), expected, sizeof(expected)), 0u);
    char shortPath[MAX_PATH];
    ASSERT_NE(GetShortPathNameA(longPath.c_str(), shortPath, sizeof(shortPath)), 0u);

    EXPECT_EQ(SendText(StoreWindowTitle(), PXCD_SAVE_FILE, shortPath), 1);
    EXPECT_EQ(Settled(), (std::vector<std::string>{"front", std::string("save:") + expected}));
    DeleteFileA(longPath.c_str());
}

TEST_F(StoreWindowTest, HostilePayloadsFromAnotherProcessAreReadSafely) {
    PeerProcess peer;
    ASSERT_TRUE(peer.Start("hostile"));
    ASSERT_EQ(peer.Wait(), 0);
    // In the peer's order: 3 bytes without a zero, nothing, a null pointer, 5000 bytes,
    // and a build text whose size cuts its last number short.
    const std::vector<std::string> expected = {
        "reply:abc", "reply:", "reply:", "reply:" + std::string(520, 'x'), "build:1,0,7"};
    EXPECT_EQ(Settled(), expected);
}

// A host that answers WM_PX_QUERY_HOST with "cam1.jpg" the way senders on this link do:
// from a worker, after its handler has returned.
class ReplyingHost {
public:
    explicit ReplyingHost(int hostId) : m_hostId(hostId) {}
    ~ReplyingHost() {
        m_thread.Stop();
        m_workers.WaitAll();
    }
    bool Start() { return m_thread.Start(); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<ReplyingHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr && message == WM_PX_QUERY_HOST) {
            TextSendRequest request;
            request.peerTitle = StoreWindowTitle();
            request.code = PXCD_HOST_REPLY;
            request.text = "cam1.jpg";
            request.senderWindow = window;
            self->m_workers.StartTextSender(request);
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    int m_hostId;
    HWND m_window = nullptr;
    CLinkWorkers m_workers;
    WindowThread m_thread{[this] {
                              m_window = CreateMessageOnlyWindow("HostLinkTestReplier",
                                                                 HostWindowTitle(m_hostId).c_str(),
                                                                 WindowProc, this);
                              return m_window != nullptr;
                          },
                          [this] { DestroyWindow(m_window); }};
};

TEST_F(StoreWindowTest, HostQueryFromAnotherThreadTakesTheReply) {
    ReplyingHost host(9);
    ASSERT_TRUE(host.Start());
    EXPECT_EQ(store.window->QueryHost(9, 20000), "cam1.jpg");
    EXPECT_EQ(store.window->QueryHost(4, 20000), "") << "there is no host with ID 4";
    EXPECT_EQ(Settled(), (std::vector<std::string>{"reply:cam1.jpg"}));
}

TEST(HostQuery, OnTheStoreThreadTakesAReplySentWhileItPolls) {
    // In the store the query runs on the thread that owns the store window; the reply
    // arrives after WM_PX_QUERY_HOST has returned and must get through while it polls.
    RecordingStoreActions actions;
    CPXHidMessageWin store(&actions);
    ASSERT_TRUE(store.Create());
    {
        ReplyingHost host(5);
        ASSERT_TRUE(host.Start());
        EXPECT_EQ(store.QueryHost(5, 20000), "cam1.jpg");
    }
    store.Destroy();
}

TEST(HostQuery, EndsWithAnEmptyTextWhenTheHostNeverReplies) {
    HostOnThread host;  // the 3ds Max host window ignores the query
    ASSERT_TRUE(host.thread.Start());
    RecordingStoreActions actions;
    CPXHidMessageWin store(&actions);
    ASSERT_TRUE(store.Create());
    EXPECT_EQ(store.QueryHost(kHostId3dsMax, 1000), "");
    store.Destroy();
}

TEST(LinkWorkers, WaitingOnTheThreadThatOwnsThePeerDoesNotDeadlock) {
    RecordingStoreActions actions;
    CPXHidMessageWin store(&actions);
    ASSERT_TRUE(store.Create());
    CLinkWorkers workers;
    TextSendRequest request;
    request.peerTitle = StoreWindowTitle();
    request.code = PXCD_HOST_REPLY;
    request.text = "to myself";
    ASSERT_TRUE(workers.StartTextSender(request));
    workers.WaitAll();  // hangs here if sent messages are not delivered while waiting
    EXPECT_EQ(actions.log.Events(), std::vector<std::string>{"reply:to myself"});
    store.Destroy();
}

// A host whose thread does not look at its messages for 30 s (3ds Max busy or hung): a
// text sent to it, the workers' wait and a query all end within their bounds, far sooner.
TEST(BusyPeer, SendsWaitsAndQueriesEndWithinTheirBounds) {
    PeerProcess peer;
    ASSERT_TRUE(peer.Start("busy 7 30"));
    ASSERT_TRUE(WaitUntil([] { return FindMessageWindow(HostWindowTitle(7).c_str()) != nullptr; }));
    // Generous against the bounds (a loaded machine), far below the peer's 30 s.
    const ULONGLONG kLimitMs = 20000;

    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(SendText(HostWindowTitle(7), PXCD_OPEN_FILE, "C:\\a.max"), 1);
    EXPECT_LT(GetTickCount64() - start, kLimitMs) << "SendTextToPeer";

    CLinkWorkers workers;
    TextSendRequest request;
    request.peerTitle = HostWindowTitle(7);
    request.code = PXCD_OPEN_FILE;
    request.text = "C:\\b.max";
    ASSERT_TRUE(workers.StartTextSender(request));
    start = GetTickCount64();
    workers.WaitAll();
    EXPECT_LT(GetTickCount64() - start, kLimitMs) << "WaitAll";

    RecordingStoreActions actions;
    CPXHidMessageWin store(&actions);
    ASSERT_TRUE(store.Create());
    start = GetTickCount64();
    EXPECT_EQ(store.QueryHost(7, 60000), "");
    EXPECT_LT(GetTickCount64() - start, kLimitMs) << "QueryHost";
    store.Destroy();
    peer.Kill();
}

TEST(LinkWorkers, ATextForAMissingPeerIsNotSent) {
    ASSERT_EQ(StoreWindow(), nullptr);
    EXPECT_EQ(SendText(StoreWindowTitle(), PXCD_SAVE_FILE, "C:\\a.max"), 0);
    EXPECT_EQ(SendText(HostWindowTitle(kHostId3dsMax), PXCD_OPEN_FILE, "C:\\a.max"), 0);
    EXPECT_FALSE(PXMaxHidCommWin::PostToStore(WM_PX_SHOW_STORE));
}

class HostWindowTest : public StoreWindowTest {
protected:
    void SetUp() override {
        StoreWindowTest::SetUp();
        ASSERT_TRUE(host.thread.Start());
        hostWindow = CPXHidMessageWin::FindHostWindow(kHostId3dsMax);
        ASSERT_EQ(hostWindow, host.window->Window());
    }
    void TearDown() override {
        // The store goes first, or the host's departure would make it wait and quit.
        store.thread.Stop();
        host.thread.Stop();
    }

    HostOnThread host;
    HWND hostWindow = nullptr;
};

TEST_F(HostWindowTest, PreparesItsTitleAndIdentity) {
    EXPECT_EQ(host.window->Title(), HostWindowTitle(14));
    EXPECT_EQ(host.window->IdentityText(),
              "APPHOSTID 14 APPPID " + std::to_string(GetCurrentProcessId()));
    ASSERT_TRUE(host.window->SendIdentity());
    host.window->WaitForSenders();
    EXPECT_EQ(Settled(),
              std::vector<std::string>{"identity:14," + std::to_string(GetCurrentProcessId())});
}

TEST_F(HostWindowTest, GreetingIsAnsweredWithTheBuildAndASilentUpdateCheck) {
    PostMessageA(hostWindow, WM_PX_HOST_HELLO, 0, 0);
    ASSERT_TRUE(store.actions.log.WaitFor("update:silent"));
    ASSERT_TRUE(store.actions.log.WaitFor("build:1,0,72"));
    EXPECT_EQ(store.actions.log.Events().size(), 2u);
    store.actions.log.Clear();

    PostMessageA(hostWindow, WM_PX_SEND_BUILD, 0, 0);
    ASSERT_TRUE(store.actions.log.WaitFor("build:1,0,72"));
    EXPECT_EQ(Settled(), std::vector<std::string>{"build:1,0,72"});
}

TEST_F(HostWindowTest, TextsFromTheStoreReachThePlugin) {
    ASSERT_TRUE(store.window->SendTextToHost(14, PXCD_OPEN_FILE, "C:\\dl\\model.max", window));
    ASSERT_TRUE(store.window->SendTextToHost(14, PXCD_IMAGE_SELECTED, "pic.jpg", window));
    ASSERT_TRUE(store.window->SendTextToHost(14, PXCD_HOST_REPLY, "x", window));
    ASSERT_TRUE(store.window->SendTextToHost(14, PXCD_SAVE_THUMBNAILS, "C:\\thumbs", window));
    store.window->WaitForWorkers();
    // Each worker races the others; the order of arrival is not part of the wire.
    std::vector<std::string> events = host.actions.log.Events();
    std::sort(events.begin(), events.end());
    EXPECT_EQ(events, (std::vector<std::string>{"open:C:\\dl\\model.max", "thumbs:C:\\thumbs"}));
}

TEST(HostGone, StoreQuitsOnlyWhenNoHostOfAnyIdIsLeft) {
    ASSERT_EQ(StoreWindow(), nullptr);
    StoreOnThread store;
    ASSERT_TRUE(store.thread.Start());
    PeerProcess peer;
    ASSERT_TRUE(peer.Start("hosts 14 3"));
    const HWND host14 = [] {
        HWND found = nullptr;
        WaitUntil([&] { return (found = CPXHidMessageWin::FindHostWindow(14)) != nullptr; });
        return found;
    }();
    ASSERT_NE(host14, nullptr);
    ASSERT_TRUE(WaitUntil([] { return CPXHidMessageWin::CountLiveHosts() == 2; }));

    // 3ds Max goes; the peer's host with ID 3 stays.
    PostMessageA(host14, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([] { return CPXHidMessageWin::FindHostWindow(14) == nullptr; }));
    // The peer posted WM_PX_HOST_GONE before its window went; the sentinel queues
    // behind it, so once the sentinel is handled the store has counted.
    EXPECT_EQ(SettledEvents(store.actions.log, StoreWindow(), WM_PX_CLOSE_PROGRESS),
              std::vector<std::string>{})
        << "the store must not quit while host 3 is there";

    PostMessageA(CPXHidMessageWin::FindHostWindow(3), WM_CLOSE, 0, 0);
    EXPECT_EQ(peer.Wait(), 0);
    EXPECT_TRUE(store.actions.log.WaitFor("quit", std::chrono::seconds(30)));
    store.thread.Join();
}

}  // namespace
