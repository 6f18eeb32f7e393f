// The camera shelf window and the shelves the store keeps.
#include "store/files/camera_shelf.h"

#include "hostlink/message_window.h"
#include "store/shell/movie_window_keys.h"

#include <algorithm>

#include "hostlink/host_link_codes.h"
#include "store/files/camera_shelf_ids.h"
#include "store/files/camera_thumbnails.h"
#include "store/shell/activity_log.h"
#include "store/shell/flash_call_handler.h"
#include "store/shell/missing_movie_notice.h"

namespace {

constexpr char kShelfMovie[] = "CameraShelf.swf";

// The module whose resources hold template 131: the one this code is linked into.

}  // namespace

std::string CameraShelfFolder(const std::string& transferDirectory) {
    return transferDirectory + "\\Uploaded";
}

std::string ShelfPictureName(const std::string& selection) {
    const size_t slash = selection.rfind('\\');
    return slash == std::string::npos ? selection : selection.substr(slash + 1);
}

CCameraShelf::CCameraShelf(ICameraShelfHost& host) : m_host(host) {}

CCameraShelf::~CCameraShelf() {
    Destroy();
}

bool CCameraShelf::Create(IClassFactory* controlFactory) {
    if (m_window != nullptr) {
        return true;
    }
    m_controlFactory = controlFactory;
    // WM_INITDIALOG stores the window and sets everything up before this returns.
    const HWND window =
        CreateDialogParamA(LinkModule(), MAKEINTRESOURCEA(IDD_CAMERASHELF), GetDesktopWindow(),
                           DialogProc, reinterpret_cast<LPARAM>(this));
    if (window == nullptr) {
        LogLine("Camera shelf: the window could not be created (error %lu)", GetLastError());
        return false;
    }
    ShowWindow(window, SW_SHOW);
    return true;
}

void CCameraShelf::Destroy() {
    m_flash.Destroy();
    if (m_window != nullptr) {
        DestroyWindow(m_window);
        m_window = nullptr;
    }
}

void CCameraShelf::Hide() {
    if (m_window != nullptr) {
        ShowWindow(m_window, SW_HIDE);
    }
}

int CCameraShelf::LoadThumbnails(const std::string& folder) {
    return ::LoadThumbnails(folder, m_thumbnails);
}

std::string CCameraShelf::ThumbnailList() const {
    return ::ThumbnailList(m_thumbnails);
}

int CCameraShelf::RequestCameraImage(int hostId, DWORD timeoutMs) {
    const HWND host = CPXHidMessageWin::FindHostWindow(hostId);
    if (host == nullptr) {
        return 0;
    }
    // Synchronous, so that a host answering from inside its handler is heard at once
    // (messages sent to this thread are delivered meanwhile); bounded, so that a hung
    // host cannot freeze the store.
    DWORD_PTR answer = 0;
    const LRESULT sent = SendMessageTimeoutA(host, WM_PX_QUERY_HOST, 0, 0,
                                             SMTO_NORMAL | SMTO_ABORTIFHUNG, timeoutMs, &answer);
    return sent != 0 ? 1 : 0;
}

void CCameraShelf::OnCameraImage(const std::string& name) {
    m_strNewImage = name;
    m_bAwaitingImage = 0;
}

void CCameraShelf::SendImageSelected(const std::string& name) {
    CPXHidMessageWin* link = m_host.LinkWindow();
    if (link != nullptr) {
        link->SendTextToHost(m_host.HostId(), PXCD_IMAGE_SELECTED, name, m_window);
    }
}

bool CCameraShelf::Owns(HWND window) const {
    return m_window != nullptr && window != nullptr &&
           (window == m_window || IsChild(m_window, window));
}

bool CCameraShelf::PreTranslate(MSG* msg) {
    if (m_window == nullptr) {
        return false;
    }
    if (TranslateMovieWindowKeys(*msg, m_flash)) {
        return true;
    }
    return IsDialogMessageA(m_window, msg) != FALSE;
}

INT_PTR CALLBACK CCameraShelf::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CCameraShelf*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->m_window = window;
        self->OnInitDialog();
        return TRUE;
    }
    auto* self = reinterpret_cast<CCameraShelf*>(GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        self->m_window = nullptr;
        return FALSE;
    }
    return self->HandleMessage(message, wParam, lParam);
}

INT_PTR CCameraShelf::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
        case WM_COMMAND:
            // Ending a modeless dialog only hides it: the commands keep addressing it.
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                Hide();
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            Hide();
            return TRUE;
        case WM_DESTROY:
            // The control goes before its window.
            m_flash.Destroy();
            return FALSE;
        default:
            return FALSE;
    }
}

