// The update download worker over WinInet.
#include "store/updater/update_download.h"

#include <wininet.h>
#include <process.h>

#include <algorithm>
#include <cstdint>

#include "hostlink/host_link_codes.h"
#include "hostlink/posted_texts.h"
#include "store/files/file_operations.h"
#include "store/transfers/wininet_certificate_check.h"
#include "store/updater/download_names.h"
#include "store/updater/download_progress.h"
#include "store/updater/download_progress_ids.h"
#include "store/updater/download_reads.h"
#include "store/updater/update_urls.h"

const char kUpdaterMessageCaption[] = "PXStore";

namespace {

const char kSessionAgent[] = "My Session";
constexpr DWORD_PTR kRequestContext = 1;

enum class Outcome {
    kCompleted,  // status 200 and no cancel: the completion is posted
    kFailed,     // no connection, another status, a broken transfer
    kCancelled,  // Cancel in the progress window, or the store is closing
    kReported,   // failed with a message of its own, busy flag already cleared
    kWriteFailed,
};

// A WinInet handle closed when it goes out of scope.
class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : m_handle(handle) {}
    ~InternetHandle() {
        if (m_handle != nullptr) {
            InternetCloseHandle(m_handle);
        }
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return m_handle; }

private:
    HINTERNET m_handle;
};

void ShowWorkerMessage(const UpdaterState& state, const std::string& text) {
    if (!state.closing.load()) {
        MessageBoxA(nullptr, text.c_str(), kUpdaterMessageCaption,
                    MB_OK | MB_TOPMOST | MB_SETFOREGROUND);
    }
}

// A header's text, "" when the response has none.
bool QueryHeader(HINTERNET request, DWORD query, std::string& value) {
    std::string buffer(256, '\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        if (HttpQueryInfoA(request, query, &buffer[0], &length, nullptr)) {
            buffer.resize(length);
            value = buffer;
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length <= buffer.size()) {
            return false;
        }
        buffer.assign(length + 1, '\0');
    }
}

DWORD QueryStatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD length = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                        nullptr)) {
        return 0;
    }
    return status;
}

// Writes all of a chunk; WriteFile may write less than asked.
bool WriteChunk(HANDLE file, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, size, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

class DownloadRun {
public:
    explicit DownloadRun(UpdateDownloadRequest& request)
        : m_request(request),
          m_state(*request.state),
          m_program(request.completionCode == WM_PX_RUN_DOWNLOADED) {}

    Outcome Fetch(HINTERNET session);
    const std::string& SavedPath() const { return m_savedPath; }

private:
    Outcome ReadBody(HINTERNET request, HANDLE file, std::int64_t total);
    void ShowProgress();
    void CloseProgress();

    UpdateDownloadRequest& m_request;
    UpdaterState& m_state;
    const bool m_program;
    bool m_progressShown = false;
    std::shared_ptr<CDownloadProgress> m_progress;
    std::string m_savedPath;
};

Outcome DownloadRun::Fetch(HINTERNET session) {
    InternetHandle connection(InternetConnectA(session, m_request.server.c_str(),
                                               static_cast<INTERNET_PORT>(m_request.port), nullptr,
                                               nullptr, INTERNET_SERVICE_HTTP, 0, kRequestContext));
    if (connection.get() == nullptr) {
        return Outcome::kFailed;
    }
    // Every answer comes from the server: the first check of each run asks with the same
    // counter value, and a cached descriptor or program would hide a newer one.
    DWORD flags =
        INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (m_request.secure) {
        flags |= INTERNET_FLAG_SECURE;
    }
    InternetHandle request(HttpOpenRequestA(connection.get(), "GET", m_request.objectPath.c_str(),
                                            nullptr, nullptr, nullptr, flags, kRequestContext));
    if (request.get() == nullptr ||
        !SendWithCertificateCheck(
            session, request.get(), m_request.server, m_request.port, m_request.secure,
            [&] { return HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0); })) {
        return Outcome::kFailed;
    }
    if (QueryStatusCode(request.get()) != HTTP_STATUS_OK) {
        return Outcome::kFailed;
    }

    std::string disposition;
    const bool hasDisposition =
        m_request.nameFromServer &&
        QueryHeader(request.get(), HTTP_QUERY_CONTENT_DISPOSITION, disposition);
    m_savedPath =
        ChooseDownloadFile(m_request.nameFromServer, m_request.destination, m_program,
                           m_request.transferDirectory, hasDisposition ? &disposition : nullptr)
            .path;
    std::string lengthText;
    const std::int64_t total = QueryHeader(request.get(), HTTP_QUERY_CONTENT_LENGTH, lengthText)
                                   ? ParseContentLength(lengthText.c_str())
                                   : 0;

    const HANDLE file =
        CreateFileA(m_savedPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ShowWorkerMessage(
            m_state,
            UpdaterText(IDS_UPDATE_CREATE_FAILED, "Couldn't create the file: ") + m_savedPath);
        m_state.busy.store(false);
        // The completion still goes out, with no path: whatever an earlier download left
        // under that name is not this download's file and must not be started.
        m_savedPath.clear();
        return Outcome::kCompleted;
    }
    const Outcome outcome = ReadBody(request.get(), file, total);
    CloseHandle(file);
    CloseProgress();
    if (outcome == Outcome::kFailed || outcome == Outcome::kWriteFailed) {
        // A body cut short must never be taken for the update (nor started later). A
        // cancelled download keeps its partial file, as the user left it.
        DeleteFileA(m_savedPath.c_str());
    }
    if (outcome == Outcome::kWriteFailed) {
        ShowWorkerMessage(
            m_state,
            UpdaterText(IDS_UPDATE_WRITE_FAILED, "Couldn't write the file: ") + m_savedPath);
        m_state.busy.store(false);
        return Outcome::kReported;
    }
    return outcome;
}

