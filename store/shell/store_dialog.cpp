#include "store/shell/store_dialog.h"

#include <shellapi.h>

#include <cstdio>
#include <ctime>
#include <vector>

#include "hostlink/message_window.h"
#include "hostlink/posted_texts.h"
#include "store/files/camera_shelf_commands.h"
#include "store/files/drop_file_list.h"
#include "store/files/file_operations.h"
#include "store/files/file_system_commands.h"
#include "store/files/picker_commands.h"
#include "store/shell/activity_log.h"
#include "store/shell/drag_out_plan.h"
#include "store/shell/dropped_files.h"
#include "store/shell/file_drag_source.h"
#include "store/shell/missing_movie_notice.h"
#include "store/shell/movie_window_keys.h"
#include "store/shell/script_call.h"
#include "store/shell/script_commands.h"
#include "store/shell/store_messages.h"
#include "store/shell/store_resource.h"
#include "store/transfers/tls_notices.h"
#include "store/transfers/transfer_commands.h"

const char kStoreMovieName[] = "Aerin.swf";

namespace {

// Long paths are expanded into a buffer of this many bytes.
constexpr DWORD kLongPathBufferBytes = 10240;
// The movie ends its own drag when it sees the button go up here.
constexpr int kDragReleaseX = 50;
constexpr int kDragReleaseY = 50;

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            char line[64];
            std::snprintf(line, sizeof(line), "Build: %d.%d.%d", kStoreBuildVersion,
                          kStoreBuildMajor, kStoreBuildMinor);
            SetDlgItemTextA(window, IDC_BUILD_TEXT, line);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

std::string ExpandLongPathOf(const std::string& path) {
    std::vector<char> buffer(kLongPathBufferBytes, '\0');
    const DWORD length = GetLongPathNameA(path.c_str(), buffer.data(), kLongPathBufferBytes);
    if (length == 0 || length >= kLongPathBufferBytes) {
        return std::string();
    }
    return std::string(buffer.data(), length);
}

}  // namespace

CPXStoreDlg::CPXStoreDlg(const StoreCommandLine& commandLine)
    : m_hostId(commandLine.hostId),
      m_hostProcessId(commandLine.hostProcessId),
      m_hidden(commandLine.hidden),
      m_startupFilePath(commandLine.startupFilePath),
      m_requests(m_movieReady),
      m_shelves(*this),
      m_updater(*this),
      m_watcherStop(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_watcherDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    CScriptCommands& commands = TheScriptCommands();
    RegisterFileSystemCommands(commands, this, m_openWorkers);
    RegisterPickerCommands(commands, this);
    RegisterTransferCommands(commands);
    RegisterSettingsCommands(commands, m_settings, this);
    RegisterCameraShelfCommands(commands, m_shelves);
}

CPXStoreDlg::~CPXStoreDlg() {
    CloseDown();
    if (m_watcherStop != nullptr) {
        CloseHandle(m_watcherStop);
    }
    if (m_watcherDone != nullptr) {
        CloseHandle(m_watcherDone);
    }
}

int CPXStoreDlg::RunModal() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    m_window = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PXSTORE_DIALOG), nullptr,
                                  DialogProc, reinterpret_cast<LPARAM>(this));
    if (m_window == nullptr) {
        CloseDown();
        return 1;
    }
    // The dialog's own loop: it ends with the dialog, or when the host link quits.
    MSG msg;
    while (!m_ended) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;
        }
        if (m_shelves.PreTranslate(&msg) || PreTranslateMainWindowMessage(msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (!m_ended) {
        // Quit by the host link: close the way the close box does, so nothing is lost.
        OnClose();
    }
    CloseDown();
    return 0;
}

bool CPXStoreDlg::PreTranslate(MSG& msg) {
    if (m_window == nullptr || (msg.hwnd != m_window && !IsChild(m_window, msg.hwnd))) {
        return false;
    }
    return TranslateMovieWindowKeys(msg, m_flash);
}

bool CPXStoreDlg::PreTranslateMainWindowMessage(MSG& msg) {
    return PreTranslate(msg) || (m_window != nullptr && IsDialogMessageA(m_window, &msg));
}

INT_PTR CALLBACK CPXStoreDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CPXStoreDlg* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CPXStoreDlg*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->m_window = window;
    } else {
        self = reinterpret_cast<CPXStoreDlg*>(GetWindowLongPtrA(window, DWLP_USER));
    }
    if (self == nullptr) {
        return FALSE;
    }
    return self->HandleMessage(message, wParam, lParam);
}

