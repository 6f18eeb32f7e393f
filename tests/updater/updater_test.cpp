// The store's update flow end to end under Wine: a real store window (CPXHidMessageWin)
// receives WM_PX_CHECK_UPDATE and PXCD_PLUGIN_BUILD the way a host sends them, a fake main
// window forwards them to a real CUpdateChecker, the web side stand-in plays the
// configuration service and serves the update program, dlgwatch.exe answers the message
// boxes, and update_marker.exe leaves a marker when the updater starts it.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "hostlink/host_link_codes.h"
#include "hostlink/store_link_window.h"
#include "store/updater/download_progress_ids.h"
#include "store/updater/update_checker.h"
#include "tests/updater/shell_execute_recorder.h"
#include "tests/updater/updater_fixture.h"

using namespace updater_test;

namespace {

constexpr DWORD kWaitMs = 30000;
constexpr UINT kStartCheck = WM_APP + 1;
constexpr int kHostId = 14;
const char kMainWindowClass[] = "UpdaterTestMain";

const char kNoUpdateLine[] = "dialog Information | No updates are currently available.";
const char kOptionalLine[] =
    "dialog Vellamar Update | An optional update is available, download it?";
const char kServiceLine[] =
    "dialog PXStore | The Plenthra service could not be contacted. Please try again later.";

// What the progress window showed right after it opened.
struct ProgressSeen {
    std::string caption;
    std::string message;
    RECT rect{};
};

// The store's main window as far as the update flow goes: its link actions lead to the
// checker, the updater asks it for its windows and folders.
class FakeStore : public IStoreLinkActions, public IUpdaterHost {
public:
    explicit FakeStore(const std::string& transferDirectory)
        : m_transfer(transferDirectory),
          m_updateHost("127.0.0.1:" + std::to_string(WebSidePort())),
          m_link(this),
          m_checker(*this) {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = MainProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kMainWindowClass;
        RegisterClassA(&windowClass);
        m_main =
            CreateWindowExA(0, kMainWindowClass, "Vellamar", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 160,
                            120, 640, 480, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(m_main, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_link.Create();
    }
    ~FakeStore() override {
        m_checker.Shutdown();
        m_link.Destroy();
        DestroyWindow(m_main);
    }
    FakeStore(const FakeStore&) = delete;
    FakeStore& operator=(const FakeStore&) = delete;

    // The host's side: the plain message and the build text, as a plug-in sends them.
    void PostCheck(bool silent) {
        const int before = m_busyQueries;
        PostMessageA(m_link.Window(), WM_PX_CHECK_UPDATE, silent ? 1 : 0, 0);
        PumpUntil([&] { return m_busyQueries > before; }, kWaitMs);
    }
    void SendBuild(const char* text) {
        char payload[kLinkPayloadSize] = {};
        lstrcpynA(payload, text, sizeof payload);
        COPYDATASTRUCT data{PXCD_PLUGIN_BUILD, sizeof payload, payload};
        SendMessageA(m_link.Window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    }

    // Runs the message loop until the check has ended without a download.
    bool WaitUntilIdle() {
        return PumpUntil([&] { return !m_checker.IsBusy(); }, kWaitMs);
    }
    bool WaitForMessage(UINT message) {
        return PumpUntil([&] { return Received(message); }, kWaitMs);
    }
    bool Received(UINT message) const {
        return std::find(m_flow.begin(), m_flow.end(), message) != m_flow.end();
    }

    CUpdateChecker& Checker() { return m_checker; }
    const std::vector<UINT>& Flow() const { return m_flow; }
    const std::vector<ProgressSeen>& Progress() const { return m_progress; }
    int CheckRequests() const { return m_checkRequests; }
    int BusyQueries() const { return m_busyQueries; }
    void SetUpdateHost(const std::string& host) { m_updateHost = host; }
    HWND Main() const { return m_main; }

    // IUpdaterHost
    HWND MessageWindow() const override { return m_link.Window(); }
    HWND MainWindow() const override { return m_main; }
    int HostId() const override { return kHostId; }
    std::string TransferDirectory() const override { return m_transfer; }
    std::string UpdateHost() const override { return m_updateHost; }

    // IStoreLinkActions
    void BringToFront() override {}
    void Restack() override {}
    void ShowStore() override {}
    void ShowMyFiles() override {}
    void SaveFile(const std::string&) override {}
    bool IsUpdateBusy() override {
        ++m_busyQueries;
        return m_checker.IsBusy();
    }
    void CheckForUpdate(bool silent) override {
        ++m_checkRequests;
        m_checker.MarkBusy();
        PostMessageA(m_main, kStartCheck, silent ? 1 : 0, 0);
    }
    void ShowCameraShelf() override {}
    void HostIdentity(int, int) override {}
    void HostReply(const std::string&) override {}
    void PluginBuild(int ver, int major, int minor) override {
        m_checker.SetPluginVersion(ver, major, minor);
    }
    void QuitStore() override {}
    LRESULT UpdateFlowMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        m_flow.push_back(message);
        const LRESULT result = m_checker.HandleMessage(message, wParam, lParam);
        if (message == WM_PX_SHOW_PROGRESS) {
            NoteProgressWindow();
        }
        return result;
    }

private:
    static LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<FakeStore*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == kStartCheck && self != nullptr) {
            self->m_checker.StartUpdateCheck(wParam != 0);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    // The progress window is a dialog of this thread with the progress bar in it.
    void NoteProgressWindow() {
        EnumThreadWindows(GetCurrentThreadId(), NoteIfProgressWindow,
                          reinterpret_cast<LPARAM>(this));
    }

    static BOOL CALLBACK NoteIfProgressWindow(HWND window, LPARAM param) {
        if (!IsWindowVisible(window) || GetDlgItem(window, IDC_DOWNLOAD_PROGRESS_BAR) == nullptr) {
            return TRUE;
        }
        ProgressSeen seen;
        char text[256];
        GetWindowTextA(window, text, sizeof text);
        seen.caption = text;
        GetDlgItemTextA(window, IDC_DOWNLOAD_MESSAGE_LINE, text, sizeof text);
        seen.message = text;
        GetWindowRect(window, &seen.rect);
        reinterpret_cast<FakeStore*>(param)->m_progress.push_back(seen);
        return FALSE;
    }

    std::string m_transfer;
    std::string m_updateHost;
    CPXHidMessageWin m_link;
    CUpdateChecker m_checker;
    HWND m_main = nullptr;
    std::vector<UINT> m_flow;
    std::vector<ProgressSeen> m_progress;
    int m_checkRequests = 0;
    int m_busyQueries = 0;
};

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(WebSidePort(), 0) << "run through tests/run_with_webside.sh";
        ResetWebSideLog();
        DeleteFileA(Served("PXUpdate.xml").c_str());
        const std::string program = Served("update_marker.exe");
        if (!FileExists(program)) {
            ASSERT_TRUE(
                CopyFileA((ProgramFolder() + "update_marker.exe").c_str(), program.c_str(), FALSE));
        }
        m_programBytes = ReadWholeFile(program);
        ASSERT_FALSE(m_programBytes.empty());
    }

