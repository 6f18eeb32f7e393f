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

    // Stops every transfer, waits a bounded time for them to finish, then for their threads.
    void shutdown();
    bool closing() const { return m_closing.load(); }

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
    void installClient(TransferRecord& record, std::unique_ptr<ITransferClient> client,
                       bool upload);

    ITransferRunner& m_runner;
    ITransferHost& m_host;
    TransferStartGate& m_gate;
    const TransferTimings m_timings;

    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_shutDown{false};

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