INT_PTR CPXStoreDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), m_window,
                                AboutProc, 0);
                return TRUE;
            }
            return FALSE;
        case WM_COMMAND:
            // Enter and Escape never reach the dialog manager; nothing else ends it.
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                return TRUE;
            }
            return FALSE;
        case WM_WINDOWPOSCHANGING:
            OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(lParam));
            return FALSE;
        case WM_QUERYDRAGICON:
            // Returned as it is, not through DWLP_MSGRESULT: one of the few such messages.
            return reinterpret_cast<INT_PTR>(m_icon);
        case WM_PAINT:
            return IsIconic(m_window) ? PaintMinimised() : FALSE;
        case WM_DROPFILES:
            OnDropFiles(reinterpret_cast<HDROP>(wParam));
            return TRUE;
        case WM_CLOSE:
            OnClose();
            return TRUE;
        case WM_PX_PUSH_SHOW_FILES:
            PushScriptCall(&m_flash, kDoShowFileSystemsCall);
            return TRUE;
        case WM_PX_PUSH_SHOW_STORE:
            PushScriptCall(&m_flash, kDoShowStoreCall);
            return TRUE;
        case WM_PX_PUSH_SAVE_FILE:
        case WM_PX_RUN_UPDATE_CHECK:
        case WM_PX_PUSH_DROPPED_FILES:
        case WM_PX_BEGIN_DRAG_OUT:
            OnTextMessage(message, wParam);
            return TRUE;
        default:
            return FALSE;
    }
}

void CPXStoreDlg::OnTextMessage(UINT message, WPARAM wParam) {
    std::string text;
    if (!TakeMessageText(message, wParam, text)) {
        return;
    }
    switch (message) {
        case WM_PX_PUSH_SAVE_FILE:
            PushScriptCall(&m_flash, BuildDoSavetoPlenthraCall(DescribeFileForSaving(text)));
            break;
        case WM_PX_RUN_UPDATE_CHECK:
            m_updater.StartUpdateCheck(!text.empty());
            break;
        case WM_PX_PUSH_DROPPED_FILES:
            PushScriptCall(&m_flash, BuildDoDrapFiletoPlenthraCall(text));
            break;
        case WM_PX_BEGIN_DRAG_OUT:
            OnBeginDragOut(text);
            break;
        default:
            break;
    }
}

void CPXStoreDlg::OnInitDialog() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    // The control starts where the template places it; it is moved once the size is known.
    RECT templatePlace = {7, 7, 307, 181};
    MapDialogRect(m_window, &templatePlace);
    std::string controlFailure;
    if (!m_flash.Create(m_window, IDC_SHOCKWAVEFLASH1, templatePlace, &controlFailure)) {
        controlFailure = controlFailure.empty() ? "unknown reason" : controlFailure;
    }

    char aboutText[128] = {};
    if (LoadStringA(instance, IDS_ABOUTBOX, aboutText, sizeof(aboutText)) > 0) {
        HMENU systemMenu = GetSystemMenu(m_window, FALSE);
        if (systemMenu != nullptr) {
            AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutText);
        }
    }
    m_icon = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    SendMessageA(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageA(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));

    m_settings.installFolder = StoreInstallationFolder();
    if (m_settings.installFolder.empty()) {
        return;
    }
    LoadSettings(m_settings);
    SetStartupFolders(m_settings);
    // The log lives in the cache root; on a first start that folder does not exist yet.
    CreateFolderTree(m_settings.cacheRootFolder.c_str());
    OpenActivityLog((m_settings.cacheRootFolder + "\\log.txt").c_str());
    // Refused certificates and servers trusted without a revocation answer go to the log.
    SetTlsNoticeWriter([](const char* line) { LogLine("%s", line); });
    const std::string moviePath = m_settings.installFolder + kStoreMovieName;
    MovieProblem movieProblem;
    if (!controlFailure.empty()) {
        LogLine("The Flash control could not be created (%s); the store runs without its movie",
                controlFailure.c_str());
        SetControlFailure(movieProblem, m_flash.FailureCode());
    }
    if (!MovieFileExists(moviePath)) {
        LogLine("The movie %s is missing; the store runs without it", moviePath.c_str());
        // A control without a movie would only cover the explanation.
        m_flash.Destroy();
        movieProblem.missingMovie = moviePath;
    }

    PlaceWindowAndControl();
    if (movieProblem.Any()) {
        ShowMissingMovieNotice(
            m_window,
            MissingMovieNoticeText(movieProblem, NoticeWindow::kMainWindow, ActivityLogPath()));
    }

    m_transferHost = std::make_unique<StoreTransferHost>(this, m_openWorkers);
    m_transfers = std::make_unique<TransferManager>(m_runner, *m_transferHost);
    m_transfers->setUserCacheFolder(m_settings.userCacheFolder);
    m_transfers->setDefaultUploadUrl(m_settings.uploadUrl);
    TheScriptCommands().SetTransferManager(m_transfers.get(), m_settings.userCacheFolder);

    BindFlashCallHandler(m_flash, m_transfers.get(), this);
    if (m_flash.IsCreated()) {
        m_flash.LoadMovie(0, moviePath);
    }

    m_requests.SetTarget(m_window);
    m_link = std::make_unique<CPXHidMessageWin>(this);
    if (!m_link->Create()) {
        LogLine("The host link window could not be created");
    }
    if (!m_startupFilePath.empty()) {
        OfferFileForSaving(m_startupFilePath);
    }
    if (HostId() != 0 && !m_hidden.load()) {
        m_link->PostHostHello(HostId());
    }
    StartDragOutWatcher();
}