    static std::string Served(const std::string& name) { return WebSideRoot() + "\\" + name; }
    static std::string FileUrl(const std::string& nameAndQuery) {
        return "http://127.0.0.1:" + std::to_string(WebSidePort()) + "/files/" + nameAndQuery;
    }
    // The service's next answer. `link` goes into the XML as it stands (so "&amp;" there
    // is a plain "&" to the reader).
    static void ServeDescriptor(const std::string& body) {
        ASSERT_TRUE(WriteWholeFile(Served("PXUpdate.xml"), body));
    }
    static std::string LinkDescriptor(const std::string& link, bool required) {
        return std::string("<?xml version=\"1.0\"?>\r\n<PXUpdate>\r\n<AerinPluginUpdateLink") +
               (required ? " required=\"yes\"" : "") + ">" + link +
               "</AerinPluginUpdateLink>\r\n</PXUpdate>\r\n";
    }
    static std::vector<std::string> PathsStartingWith(const std::string& prefix) {
        std::vector<std::string> found;
        for (const std::string& path : WebSideRequestPaths()) {
            if (path.compare(0, prefix.size(), prefix) == 0) {
                found.push_back(path);
            }
        }
        return found;
    }
    static std::string ServiceQuery(const char* version, int counter) {
        return std::string("/aerin/aerinpluginconfigurationservice.cfm?intHostID=14&stgVersion=") +
               version + "&stgUpdateSource=1.0.0&temp=" + std::to_string(counter);
    }
    static bool WaitForFile(const std::string& path) {
        return PumpUntil([&] { return FileExists(path); }, kWaitMs);
    }