void CCameraShelf::OnInitDialog() {
    SetWindowPos(m_window, HWND_TOP, 0, 0, m_nWidth, m_nHeight, SWP_SHOWWINDOW);

    // The template only reserves the place; the ActiveX control takes its id.
    const HWND placeholder = GetDlgItem(m_window, IDC_CAMERASHELF_FLASH);
    if (placeholder != nullptr) {
        DestroyWindow(placeholder);
    }
    const RECT place{1, 1, m_nWidth, m_nHeight};  // at 1, 1, (width - 1) x (height - 1)
    const bool created =
        m_controlFactory != nullptr
            ? m_flash.CreateFromFactory(m_controlFactory, m_window, IDC_CAMERASHELF_FLASH, place,
                                        &m_controlFailure)
            : m_flash.Create(m_window, IDC_CAMERASHELF_FLASH, place, &m_controlFailure);
    MovieProblem problem;
    if (!created) {
        LogLine("Camera shelf: no Flash control (%s)", m_controlFailure.c_str());
        SetControlFailure(problem, m_flash.FailureCode());
    }
    const std::string moviePath = m_host.InstallFolder() + kShelfMovie;
    if (!MovieFileExists(moviePath)) {
        LogLine("Camera shelf: the movie %s is missing", moviePath.c_str());
        // A control without a movie would only cover the explanation.
        m_flash.Destroy();
        problem.missingMovie = moviePath;
    }
    if (problem.Any()) {
        ExplainMissingMovie(problem);
        return;
    }
    const HWND control = m_flash.GetControlWindow();
    if (control != nullptr) {
        ShowWindow(control, SW_SHOW);
    }
    BindFlashCallHandler(m_flash, m_host.TransferStatus(), nullptr);
    m_flash.LoadMovie(0, moviePath);
}

void CCameraShelf::ExplainMissingMovie(const MovieProblem& problem) {
    ShowMissingMovieNotice(
        m_window, MissingMovieNoticeText(problem, NoticeWindow::kCameraShelf, ActivityLogPath()));
}

CameraShelves::CameraShelves(ICameraShelfHost& host, DWORD replyTimeoutMs)
    : m_host(host), m_replyTimeoutMs(replyTimeoutMs) {}

CameraShelves::~CameraShelves() {
    m_waitingShelf = nullptr;
    CloseAll();
}

void CameraShelves::Open() {
    auto shelf = std::make_unique<CCameraShelf>(m_host);
    if (!shelf->Create(m_controlFactory)) {
        return;
    }
    m_current = shelf.get();
    m_shelves.push_back(std::move(shelf));
}

void CameraShelves::OnCameraImage(const std::string& name) {
    CCameraShelf* target = m_waitingShelf != nullptr ? m_waitingShelf : m_current;
    if (target != nullptr) {
        target->OnCameraImage(name);
    }
}

bool CameraShelves::PreTranslate(MSG* msg) {
    for (const auto& shelf : m_shelves) {
        if (shelf->Owns(msg->hwnd)) {
            return shelf->PreTranslate(msg);
        }
    }
    return false;
}

void CameraShelves::CloseAll() {
    if (m_waitingShelf != nullptr) {
        // The waiting command runs inside that shelf's control event further up the
        // stack: the objects must outlive it.
        m_closePending = true;
        m_current = nullptr;
        for (const auto& shelf : m_shelves) {
            shelf->Hide();
        }
        return;
    }
    for (const auto& shelf : m_shelves) {
        shelf->Destroy();
    }
    m_shelves.clear();
    m_current = nullptr;
    m_closePending = false;
}

std::string CameraShelves::Init() {
    CCameraShelf* shelf = Current();
    if (shelf == nullptr) {
        return std::string();
    }
    const std::string folder = CameraShelfFolder(m_host.TransferDirectory());
    shelf->LoadThumbnails(folder);  // no pictures keep the list the movie already has
    return folder + "|" + shelf->ThumbnailList();
}

std::string CameraShelves::AddCamera() {
    CCameraShelf* shelf = Current();
    // One request at a time: a second one arriving during the wait gets no picture.
    if (shelf == nullptr || m_waitingShelf != nullptr || m_host.LinkWindow() == nullptr) {
        return std::string();
    }
    const std::string folder = CameraShelfFolder(m_host.TransferDirectory());
    const DWORD start = GetTickCount();
    m_waitingShelf = shelf;
    shelf->ExpectCameraImage();
    const bool received = shelf->RequestCameraImage(m_host.HostId(), m_replyTimeoutMs) != 0 &&
                          WaitForCameraImage(*shelf, start);
    m_waitingShelf = nullptr;
    if (!received) {
        return std::string();
    }
    shelf->ExpectCameraImage();
    return folder + "\\shade\\" + shelf->NewImage();
}

// The host answers with PXCD_HOST_REPLY, a message sent to the link window on this thread.
// Meanwhile the store keeps working: sent and posted messages of every window of this
// thread are handled (the shelves' and the main window's keys pre-translated as the
// store's own loop does), so
// the answer may also come after the host's handler of WM_PX_QUERY_HOST has returned.
// The wait ends at the bound (kHostQueryTimeoutMs, 10 s, unless the owner chose another),
// when the shelves are closed, or at WM_QUIT, which is put back for the store's loop.
bool CameraShelves::WaitForCameraImage(const CCameraShelf& shelf, DWORD start) {
    for (;;) {
        if (!shelf.IsAwaitingImage()) {
            return true;
        }
        const DWORD elapsed = GetTickCount() - start;
        if (m_closePending || elapsed >= m_replyTimeoutMs) {
            return false;
        }
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return false;
            }
            if (!PreTranslate(&msg) && !m_host.PreTranslateMainWindowMessage(msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            continue;
        }
        const DWORD slice = std::min<DWORD>(m_replyTimeoutMs - elapsed, kHostQueryPollMs);
        MsgWaitForMultipleObjectsEx(0, nullptr, slice, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

int CameraShelves::ImageSelect(const std::string& selection) {
    CCameraShelf* shelf = Current();
    if (shelf != nullptr) {
        shelf->SendImageSelected(ShelfPictureName(selection));
    }
    return 0;
}
