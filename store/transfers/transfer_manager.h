// TransferManager: the store's queued, limited, threaded uploads and downloads. Requests
// from the movie become active records with a worker thread each, or wait behind the
// download and upload limits; a finished record stays visible to the pollers for two
// seconds, is removed, and starts the oldest waiting request of its own class. The two
// status replies are built from the lists under the "MutexProgress" lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "store/shell/flash_call_handler.h"
#include "store/transfers/transfer_runner.h"
#include "store/transfers/transfer_sync.h"

class TransferManager;

// Bit values, so that a mask selects a class.
enum TransferKind : int {
    kTransferDownload = 1,
    kTransferDownloadAndOpen = 2,
    kTransferUpload = 4,
};
constexpr int kDownloadKindMask = kTransferDownload | kTransferDownloadAndOpen;
constexpr int kUploadKindMask = kTransferUpload;

// The status of a folder upload whose folder could not be packed whole (an entry that
// could not be copied or read, a name that does not fit below the staging folder, or a
// folder name that would stage outside it): the upload client's codes stay below 1000,
// so the movie tells this from every post failure.
constexpr int kUploadPackageFailedStatus = 3000;

// The marker of a folder that travels as one package.
constexpr char kFolderPackageMarker[] = ".PLENTHRA_UNZIP";

// One active transfer. The worker thread owns the work; the manager's list owns the record.
struct TransferRecord {
    int id = 0;
    TransferManager* owner = nullptr;
    TransferProgress progress;
    std::string url;
    std::string folder;
    std::string localPath;
    std::string finalPath;
    std::string guid;
    TransferKind kind = kTransferDownload;
    std::atomic<bool> linger{true};
    // Set by a stop; the worker looks at it before each step, so that a stop that comes
    // before the client exists still holds.
    std::atomic<bool> stopRequested{false};
    int openHost = 0;
    // Installed and read under the manager's lock; used by the worker outside it.
    std::unique_ptr<ITransferClient> downloadClient;
    std::unique_ptr<ITransferClient> uploadClient;
};

// A request held back by a limit, kept so that it can start later as if just received.
struct WaitingTransfer {
    int id = 0;
    int openHost = 0;
    TransferKind kind = kTransferDownload;
    std::string s1;
    std::string s2;
    std::string s3;
    std::string s4;
};

// Status codes a stop leaves on a transfer that had no running client yet, the same as a
// stop of a running client leaves.
constexpr int kDownloadStatusStopped = 1006;
constexpr int kUploadStatusStopped = 2000;

// Waits that tests shorten; the store uses the defaults.
struct TransferTimings {
    uint32_t lingerMs = 2000;
    uint32_t lockWaitMs = 5000;
    uint32_t shutdownWaitMs = 5000;
};

class TransferManager : public ITransferStatusSource {
public:
    // `runner`, `host` and `gate` must outlive the manager.
    TransferManager(ITransferRunner& runner, ITransferHost& host,
                    TransferStartGate& gate = TheTransferStartGate(),
                    TransferTimings timings = TransferTimings());
    // Shuts down if that has not happened and waits for every worker thread.
    ~TransferManager() override;
    TransferManager(const TransferManager&) = delete;
    TransferManager& operator=(const TransferManager&) = delete;

    void startDownload(int id, const std::string& url, const std::string& finalPath,
                       const std::string& relativePath);
    void startDownloadAndOpen(int id, const std::string& url, const std::string& localPath,
                              const std::string& fileName, int hostId);
    void startUpload(int id, const std::string& localPath, const std::string& guid,
                     const std::string& url);

    // StopTransFile: drops the first waiting entry with the id, then stops the active record
    // with it. 0 when an active record was stopped, else -1.
    int stopTransfer(int id);

    bool setUserCacheFolder(const std::string& path);
    std::string userCacheFolder() const;
    void setDefaultUploadUrl(const std::string& url);
    void setMaxDownloadCount(int count);
    void setMaxUploadCount(int count);

    // The status replies. While closing, GetTransStatus gives empty text and GetAllProgress
    // false (no reply value at all).
    std::string GetTransStatus() override;
    bool GetAllProgress(std::string& reply);

    // After the shutdown wait, how long shutdown waits for stopped workers to end. Closing
    // the store therefore takes at most shutdownWaitMs + kWorkerJoinGraceMs here.
    static constexpr uint32_t kWorkerJoinGraceMs = 2000;

    // Stops every transfer, waits a bounded time for them to finish, then at most
    // kWorkerJoinGraceMs for their threads. Workers still running after that are left to
    // the process's end (workersLeft() is then true) and no longer call the runner or host.
    void shutdown();
    bool closing() const { return m_closing.load(); }
    // True after shutdown while some worker still runs. Such a worker still uses this
    // manager: its owner must not destroy it (the destructor would wait for the worker) but
    // leave it, the runner and the host to the process's end.
    bool workersLeft();

    // Counts for tests and the log; -1 when the lock could not be had.
    int activeCount();
    int waitingCount();

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    class ListLock;

    void startDownloadKind(TransferKind kind, int id, const std::string& url,
                           const std::string& givenPath, const std::string& namePart, int hostId);
    int countActive(int mask) const;
    TransferRecord* findActive(int id);
    bool removeWaiting(int id);
    void stop(TransferRecord& record);
    bool startNextWaiting(int mask);
    void startWorker(TransferRecord* record);
    void reapWorkers(bool all);

    void downloadWorker(TransferRecord* record);
    void uploadWorker(TransferRecord* record);
    void runTransfer(TransferRecord& record);
    void lingerIfWanted(TransferRecord& record);
    void finishRecord(TransferRecord* record, int mask);
    bool installClient(TransferRecord& record, std::unique_ptr<ITransferClient> client,
                       bool upload);
    void endStopped(TransferRecord& record);
    bool joinWorkersWithin(uint32_t waitMs);
    bool abandoned() const { return m_abandoned.load(); }

    static constexpr uint32_t kWorkerPollMs = 20;

    ITransferRunner& m_runner;
    ITransferHost& m_host;
    TransferStartGate& m_gate;
    const TransferTimings m_timings;

    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_shutDown{false};
    // Set when shutdown left workers running: they then leave the runner and host alone.
    std::atomic<bool> m_abandoned{false};

    // Guarded by m_progressMutex.
    ProgressMutex m_progressMutex;
    std::string m_userCacheFolder;
    std::string m_defaultUploadUrl;
    std::list<std::unique_ptr<TransferRecord>> m_activeList;
    std::list<WaitingTransfer> m_waitingList;
    std::unique_ptr<StopEvents> m_stopEvents;
    std::size_t m_nextStopEvent = 0;
    int m_maxDownloadCount = 5;
    int m_maxUploadCount = 1;

    // Wakes lingering workers when shutdown begins.
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;

    std::mutex m_workersMutex;
    std::list<Worker> m_workers;
};