    std::string m_programBytes;
};

TEST_F(UpdaterTest, ServiceRequestsCountChecksAndCarryTheBuild) {
    TempFolder transfer("px_upd_requests");
    FakeStore store(transfer.Path());
    DialogWatcher watcher("ok");
    ASSERT_TRUE(watcher.Started());
    ServeDescriptor("<?xml version=\"1.0\"?>\r\n<PXUpdate></PXUpdate>\r\n");

    store.PostCheck(false);
    ASSERT_TRUE(store.WaitUntilIdle());
    EXPECT_EQ(watcher.TakeLinesAfterSentinel(), std::vector<std::string>{kNoUpdateLine});

    store.PostCheck(true);
    ASSERT_TRUE(store.WaitUntilIdle());
    EXPECT_EQ(watcher.TakeLinesAfterSentinel(), std::vector<std::string>{});

    // A build text with the wrong words changes nothing; the right one is sent from then on.
    store.SendBuild("PX_PLUGIN_BUILD_VER 3 PX_PLUGIN_BUILD_MAJOR 3 PX_PLUGIN_BUILD_MINUR 3");
    store.PostCheck(true);
    ASSERT_TRUE(store.WaitUntilIdle());
    store.SendBuild("PX_PLUGIN_BUILD_VER 1 PX_PLUGIN_BUILD_MAJOR 0 PX_PLUGIN_BUILD_MINOR 72");
    store.PostCheck(true);
    ASSERT_TRUE(store.WaitUntilIdle());

    const std::vector<std::string> expected = {ServiceQuery("1.0.0", 1), ServiceQuery("1.0.0", 2),
                                               ServiceQuery("1.0.0", 3), ServiceQuery("1.0.72", 4)};
    EXPECT_EQ(WebSideRequestPaths(), expected);
    EXPECT_NE(WebSideRequest("GET", "/_log").find("\"User-Agent\": \"My Session\""),
              std::string::npos);
    EXPECT_EQ(ReadWholeFile(transfer.Path() + "\\Updates\\PXUpdate.xml"),
              ReadWholeFile(Served("PXUpdate.xml")));
    EXPECT_EQ(store.CheckRequests(), 4);
}

TEST_F(UpdaterTest, ChecksThatEndWithoutADownload) {
    struct Case {
        const char* label;
        std::string descriptor;
        bool silent;
        std::vector<std::string> lines;  // what the user saw (dlgwatch answers No)
    };
    const std::string link = FileUrl("update_marker.exe");
    const Case cases[] = {
        {"silent, optional update", LinkDescriptor(link, false), true, {}},
        {"interactive, optional update, No", LinkDescriptor(link, false), false, {kOptionalLine}},
        {"silent, no link", "<PXUpdate/>", true, {}},
        {"interactive, descriptor that does not parse", "<PXUpdate><a></b></PXUpdate>", false, {}},
    };
    TempFolder transfer("px_upd_nodownload");
    FakeStore store(transfer.Path());
    DialogWatcher watcher("no");
    ASSERT_TRUE(watcher.Started());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ResetWebSideLog();
        ServeDescriptor(c.descriptor);
        store.PostCheck(c.silent);
        ASSERT_TRUE(store.WaitUntilIdle());
        EXPECT_EQ(watcher.TakeLinesAfterSentinel(), c.lines);
        EXPECT_EQ(PathsStartingWith("/files/"), std::vector<std::string>{});
        EXPECT_EQ(PathsStartingWith("/aerin/").size(), 1u);
    }
    EXPECT_FALSE(store.Received(WM_PX_SHOW_PROGRESS));
    EXPECT_FALSE(store.Received(WM_PX_RUN_DOWNLOADED));
}