Outcome DownloadRun::ReadBody(HINTERNET request, HANDLE file, std::int64_t total) {
    if (m_program) {
        ShowProgress();
    }
    BodyReadPlan plan;
    char buffer[kFirstReadBytes];
    std::uint64_t received = 0;
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, buffer, static_cast<DWORD>(plan.NextReadBytes()), &got)) {
            return m_state.closing.load() ? Outcome::kCancelled : Outcome::kFailed;
        }
        if (got > 0) {
            if (m_state.closing.load() || (m_progress != nullptr && !m_progress->IsRunning())) {
                return Outcome::kCancelled;
            }
            received += got;
            if (m_progress != nullptr) {
                const int percent = ProgressPercent(received, total);
                if (percent >= 0) {
                    m_progress->SetPercent(percent);
                }
                m_progress->SetSizeText(SizeLineText(received));
            }
            if (!WriteChunk(file, buffer, got)) {
                return Outcome::kWriteFailed;
            }
        }
        if (!plan.Record(got)) {
            // WinInet ends a body the server or a proxy cut off with empty reads, as if it
            // were complete: only the announced length tells the two apart.
            if (total > 0 && received != static_cast<std::uint64_t>(total)) {
                return Outcome::kFailed;
            }
            return Outcome::kCompleted;
        }
    }
}

void DownloadRun::ShowProgress() {
    SendMessageA(m_request.window, WM_PX_SHOW_PROGRESS, 0, 0);
    m_progressShown = true;
    m_progress = m_state.Progress();
}

void DownloadRun::CloseProgress() {
    if (m_progressShown) {
        m_progressShown = false;
        m_progress.reset();
        SendMessageA(m_request.window, WM_PX_CLOSE_PROGRESS, 0, 0);
    }
}

void RunDownload(UpdateDownloadRequest& request) {
    UpdaterState& state = *request.state;
    const HINTERNET session =
        InternetOpenA(kSessionAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    Outcome outcome = Outcome::kFailed;
    std::string savedPath;
    if (session != nullptr) {
        if (state.AddSession(session)) {
            DownloadRun run(request);
            outcome = run.Fetch(session);
            savedPath = run.SavedPath();
            if (state.RemoveSession(session)) {
                InternetCloseHandle(session);
            }
        } else {
            InternetCloseHandle(session);
            outcome = Outcome::kCancelled;
        }
    }
    if (state.closing.load()) {
        outcome = Outcome::kCancelled;
    }
    switch (outcome) {
        case Outcome::kCompleted: {
            if (!PostTextMessage(request.window, request.completionCode, savedPath)) {
                state.busy.store(false);
            }
            break;
        }
        case Outcome::kFailed:
            if (request.completionCode != WM_PX_UPDATE_DESCRIPTOR_SILENT) {
                ShowWorkerMessage(state, UpdaterText(IDS_UPDATE_SERVICE_UNREACHABLE,
                                                     "The Plenthra service could not be "
                                                     "contacted. Please try again later."));
            }
            state.busy.store(false);
            break;
        case Outcome::kCancelled:
        case Outcome::kReported:
        case Outcome::kWriteFailed:
            break;
    }
}

unsigned __stdcall DownloadWorker(void* param) {
    std::unique_ptr<UpdateDownloadRequest> request(static_cast<UpdateDownloadRequest*>(param));
    RunDownload(*request);
    return 0;
}

}  // namespace

std::shared_ptr<CDownloadProgress> UpdaterState::Progress() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_progress;
}

void UpdaterState::SetProgress(std::shared_ptr<CDownloadProgress> progress) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_progress = std::move(progress);
}

std::shared_ptr<CDownloadProgress> UpdaterState::TakeProgress() {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::move(m_progress);
}

bool UpdaterState::AddSession(void* session) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (closing.load()) {
        return false;
    }
    m_sessions.push_back(session);
    return true;
}

bool UpdaterState::RemoveSession(void* session) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = std::find(m_sessions.begin(), m_sessions.end(), session);
    if (found == m_sessions.end()) {
        return false;
    }
    m_sessions.erase(found);
    return true;
}

void UpdaterState::CloseSessions() {
    std::vector<void*> sessions;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        sessions.swap(m_sessions);
    }
    for (void* session : sessions) {
        InternetCloseHandle(session);
    }
}

HANDLE StartUpdateDownload(const std::shared_ptr<UpdaterState>& state, HWND window,
                           const std::string& url, UINT completionCode,
                           const std::string& destination, const std::string& transferDirectory) {
    const std::optional<DownloadTarget> target = SplitDownloadUrl(url);
    if (!target) {
        state->busy.store(false);
        return nullptr;
    }
    auto request = std::make_unique<UpdateDownloadRequest>();
    request->window = window;
    request->server = target->server;
    request->port = target->port;
    request->secure = target->secure;
    request->objectPath = target->objectPath;
    request->completionCode = completionCode;
    request->transferDirectory = transferDirectory;
    request->state = state;

    const std::string tempFolder = transferDirectory + kUpdateTempFolder;
    CreateFolderTree(tempFolder.c_str());
    if (!destination.empty()) {
        request->destination = destination;
    } else {
        request->nameFromServer = true;
        request->destination = tempFolder;
    }

    const uintptr_t thread = _beginthreadex(nullptr, 0, DownloadWorker, request.get(), 0, nullptr);
    if (thread == 0) {
        state->busy.store(false);
        return nullptr;
    }
    request.release();
    return reinterpret_cast<HANDLE>(thread);
}