void CPXStoreDlg::PlaceWindowAndControl() {
    const int width = m_settings.windowWidth;
    const int height = m_settings.windowHeight;
    SetWindowPos(m_window, HWND_TOP, 0, 0, width, height, SWP_SHOWWINDOW);
    if (m_flash.IsCreated()) {
        RECT place = {2, 0, 2 + (width - 10), height - 28};
        m_flash.Resize(place);
        HWND control = m_flash.GetControlWindow();
        if (control != nullptr) {
            ShowWindow(control, SW_SHOW);
        }
    }
}

bool CPXStoreDlg::PostWhenMovieReady(int kind, const std::string& text) {
    return m_requests.Post(kind, text);
}

void CPXStoreDlg::OfferFileForSaving(const std::string& path) {
    PostWhenMovieReady(kSaveFileRequest, ExpandLongPathOf(path));
}

void CPXStoreDlg::OnWindowPosChanging(WINDOWPOS* position) {
    if (position != nullptr && m_hidden.load()) {
        position->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
    }
}

void CPXStoreDlg::OnDropFiles(HDROP drop) {
    SetActiveWindow(m_window);
    std::vector<std::string> paths;
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileA(drop, i, nullptr, 0);
        std::string path(length + 1, '\0');
        const UINT copied = DragQueryFileA(drop, i, path.data(), length + 1);
        path.resize(copied);
        if (!path.empty()) {
            paths.push_back(path);
        }
    }
    DragFinish(drop);
    const std::string list = BuildDroppedFileList(paths, std::time(nullptr));
    if (!list.empty()) {
        PostWhenMovieReady(kDroppedFilesRequest, list);
    }
}

void CPXStoreDlg::SetPendingDragOutList(const std::string& list) {
    std::lock_guard<std::mutex> guard(m_dragOutLock);
    m_pendingDragOut = list;
}

void CPXStoreDlg::StartDragOutWatcher() {
    if (m_watcherStop == nullptr || m_watcherDone == nullptr) {
        return;
    }
    // The control belongs to this thread: the watcher gets its place, never the control.
    RECT controlRect = {0, 0, 0, 0};
    if (HWND control = m_flash.GetControlWindow()) {
        GetClientRect(control, &controlRect);
    }
    m_watcherRunning.store(true);
    ResetEvent(m_watcherStop);
    ResetEvent(m_watcherDone);
    m_watcher = std::thread([this, controlRect] {
        WatchDragOut(controlRect);
        SetEvent(m_watcherDone);
    });
}

void CPXStoreDlg::StopDragOutWatcher() {
    m_watcherRunning.store(false);
    if (m_watcherStop != nullptr) {
        SetEvent(m_watcherStop);
    }
    if (m_watcher.joinable()) {
        // The watcher's last DragAcceptFiles may be sending to this thread's window.
        WaitDeliveringSentMessages(m_watcherDone);
        m_watcher.join();
    }
}