// A required update during a silent check: fetched with the progress window, no question,
// started from the transfer directory. A second check meanwhile is dropped, and the "&" of
// the link reaches the server entity-encoded.
TEST_F(UpdaterTest, SilentRequiredUpdateRunsWithoutAsking) {
    TempFolder transfer("px_upd_required");
    FakeStore store(transfer.Path());
    DialogWatcher watcher("ok");
    ASSERT_TRUE(watcher.Started());
    // Paced so that the second check surely arrives during the download.
    const std::string query =
        "rate=" + std::to_string(m_programBytes.size() / 2) + "&amp;from=check";
    ServeDescriptor(LinkDescriptor(FileUrl("update_marker.exe?" + query), true));
    const ShellExecuteRecorder shell;
    ASSERT_TRUE(shell.Installed());

    store.PostCheck(true);
    ASSERT_TRUE(store.WaitForMessage(WM_PX_SHOW_PROGRESS));
    store.PostCheck(false);
    EXPECT_EQ(store.BusyQueries(), 2);
    EXPECT_EQ(store.CheckRequests(), 1);

    const std::string saved = transfer.Path() + "\\Updates\\temp\\update.exe";
    ASSERT_TRUE(WaitForFile(saved + ".ran"));
    ASSERT_TRUE(store.WaitUntilIdle());
    EXPECT_EQ(ReadWholeFile(saved + ".ran"),
              "program=" + saved + "\ncwd=" + transfer.Path() + "\n");
    EXPECT_EQ(ReadWholeFile(saved), m_programBytes);
    EXPECT_EQ(shell.Files(), std::vector<std::string>{saved});
    const std::vector<UINT> flow = {WM_PX_UPDATE_DESCRIPTOR_SILENT, WM_PX_SHOW_PROGRESS,
                                    WM_PX_CLOSE_PROGRESS, WM_PX_RUN_DOWNLOADED};
    EXPECT_EQ(store.Flow(), flow);

    ASSERT_EQ(store.Progress().size(), 1u);
    EXPECT_EQ(store.Progress()[0].caption, "Downloading Required Update");
    EXPECT_EQ(store.Progress()[0].message, "Downloading a required update for Plenthra");
    RECT main;
    GetWindowRect(store.Main(), &main);
    EXPECT_EQ(store.Progress()[0].rect.left, main.left);
    EXPECT_EQ(store.Progress()[0].rect.top, main.top);

    EXPECT_EQ(PathsStartingWith("/aerin/").size(), 1u);
    EXPECT_EQ(PathsStartingWith("/files/"),
              std::vector<std::string>{"/files/update_marker.exe?" + query});
    // Only the progress window was on screen.
    for (const std::string& line : watcher.TakeLinesAfterSentinel()) {
        EXPECT_EQ(line.rfind("dialog Downloading Required Update | ", 0), 0u) << line;
    }
}

// An optional update accepted by the user; the server names the program x.exe.
TEST_F(UpdaterTest, InteractiveOptionalUpdateYesRunsTheServersFileName) {
    TempFolder transfer("px_upd_optional");
    FakeStore store(transfer.Path());
    DialogWatcher watcher("yes");
    ASSERT_TRUE(watcher.Started());
    ServeDescriptor(LinkDescriptor(FileUrl("update_marker.exe?disposition=x.exe"), false));

    store.PostCheck(false);
    const std::string saved = transfer.Path() + "\\Updates\\temp\\x.exe";
    ASSERT_TRUE(WaitForFile(saved + ".ran"));
    ASSERT_TRUE(store.WaitUntilIdle());
    EXPECT_EQ(ReadWholeFile(saved + ".ran"),
              "program=" + saved + "\ncwd=" + transfer.Path() + "\n");
    EXPECT_FALSE(FileExists(transfer.Path() + "\\Updates\\temp\\update.exe"));
    ASSERT_EQ(store.Progress().size(), 1u);
    EXPECT_EQ(store.Progress()[0].caption, "Download Progress");
    EXPECT_EQ(store.Progress()[0].message, "Downloading the latest version of Plenthra");
    const std::vector<std::string> lines = watcher.TakeLinesAfterSentinel();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], kOptionalLine);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind("dialog Download Progress | ", 0), 0u) << lines[i];
    }
}

