// The transfer manager's lists, limits, workers and shutdown.
//
// Lock order: m_progressMutex before m_workersMutex; m_wakeMutex is never held with either.
// A worker takes the list lock only to install its client and for its completion step, so
// the user-interface thread's waits stay short. Once closing is set no waiting request is
// started, no lingering happens and a new client is aborted at once: shutdown then only
// waits for clients to notice their abort flag.
#include "store/transfers/transfer_manager.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <system_error>
#include <utility>

#include "store/files/path_walk.h"
#include "store/shell/activity_log.h"

namespace {

// Every pair of backslashes becomes one, scanning once from the left by whole characters,
// so that a double-byte character whose trail byte is a backslash keeps the separator that
// follows it.
std::string CollapseDoubleBackslashes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t next = NextCharIndex(text, i);
        out.append(text, i, next - i);
        const bool backslash = next - i == 1 && text[i] == '\\';
        i = next;
        if (backslash && i < text.size() && NextCharIndex(text, i) == i + 1 && text[i] == '\\') {
            ++i;
        }
    }
    return out;
}

void RemoveMarker(std::string& path) {
    const std::size_t at = path.find(kFolderPackageMarker);
    if (at != std::string::npos) {
        path.erase(at, sizeof(kFolderPackageMarker) - 1);
    }
}

}  // namespace

// Holds m_progressMutex for a scope. A bounded lock gives up after one wait (the caller
// then answers as if refused); a persistent one, used by workers whose record must not be
// lost, logs each timeout and waits again.
class TransferManager::ListLock {
public:
    ListLock(TransferManager& manager, bool persistent) : m_manager(manager) {
        for (;;) {
            m_held = manager.m_progressMutex.Acquire(manager.m_timings.lockWaitMs);
            if (m_held) {
                break;
            }
            LogLine("MutexProgress wait of %u ms timed out",
                    static_cast<unsigned>(manager.m_timings.lockWaitMs));
            if (!persistent) {
                break;
            }
        }
    }
    ~ListLock() {
        if (m_held) {
            m_manager.m_progressMutex.Release();
        }
    }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

    bool Held() const { return m_held; }

private:
    TransferManager& m_manager;
    bool m_held = false;
};

TransferManager::TransferManager(ITransferRunner& runner, ITransferHost& host,
                                 TransferStartGate& gate, TransferTimings timings)
    : m_runner(runner),
      m_host(host),
      m_gate(gate),
      m_timings(timings),
      m_progressMutex("MutexProgress") {}

TransferManager::~TransferManager() {
    shutdown();
    // Workers that use this object cannot be left running while it goes away; an owner
    // that must not wait gives up the manager instead (see workersLeft).
    reapWorkers(true);
}

void TransferManager::startDownload(int id, const std::string& url, const std::string& finalPath,
                                    const std::string& relativePath) {
    startDownloadKind(kTransferDownload, id, url, finalPath, relativePath, 0);
}

void TransferManager::startDownloadAndOpen(int id, const std::string& url,
                                           const std::string& localPath,
                                           const std::string& fileName, int hostId) {
    startDownloadKind(kTransferDownloadAndOpen, id, url, localPath, fileName, hostId);
}

void TransferManager::startDownloadKind(TransferKind kind, int id, const std::string& url,
                                        const std::string& givenPath, const std::string& namePart,
                                        int hostId) {
    ListLock lock(*this, false);
    if (!lock.Held() || closing()) {
        return;
    }
    if (countActive(kDownloadKindMask) >= m_maxDownloadCount) {
        WaitingTransfer waiting;
        waiting.id = id;
        waiting.openHost = kind == kTransferDownloadAndOpen ? hostId : 0;
        waiting.kind = kind;
        waiting.s1 = url;
        waiting.s3 = givenPath;
        waiting.s4 = namePart;
        m_waitingList.push_back(std::move(waiting));
        return;
    }
    if (findActive(id) != nullptr) {
        return;
    }
    auto record = std::make_unique<TransferRecord>();
    record->id = id;
    record->owner = this;
    record->url = url;
    record->folder = m_userCacheFolder;
    if (record->folder.empty() || record->folder.back() != '\\') {
        record->folder += '\\';
    }
    record->localPath = record->folder + namePart;
    record->folder = record->localPath.substr(0, record->localPath.rfind('\\'));
    record->finalPath = givenPath.empty() ? record->localPath : givenPath;
    record->localPath = CollapseDoubleBackslashes(record->localPath);
    record->finalPath = CollapseDoubleBackslashes(record->finalPath);
    record->folder = CollapseDoubleBackslashes(record->folder);
    record->kind = kind;
    if (kind == kTransferDownloadAndOpen) {
        record->openHost = hostId;
    }
    m_host.CreateFolderTree(record->folder);
    TransferRecord* raw = record.get();
    m_activeList.push_back(std::move(record));
    startWorker(raw);
}

