// The update check and the message window's update handlers.
#include "store/updater/update_checker.h"

#include <shellapi.h>

#include "hostlink/host_link_codes.h"
#include "hostlink/posted_texts.h"
#include "store/files/file_operations.h"
#include "store/updater/download_names.h"
#include "store/updater/download_progress.h"
#include "store/updater/download_progress_ids.h"
#include "store/updater/update_descriptor.h"
#include "store/updater/update_download.h"
#include "text/xml_document.h"

namespace {

// How long a closing store waits for its download workers. A worker stuck beyond that
// (a message box of its own, a server that stopped answering) is left to the process's
// end; it holds nothing of the checker.
constexpr DWORD kShutdownWaitMs = 10000;

const char kNoUpdateCaption[] = "Information";
const char kOptionalUpdateCaption[] = "Vellamar Update";

// Waits for `handle` until `deadline` (GetTickCount64 time), letting through the messages
// other threads send to this thread: a worker may be blocked sending the message window
// its progress messages.
bool WaitDeliveringSent(HANDLE handle, ULONGLONG deadline) {
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) {
            return true;
        }
        if (result != WAIT_OBJECT_0 + 1) {
            return false;
        }
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

CUpdateChecker::CUpdateChecker(IUpdaterHost& host)
    : m_host(host), m_state(std::make_shared<UpdaterState>()) {}

CUpdateChecker::~CUpdateChecker() {
    Shutdown();
    for (const HANDLE worker : m_workers) {
        CloseHandle(worker);
    }
}

bool CUpdateChecker::IsBusy() const {
    return m_state->busy.load();
}

void CUpdateChecker::MarkBusy() {
    m_state->busy.store(true);
}

void CUpdateChecker::ClearBusy() {
    m_state->busy.store(false);
}

void CUpdateChecker::SetPluginVersion(int ver, int major, int minor) {
    m_version.ver = ver;
    m_version.major = major;
    m_version.minor = minor;
}

void CUpdateChecker::StartUpdateCheck(bool silent) {
    const HWND window = m_host.MessageWindow();
    if (window == nullptr || m_state->closing.load()) {
        m_state->busy.store(false);
        return;
    }
    ++m_checkCounter;
    m_lastServiceUrl =
        BuildUpdateServiceUrl(m_host.UpdateHost(), m_host.HostId(), m_version, m_checkCounter);
    const std::string transferDirectory = m_host.TransferDirectory();
    Track(StartUpdateDownload(m_state, window, m_lastServiceUrl,
                              silent ? WM_PX_UPDATE_DESCRIPTOR_SILENT : WM_PX_UPDATE_DESCRIPTOR,
                              transferDirectory + kUpdateDescriptorFile, transferDirectory));
}

LRESULT CUpdateChecker::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
        case WM_PX_UPDATE_DESCRIPTOR:
        case WM_PX_UPDATE_DESCRIPTOR_SILENT: {
            std::string path;
            if (TakePostedText(message, wParam, path) && !m_state->closing.load()) {
                OnUpdateDescriptor(path, message == WM_PX_UPDATE_DESCRIPTOR_SILENT);
            }
            return 0;
        }
        case WM_PX_RUN_DOWNLOADED: {
            std::string path;
            if (TakePostedText(message, wParam, path) && !m_state->closing.load()) {
                RunDownloaded(path);
            }
            return 0;
        }
        case WM_PX_SHOW_PROGRESS:
            ShowProgress();
            return 0;
        case WM_PX_CLOSE_PROGRESS:
            CloseProgress();
            return 0;
        default:
            return 0;
    }
}

void CUpdateChecker::OnUpdateDescriptor(const std::string& path, bool silent) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        m_state->busy.store(false);
        return;
    }
    CloseHandle(file);

    XmlDocument& document = TheXmlDocument();
    if (document.loadFile(path.c_str()) == 0) {
        m_state->busy.store(false);
        return;
    }
    const UpdateDescriptor descriptor = ReadUpdateDescriptor(document.root);
    if (!descriptor.hasLink) {
        if (!silent) {
            MessageBoxA(
                nullptr,
                UpdaterText(IDS_UPDATE_NONE_AVAILABLE, "No updates are currently available.")
                    .c_str(),
                kNoUpdateCaption, MB_OK | MB_TOPMOST);
        }
        m_state->busy.store(false);
        return;
    }

    const std::string tempFolder = m_host.TransferDirectory() + kUpdateTempFolder;
    CreateFolderTree(tempFolder.c_str());
    if (descriptor.required) {
        m_state->required.store(true);
        StartProgramDownload(descriptor.link);
        return;
    }
    m_state->required.store(false);
    if (silent) {
        m_state->busy.store(false);
        return;
    }
    const int answer = MessageBoxA(
        nullptr,
        UpdaterText(IDS_UPDATE_OPTIONAL_QUESTION, "An optional update is available, download it?")
            .c_str(),
        kOptionalUpdateCaption, MB_YESNO | MB_TOPMOST);
    if (answer == IDYES && !m_state->closing.load()) {
        StartProgramDownload(descriptor.link);
    } else {
        m_state->busy.store(false);
    }
}

void CUpdateChecker::StartProgramDownload(const std::string& link) {
    Track(StartUpdateDownload(m_state, m_host.MessageWindow(), link, WM_PX_RUN_DOWNLOADED,
                              std::string(), m_host.TransferDirectory()));
}

void CUpdateChecker::ShowProgress() {
    if (m_state->closing.load()) {
        return;
    }
    auto progress = std::make_shared<CDownloadProgress>();
    if (progress->Create(m_host.MainWindow(), m_state->required.load())) {
        m_state->SetProgress(std::move(progress));
    }
}

void CUpdateChecker::CloseProgress() {
    const std::shared_ptr<CDownloadProgress> progress = m_state->TakeProgress();
    if (progress != nullptr) {
        progress->Close(m_host.MainWindow());
    }
    m_state->busy.store(false);
}

void CUpdateChecker::RunDownloaded(const std::string& path) {
    // A program that does not start is not reported: the next check offers it again.
    const std::string transferDirectory = m_host.TransferDirectory();
    // No path: the file could not be created. An empty path would open the folder instead.
    if (!path.empty()) {
        ShellExecuteA(nullptr, "open", path.c_str(), nullptr, transferDirectory.c_str(), SW_SHOW);
    }
    m_state->busy.store(false);
}

void CUpdateChecker::Shutdown() {
    m_state->closing.store(true);
    const std::shared_ptr<CDownloadProgress> progress = m_state->Progress();
    if (progress != nullptr) {
        progress->Cancel();
    }
    // Closing the sessions ends the workers' blocked connects and reads.
    m_state->CloseSessions();
    const ULONGLONG deadline = GetTickCount64() + kShutdownWaitMs;
    for (const HANDLE worker : m_workers) {
        WaitDeliveringSent(worker, deadline);
    }
    CloseFinishedWorkers();
    CloseProgress();
}

void CUpdateChecker::Track(HANDLE worker) {
    CloseFinishedWorkers();
    if (worker != nullptr) {
        m_workers.push_back(worker);
    }
}

void CUpdateChecker::CloseFinishedWorkers() {
    auto keep = m_workers.begin();
    for (const HANDLE worker : m_workers) {
        if (WaitForSingleObject(worker, 0) == WAIT_OBJECT_0) {
            CloseHandle(worker);
        } else {
            *keep++ = worker;
        }
    }
    m_workers.erase(keep, m_workers.end());
}