// Names from Content-Disposition that would leave the download folder are refused: the
// program is saved and started under the default name instead.
TEST_F(UpdaterTest, HostileServerNamesStayInsideTheDownloadFolder) {
    struct Case {
        const char* encoded;               // as it goes into the link
        std::vector<std::string> outside;  // must not exist afterwards
    };
    TempFolder transfer("px_upd_hostile");
    const std::string updates = transfer.Path() + "\\Updates";
    const Case cases[] = {
        {"..%5Cevil.exe", {updates + "\\evil.exe", updates + "\\evil.exe.ran"}},
        {"C:%5Cevil.exe", {"C:\\evil.exe", "C:\\evil.exe.ran"}},
        {"a/b.exe", {updates + "\\temp\\a\\b.exe", updates + "\\temp\\a"}},
        {"..", {}},
    };
    FakeStore store(transfer.Path());
    DialogWatcher watcher("ok");
    ASSERT_TRUE(watcher.Started());
    const std::string saved = updates + "\\temp\\update.exe";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoded);
        for (const std::string& path : c.outside) {
            DeleteFileA(path.c_str());
        }
        ASSERT_TRUE(DeleteFileWhenFree(saved, kWaitMs));
        DeleteFileA((saved + ".ran").c_str());
        ServeDescriptor(LinkDescriptor(
            FileUrl(std::string("update_marker.exe?disposition=") + c.encoded), true));
        const auto started = [&] {
            return std::count(store.Flow().begin(), store.Flow().end(), WM_PX_RUN_DOWNLOADED);
        };
        const auto before = started();
        store.PostCheck(true);
        ASSERT_TRUE(PumpUntil([&] { return started() > before; }, kWaitMs));
        for (const std::string& path : c.outside) {
            EXPECT_FALSE(FileExists(path)) << path;
        }
        ASSERT_TRUE(WaitForFile(saved + ".ran"));
        ASSERT_TRUE(store.WaitUntilIdle());
        EXPECT_EQ(ReadWholeFile(saved), m_programBytes);
    }
    for (const std::string& line : watcher.TakeLinesAfterSentinel()) {
        EXPECT_EQ(line.rfind("dialog Downloading Required Update | ", 0), 0u) << line;
    }
}

// Links the downloader does not fetch as plain HTTP: another scheme is dropped without a
// word; https:// speaks TLS, which the plain stand-in cannot answer, so the user hears
// that the service is down. A trusted local TLS server is out of reach here: Wine's chain
// engine does not take a test CA added to the prefix's root stores.
TEST_F(UpdaterTest, LinksOutsidePlainHttp) {
    struct Case {
        const char* label;
        std::string link;
        std::vector<std::string> lines;
    };
    const std::string hostAndPort = "127.0.0.1:" + std::to_string(WebSidePort());
    const Case cases[] = {
        {"ftp", "ftp://" + hostAndPort + "/files/update_marker.exe", {}},
        {"upper-case scheme", "HTTP://" + hostAndPort + "/files/update_marker.exe", {}},
        {"https to a plain server",
         "https://" + hostAndPort + "/files/update_marker.exe",
         {kServiceLine}},
    };
    TempFolder transfer("px_upd_schemes");
    FakeStore store(transfer.Path());
    DialogWatcher watcher("ok");
    ASSERT_TRUE(watcher.Started());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ResetWebSideLog();
        ServeDescriptor(LinkDescriptor(c.link, true));
        store.PostCheck(false);
        ASSERT_TRUE(store.WaitUntilIdle());
        EXPECT_EQ(watcher.TakeLinesAfterSentinel(), c.lines);
        EXPECT_EQ(PathsStartingWith("/files/"), std::vector<std::string>{});
    }
    EXPECT_FALSE(store.Received(WM_PX_SHOW_PROGRESS));
    EXPECT_FALSE(FileExists(transfer.Path() + "\\Updates\\temp\\update.exe"));
}