void TransferManager::startUpload(int id, const std::string& localPath, const std::string& guid,
                                  const std::string& url) {
    ListLock lock(*this, false);
    if (!lock.Held() || closing()) {
        return;
    }
    if (countActive(kUploadKindMask) >= m_maxUploadCount) {
        WaitingTransfer waiting;
        waiting.id = id;
        waiting.kind = kTransferUpload;
        waiting.s1 = url;
        waiting.s2 = guid;
        waiting.s3 = localPath;
        m_waitingList.push_back(std::move(waiting));
        return;
    }
    if (findActive(id) != nullptr) {
        return;
    }
    auto record = std::make_unique<TransferRecord>();
    record->id = id;
    record->owner = this;
    record->url = url.empty() ? m_defaultUploadUrl : url;
    record->folder = m_userCacheFolder;
    record->kind = kTransferUpload;
    record->localPath = CollapseDoubleBackslashes(localPath);
    record->guid = guid;
    TransferRecord* raw = record.get();
    m_activeList.push_back(std::move(record));
    startWorker(raw);
}

int TransferManager::stopTransfer(int id) {
    ListLock lock(*this, false);
    if (!lock.Held()) {
        return -1;
    }
    removeWaiting(id);
    TransferRecord* record = findActive(id);
    if (record == nullptr) {
        return -1;
    }
    stop(*record);
    return 0;
}

bool TransferManager::setUserCacheFolder(const std::string& path) {
    const bool created = !path.empty() && m_host.CreateFolderTree(path);
    ListLock lock(*this, true);
    m_userCacheFolder = created ? path : std::string();
    return created;
}

std::string TransferManager::userCacheFolder() const {
    ListLock lock(const_cast<TransferManager&>(*this), true);
    return m_userCacheFolder;
}

void TransferManager::setDefaultUploadUrl(const std::string& url) {
    ListLock lock(*this, true);
    m_defaultUploadUrl = url;
}

void TransferManager::setMaxDownloadCount(int count) {
    ListLock lock(*this, true);
    m_maxDownloadCount = count;
}

void TransferManager::setMaxUploadCount(int count) {
    ListLock lock(*this, true);
    m_maxUploadCount = count;
}

std::string TransferManager::GetTransStatus() {
    if (closing()) {
        return std::string();
    }
    std::string reply = "\"";
    {
        ListLock lock(*this, false);
        if (lock.Held()) {
            char entry[64];
            for (const auto& record : m_activeList) {
                std::snprintf(entry, sizeof entry, "%d,%u,%u,%d;", record->id,
                              static_cast<unsigned>(LoadDoneAmount(record->progress)),
                              static_cast<unsigned>(LoadTotalAmount(record->progress)),
                              static_cast<int>(LoadStatus(record->progress)));
                reply += entry;
            }
        }
    }
    reply += "\"";
    return reply;
}

bool TransferManager::GetAllProgress(std::string& reply) {
    if (closing()) {
        return false;
    }
    reply = "\"";
    {
        ListLock lock(*this, false);
        if (lock.Held()) {
            for (const auto& record : m_activeList) {
                reply += std::to_string(record->id) + ";";
            }
            for (const WaitingTransfer& waiting : m_waitingList) {
                reply += std::to_string(waiting.id) + ";";
            }
        }
    }
    reply += "\"";
    return true;
}

int TransferManager::activeCount() {
    ListLock lock(*this, false);
    return lock.Held() ? static_cast<int>(m_activeList.size()) : -1;
}

int TransferManager::waitingCount() {
    ListLock lock(*this, false);
    return lock.Held() ? static_cast<int>(m_waitingList.size()) : -1;
}

void TransferManager::shutdown() {
    if (m_shutDown.exchange(true)) {
        return;
    }
    m_closing = true;
    { std::lock_guard<std::mutex> hold(m_wakeMutex); }
    m_wake.notify_all();

    StopEvents* events = nullptr;
    {
        ListLock lock(*this, true);
        const std::size_t count = m_activeList.size();
        LogLine("count=%d", static_cast<int>(count));
        m_stopEvents = std::make_unique<StopEvents>(count);
        m_nextStopEvent = 0;
        events = m_stopEvents.get();
        for (auto& record : m_activeList) {
            stop(*record);
        }
    }
    // Freed only below, under the lock, so the pointer stays good while workers signal.
    if (events->Count() > 0) {
        events->WaitAll(m_timings.shutdownWaitMs);
    }
    {
        ListLock lock(*this, true);
        m_stopEvents.reset();
    }
    // Everything was stopped, so this is the short wait for clients to notice. A worker
    // still blocked after it (a host-name lookup, a disk that does not answer) is left to
    // the process's end: closing must not hang on it.
    if (!joinWorkersWithin(kWorkerJoinGraceMs)) {
        m_abandoned = true;
        LogLine("Transfer workers still running after %u ms are left to the process's end",
                static_cast<unsigned>(m_timings.shutdownWaitMs + kWorkerJoinGraceMs));
    }
}