// Runs on its own thread. The list is only read and changed under m_dragOutLock; the
// window calls (which send to the user-interface thread, itself perhaps waiting for the
// lock in SetPendingDragOutList) come after the lock is released.
void CPXStoreDlg::WatchDragOut(RECT controlRect) {
    while (m_watcherRunning.load()) {
        if (WaitForSingleObject(m_watcherStop, kDragOutWatchMs) == WAIT_OBJECT_0) {
            break;
        }
        POINT cursor;
        if (!GetCursorPos(&cursor) || !ScreenToClient(m_window, &cursor)) {
            continue;
        }
        const bool buttonDown = (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0;
        std::string leaving;
        {
            std::lock_guard<std::mutex> guard(m_dragOutLock);
            if (!buttonDown) {
                m_pendingDragOut.clear();
            }
            if (!PtInRect(&controlRect, cursor)) {
                leaving.swap(m_pendingDragOut);
            }
        }
        if (!buttonDown && (GetWindowLongA(m_window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) == 0) {
            DragAcceptFiles(m_window, TRUE);
        }
        if (leaving.empty()) {
            continue;
        }
        if (PostTextMessage(m_window, WM_PX_BEGIN_DRAG_OUT, leaving)) {
            // The window must not receive the drag it starts itself.
            DragAcceptFiles(m_window, FALSE);
        } else {
            // Not handed over: it stays pending unless the movie gave a newer list.
            std::lock_guard<std::mutex> guard(m_dragOutLock);
            if (m_pendingDragOut.empty()) {
                m_pendingDragOut = std::move(leaving);
            }
        }
    }
}

void CPXStoreDlg::OnBeginDragOut(const std::string& list) {
    PushScriptCall(&m_flash, kEnableTreeMenuDragDropCall);
    if (HWND control = m_flash.GetControlWindow()) {
        SendMessageA(control, WM_LBUTTONUP, MK_LBUTTON, MAKELPARAM(kDragReleaseX, kDragReleaseY));
    }
    const DragOutPlan plan =
        PlanDragOut(list, [](const std::string& path) { return GetPathSize(path.c_str()); });
    if (plan.fileMissing) {
        PushScriptCall(&m_flash, BuildDownloadFilesCall(plan.downloadList));
        return;
    }
    if (plan.dragPaths.empty()) {
        return;
    }
    DropFileList files;
    for (const std::string& path : plan.dragPaths) {
        files.AddPath(path);
    }
    if (!files.BuildDropBlock()) {
        LogLine("Drag out: no memory for the file list");
        return;
    }
    DWORD effect = DROPEFFECT_NONE;
    const HRESULT result = RunFileDrag(files, &effect);
    LogLine("Drag out of %d file(s) ended: %s", static_cast<int>(plan.dragPaths.size()),
            result == DRAGDROP_S_DROP ? "dropped" : "cancelled");
}

void CPXStoreDlg::OnClose() {
    if (m_ended) {
        return;
    }
    StopDragOutWatcher();
    CloseActivityLog();
    if (m_transfers) {
        m_transfers->shutdown();
    }
    m_ended = true;
}

void CPXStoreDlg::CloseDown() {
    if (m_closedDown) {
        return;
    }
    m_closedDown = true;
    StopDragOutWatcher();
    m_requests.Stop();
    m_shelves.CloseAll();
    // The updater's workers report to the link window: stop them while it still exists.
    m_updater.Shutdown();
    if (m_link) {
        m_link->Destroy();
    }
    m_flash.Destroy();
    if (m_window != nullptr) {
        DestroyWindow(m_window);
        m_window = nullptr;
    }
    TheScriptCommands().SetTransferManager(nullptr, m_settings.userCacheFolder);
    if (m_transfers && m_transfers->workersLeft()) {
        // Workers still blocked after the shutdown bound use the manager and its host:
        // both are left, with them, to the process's end rather than waited for.
        (void)m_transfers.release();
        (void)m_transferHost.release();
    }
    m_transfers.reset();
    m_openWorkers.WaitAll();
}

BOOL CPXStoreDlg::PaintMinimised() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_window, &paint);
    if (dc == nullptr) {
        return FALSE;
    }
    SendMessageA(m_window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    GetClientRect(m_window, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    if (m_icon != nullptr) {
        DrawIcon(dc, x, y, m_icon);
    }
    EndPaint(m_window, &paint);
    return TRUE;
}

void CPXStoreDlg::RaiseWindow() {
    ShowWindow(m_window, IsIconic(m_window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(m_window);
    SetWindowPos(m_window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    SetWindowPos(m_window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
}

void CPXStoreDlg::BringToFront() {
    m_hidden.store(false);
    RaiseWindow();
}

void CPXStoreDlg::Restack() {
    RaiseWindow();
}

void CPXStoreDlg::ShowStore() {
    PostWhenMovieReady(kShowStoreRequest);
}

void CPXStoreDlg::ShowMyFiles() {
    PostWhenMovieReady(kShowFilesRequest);
}

void CPXStoreDlg::SaveFile(const std::string& longPath) {
    PostWhenMovieReady(kSaveFileRequest, longPath);
}

bool CPXStoreDlg::IsUpdateBusy() {
    return m_updater.IsBusy();
}

void CPXStoreDlg::CheckForUpdate(bool silent) {
    m_updater.MarkBusy();
    if (!PostWhenMovieReady(kUpdateCheckRequest, silent ? "silent" : "")) {
        m_updater.ClearBusy();
    }
}

void CPXStoreDlg::ShowCameraShelf() {
    m_shelves.Open();
}

void CPXStoreDlg::HostIdentity(int hostId, int hostPid) {
    m_hostId.store(hostId);
    m_hostProcessId.store(hostPid);
}

void CPXStoreDlg::HostReply(const std::string& fileName) {
    m_shelves.OnCameraImage(fileName);
}

void CPXStoreDlg::PluginBuild(int ver, int major, int minor) {
    m_updater.SetPluginVersion(ver, major, minor);
}

void CPXStoreDlg::QuitStore() {
    PostQuitMessage(0);
}

LRESULT CPXStoreDlg::UpdateFlowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return m_updater.HandleMessage(message, wParam, lParam);
}