// An https update link against the stand-in's TLS ports (its test authority trusted in
// the prefix): the good certificate gives the program byte for byte and runs it; each
// refused certificate ends like any failed download (the service message), with no file
// requested and nothing run.
TEST_F(UpdaterTest, UpdateLinkOverHttpsChecksTheCertificate) {
    const auto tlsUrl = [](const char* portVariable) {
        const char* port = std::getenv(portVariable);
        return std::string("https://127.0.0.1:") + (port == nullptr ? "0" : port) +
               "/files/update_marker.exe";
    };
    TempFolder transfer("px_upd_https");
    FakeStore store(transfer.Path());
    DialogWatcher watcher("ok");
    ASSERT_TRUE(watcher.Started());
    const std::string saved = transfer.Path() + "\\Updates\\temp\\update.exe";
    for (const char* refused : {"PX_WEBSIDE_TLS_WRONG_NAME", "PX_WEBSIDE_TLS_EXPIRED",
                                "PX_WEBSIDE_TLS_UNKNOWN_AUTHORITY", "PX_WEBSIDE_TLS_REVOKED"}) {
        SCOPED_TRACE(refused);
        ResetWebSideLog();
        ServeDescriptor(LinkDescriptor(tlsUrl(refused), true));
        store.PostCheck(false);
        ASSERT_TRUE(store.WaitUntilIdle());
        EXPECT_EQ(watcher.TakeLinesAfterSentinel(), std::vector<std::string>{kServiceLine});
        EXPECT_EQ(PathsStartingWith("/files/"), std::vector<std::string>{});
        EXPECT_FALSE(FileExists(saved));
    }

    ResetWebSideLog();
    ServeDescriptor(LinkDescriptor(tlsUrl("PX_WEBSIDE_TLS_GOOD"), true));
    store.PostCheck(false);
    ASSERT_TRUE(WaitForFile(saved + ".ran"));
    ASSERT_TRUE(store.WaitUntilIdle());
    EXPECT_EQ(ReadWholeFile(saved), m_programBytes);
    EXPECT_EQ(PathsStartingWith("/files/"), std::vector<std::string>{"/files/update_marker.exe"});
}

TEST_F(UpdaterTest, ServiceDownTellsOnlyInteractiveChecks) {
    struct Case {
        const char* label;
        bool reachable;   // false: nothing listens on the service's port
        bool descriptor;  // false: the service answers 404
        bool silent;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"interactive, 404", true, false, false, {kServiceLine}},
        {"silent, 404", true, false, true, {}},
        {"interactive, refused", false, true, false, {kServiceLine}},
        {"silent, refused", false, true, true, {}},
        // The store is ready again for the next check.
        {"interactive, service back", true, true, false, {kNoUpdateLine}},
    };
    TempFolder transfer("px_upd_down");
    FakeStore store(transfer.Path());
    DialogWatcher watcher("ok");
    ASSERT_TRUE(watcher.Started());
    const std::string served = "127.0.0.1:" + std::to_string(WebSidePort());
    const std::string closed = "127.0.0.1:" + std::to_string(ClosedPort());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        store.SetUpdateHost(c.reachable ? served : closed);
        if (c.descriptor) {
            ServeDescriptor("<PXUpdate></PXUpdate>");
        } else {
            DeleteFileA(Served("PXUpdate.xml").c_str());
        }
        const int requests = store.CheckRequests();
        store.PostCheck(c.silent);
        EXPECT_EQ(store.CheckRequests(), requests + 1);
        ASSERT_TRUE(store.WaitUntilIdle());
        EXPECT_EQ(watcher.TakeLinesAfterSentinel(), c.lines);
    }
    // A failed fetch posts nothing: only the last check delivered a descriptor.
    EXPECT_EQ(store.Flow(), std::vector<UINT>{WM_PX_UPDATE_DESCRIPTOR});
}