bool TransferManager::workersLeft() {
    std::lock_guard<std::mutex> hold(m_workersMutex);
    return !m_workers.empty();
}

bool TransferManager::joinWorkersWithin(uint32_t waitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        reapWorkers(false);
        if (!workersLeft()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kWorkerPollMs));
    }
}

int TransferManager::countActive(int mask) const {
    int count = 0;
    for (const auto& record : m_activeList) {
        if ((record->kind & mask) != 0) {
            ++count;
        }
    }
    return count;
}

TransferRecord* TransferManager::findActive(int id) {
    for (auto& record : m_activeList) {
        if (record->id == id) {
            return record.get();
        }
    }
    return nullptr;
}

bool TransferManager::removeWaiting(int id) {
    for (auto it = m_waitingList.begin(); it != m_waitingList.end(); ++it) {
        if (it->id == id) {
            m_waitingList.erase(it);
            return true;
        }
    }
    return false;
}

void TransferManager::stop(TransferRecord& record) {
    record.stopRequested = true;
    record.linger = false;
    if (record.downloadClient) {
        record.downloadClient->Abort();
    }
    if (record.uploadClient) {
        record.uploadClient->Abort();
    }
}

bool TransferManager::startNextWaiting(int mask) {
    for (auto it = m_waitingList.begin(); it != m_waitingList.end(); ++it) {
        if ((it->kind & mask) == 0) {
            continue;
        }
        const WaitingTransfer next = std::move(*it);
        m_waitingList.erase(it);
        switch (next.kind) {
            case kTransferDownload:
                startDownload(next.id, next.s1, next.s3, next.s4);
                break;
            case kTransferDownloadAndOpen:
                startDownloadAndOpen(next.id, next.s1, next.s3, next.s4, next.openHost);
                break;
            case kTransferUpload:
                startUpload(next.id, next.s3, next.s2, next.s1);
                break;
        }
        return true;
    }
    return false;
}

void TransferManager::startWorker(TransferRecord* record) {
    reapWorkers(false);
    std::lock_guard<std::mutex> hold(m_workersMutex);
    m_workers.emplace_back();
    Worker* worker = &m_workers.back();
    try {
        worker->thread = std::thread([this, record, worker] {
            if (record->kind == kTransferUpload) {
                uploadWorker(record);
            } else {
                downloadWorker(record);
            }
            worker->finished = true;
        });
    } catch (const std::system_error&) {
        // No thread, so nobody would ever remove the record.
        m_workers.pop_back();
        LogLine("Transfer %d: no worker thread", record->id);
        for (auto it = m_activeList.begin(); it != m_activeList.end(); ++it) {
            if (it->get() == record) {
                m_activeList.erase(it);
                break;
            }
        }
    }
}

void TransferManager::reapWorkers(bool all) {
    for (;;) {
        std::list<Worker> done;
        {
            std::lock_guard<std::mutex> hold(m_workersMutex);
            for (auto it = m_workers.begin(); it != m_workers.end();) {
                auto next = std::next(it);
                if (all || it->finished) {
                    done.splice(done.end(), m_workers, it);
                }
                it = next;
            }
        }
        for (Worker& worker : done) {
            if (worker.thread.joinable()) {
                worker.thread.join();
            }
        }
        if (!all || done.empty()) {
            return;
        }
    }
}

void TransferManager::downloadWorker(TransferRecord* record) {
    if (!record->url.empty() && !record->folder.empty()) {
        runTransfer(*record);
    }
    lingerIfWanted(*record);
    // The path is handed on after every ending, as the user asked to see the file; during
    // shutdown only a finished file is worth starting a program for.
    if (record->kind == kTransferDownloadAndOpen && !record->localPath.empty() &&
        (!closing() || LoadStatus(record->progress) == 0) && !abandoned()) {
        m_host.OpenDownloadedFile(record->localPath, record->openHost);
    }
    finishRecord(record, kDownloadKindMask);
}