// The program's file cannot be created (an older update.exe is held open without write
// sharing): the user is told, the completion still arrives, and nothing is started, the
// older file least of all.
TEST_F(UpdaterTest, FileThatCannotBeCreatedStartsNothing) {
    TempFolder transfer("px_upd_nofile");
    const std::string saved = transfer.Path() + "\\Updates\\temp\\update.exe";
    ASSERT_EQ(SHCreateDirectoryExA(nullptr, (transfer.Path() + "\\Updates\\temp").c_str(), nullptr),
              ERROR_SUCCESS);
    ASSERT_TRUE(WriteWholeFile(saved, m_programBytes));
    const HANDLE older = CreateFileA(saved.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(older, INVALID_HANDLE_VALUE);
    FakeStore store(transfer.Path());
    DialogWatcher watcher("ok");
    ASSERT_TRUE(watcher.Started());
    ServeDescriptor(LinkDescriptor(FileUrl("update_marker.exe"), true));
    const ShellExecuteRecorder shell;
    ASSERT_TRUE(shell.Installed());

    store.PostCheck(true);
    const bool completed = store.WaitForMessage(WM_PX_RUN_DOWNLOADED);
    const bool idle = store.WaitUntilIdle();
    // A started program writes its marker within moments; give it ample time to show.
    PumpFor(3000);
    CloseHandle(older);
    ASSERT_TRUE(completed);
    ASSERT_TRUE(idle);
    // The completion carried no path: the shell was not asked to open anything (an empty
    // file would open the transfer directory).
    EXPECT_EQ(shell.Files(), std::vector<std::string>{});
    EXPECT_EQ(watcher.TakeLinesAfterSentinel(),
              std::vector<std::string>{"dialog PXStore | Couldn't create the file: " + saved});
    const std::vector<UINT> flow = {WM_PX_UPDATE_DESCRIPTOR_SILENT, WM_PX_RUN_DOWNLOADED};
    EXPECT_EQ(store.Flow(), flow);
    EXPECT_FALSE(FileExists(saved + ".ran"));
}

TEST_F(UpdaterTest, CancelLeavesThePartialFileAndStartsNothing) {
    TempFolder transfer("px_upd_cancel");
    const std::string big(2 * 1024 * 1024, 'u');
    ASSERT_TRUE(WriteWholeFile(Served("big_update.bin"), big));
    FakeStore store(transfer.Path());
    DialogWatcher watcher("cancel");
    ASSERT_TRUE(watcher.Started());
    ServeDescriptor(LinkDescriptor(FileUrl("big_update.bin?rate=100000"), true));

    store.PostCheck(true);
    ASSERT_TRUE(store.WaitForMessage(WM_PX_CLOSE_PROGRESS));
    ASSERT_TRUE(store.WaitUntilIdle());
    // Shutdown waits for the worker, so anything it would still post is queued by now.
    store.Checker().Shutdown();
    PumpFor(200);

    const std::vector<UINT> flow = {WM_PX_UPDATE_DESCRIPTOR_SILENT, WM_PX_SHOW_PROGRESS,
                                    WM_PX_CLOSE_PROGRESS};
    EXPECT_EQ(store.Flow(), flow);
    const std::string saved = transfer.Path() + "\\Updates\\temp\\update.exe";
    ASSERT_TRUE(FileExists(saved));
    EXPECT_LT(ReadWholeFile(saved).size(), big.size());
    EXPECT_FALSE(FileExists(saved + ".ran"));
    const std::vector<std::string> lines = watcher.TakeLinesAfterSentinel();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("dialog Downloading Required Update | ", 0), 0u) << lines[0];
}

}  // namespace