void TransferManager::uploadWorker(TransferRecord* record) {
    std::string package;
    if (!record->url.empty() && !record->folder.empty()) {
        bool ready = true;
        if (record->localPath.find(kFolderPackageMarker) != std::string::npos) {
            std::string folder = record->localPath;
            RemoveMarker(folder);
            ready =
                !record->stopRequested &&
                m_runner.BuildUploadPackage(folder, record->folder, record->stopRequested, package);
            if (ready) {
                record->localPath = package;
            } else if (record->stopRequested) {
                endStopped(*record);
            } else {
                // A partial package is never posted: the movie sees its own code.
                LogLine("Upload %d: no package of %s", record->id, folder.c_str());
                record->linger = true;
                StoreStatus(record->progress, kUploadPackageFailedStatus);
            }
        }
        if (ready) {
            runTransfer(*record);
        }
    }
    if (!package.empty() && !abandoned()) {
        m_runner.RemoveUploadPackage(package);
    }
    lingerIfWanted(*record);
    finishRecord(record, kUploadKindMask);
}

void TransferManager::runTransfer(TransferRecord& record) {
    m_gate.Pass([this, &record] { return closing() || record.stopRequested; });
    if (closing()) {
        return;
    }
    if (record.stopRequested) {
        endStopped(record);
        return;
    }
    if (record.url.find("http") == std::string::npos) {
        return;
    }
    if (record.kind == kTransferUpload) {
        StoreStatus(record.progress, 0);
        std::unique_ptr<ITransferClient> client = m_runner.CreateUploadClient();
        ITransferClient* upload = client.get();
        if (upload == nullptr) {
            return;
        }
        if (!installClient(record, std::move(client), true)) {
            endStopped(record);
            return;
        }
        int errorCode = 0;
        if (!upload->Upload(record.url, record.localPath, record.guid, record.progress,
                            errorCode)) {
            record.linger = true;
            StoreStatus(record.progress, 2000 + errorCode);
        }
        return;
    }
    std::unique_ptr<ITransferClient> client = m_runner.CreateDownloadClient();
    ITransferClient* download = client.get();
    if (download == nullptr) {
        return;
    }
    if (!installClient(record, std::move(client), false)) {
        endStopped(record);
        return;
    }
    std::string written;
    const int code =
        download->Download(record.url, record.folder, record.localPath, record.progress, written);
    if (code != 0) {
        // A stop while the body arrives ends without the linger; every other failure
        // stays visible, even after a stop.
        record.linger = code != 1006;
        StoreStatus(record.progress, code);
        return;
    }
    StoreStatus(record.progress, 0);
    if (!written.empty()) {
        record.localPath = written;
    }
    if (!record.finalPath.empty() && !SamePath(record.finalPath, record.localPath) &&
        !abandoned()) {
        // A failed copy is not the transfer's failure: the file is in the cache.
        m_host.CopyFileTo(record.localPath, record.finalPath);
    }
}

bool TransferManager::installClient(TransferRecord& record, std::unique_ptr<ITransferClient> client,
                                    bool upload) {
    ListLock lock(*this, true);
    // A stop (or shutdown) that came before the client existed: the client never runs, so
    // nothing of this transfer reaches the server. Under the lock, a later stop finds the
    // client installed and aborts it.
    if (closing() || record.stopRequested) {
        return false;
    }
    (upload ? record.uploadClient : record.downloadClient) = std::move(client);
    return true;
}

void TransferManager::endStopped(TransferRecord& record) {
    // As a stop of a running client ends: a download with 1006 and gone at once, an upload
    // with 2000 and lingering.
    if (record.kind == kTransferUpload) {
        record.linger = true;
        StoreStatus(record.progress, kUploadStatusStopped);
    } else {
        record.linger = false;
        StoreStatus(record.progress, kDownloadStatusStopped);
    }
}

void TransferManager::lingerIfWanted(TransferRecord& record) {
    if (!record.linger) {
        return;
    }
    std::unique_lock<std::mutex> hold(m_wakeMutex);
    m_wake.wait_for(hold, std::chrono::milliseconds(m_timings.lingerMs),
                    [this] { return closing(); });
}

void TransferManager::finishRecord(TransferRecord* record, int mask) {
    ListLock lock(*this, true);
    if (m_stopEvents && m_nextStopEvent < m_stopEvents->Count()) {
        LogLine("nSetEventTime=%d", static_cast<int>(m_nextStopEvent));
        m_stopEvents->Signal(m_nextStopEvent++);
    }
    LogLine("ProgressListCount=%d; TransWaitingListCount=%d", static_cast<int>(m_activeList.size()),
            static_cast<int>(m_waitingList.size()));
    for (auto it = m_activeList.begin(); it != m_activeList.end(); ++it) {
        if (it->get() == record) {
            m_activeList.erase(it);
            break;
        }
    }
    if (!closing()) {
        startNextWaiting(mask);
    }
}
