// What the transfer manager asks of the world around it, as small interfaces: the clients
// that move the bytes (download, upload, upload package) and the program's own services
// (file operations and the hand-off of a finished download). The store plugs the real
// clients and the Win32 services in; tests plug in fakes, so the queueing, limits, linger
// and shutdown rules run natively under the sanitizers.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// The three progress figures of one transfer, kept together in this order because a client
// is handed one pointer to them and writes them while the user-interface thread reads.
// Each is one aligned 32-bit value, so a reader sees either the old or the new figure.
struct TransferProgress {
    int32_t status = 1;
    uint32_t doneAmount = 0;
    uint32_t totalAmount = 1024;
};

// Single-value reads and writes of the figures from different threads.
inline int32_t LoadStatus(const TransferProgress& p) {
    return __atomic_load_n(&p.status, __ATOMIC_RELAXED);
}
inline uint32_t LoadDoneAmount(const TransferProgress& p) {
    return __atomic_load_n(&p.doneAmount, __ATOMIC_RELAXED);
}
inline uint32_t LoadTotalAmount(const TransferProgress& p) {
    return __atomic_load_n(&p.totalAmount, __ATOMIC_RELAXED);
}
inline void StoreStatus(TransferProgress& p, int32_t value) {
    __atomic_store_n(&p.status, value, __ATOMIC_RELAXED);
}
inline void StoreAmounts(TransferProgress& p, uint32_t done, uint32_t total) {
    __atomic_store_n(&p.doneAmount, done, __ATOMIC_RELAXED);
    __atomic_store_n(&p.totalAmount, total, __ATOMIC_RELAXED);
}

// One transfer's client, created by the worker and owned by its record. Download and
// Upload run on the worker thread; Abort may come from any thread at any time, also before
// or after the run, and only asks the run to end soon.
class ITransferClient {
public:
    virtual ~ITransferClient() = default;

    // Fetches `url` into `localPath` (below `folder`), resuming a partial file. Returns 0
    // with the path finally written in `writtenPath`, or the failure code (1001 to 1009,
    // an HTTP status code).
    virtual int Download(const std::string& url, const std::string& folder,
                         const std::string& localPath, TransferProgress& progress,
                         std::string& writtenPath) = 0;

    // Posts `localPath` with `guid` to `url` as a multipart form. True when the post went
    // through; otherwise `errorCode` is the upload client's error code (without 2000).
    virtual bool Upload(const std::string& url, const std::string& localPath,
                        const std::string& guid, TransferProgress& progress, int& errorCode) = 0;

    virtual void Abort() = 0;
};

class ITransferRunner {
public:
    virtual ~ITransferRunner() = default;
    virtual std::unique_ptr<ITransferClient> CreateDownloadClient() = 0;
    virtual std::unique_ptr<ITransferClient> CreateUploadClient() = 0;

    // Packs `folder` for upload below `cacheFolder`; true with the package's path. Looks at
    // `stop` between files and between archive writes and gives up (false) once it is set.
    // False also when any entry could not be staged or packed: a partial package is never
    // handed out. `packagePath` is set whenever a package may have been started, so that the
    // caller removes whatever is left.
    virtual bool BuildUploadPackage(const std::string& folder, const std::string& cacheFolder,
                                    const std::atomic<bool>& stop, std::string& packagePath) = 0;
    // Removes a package after its upload attempt, whatever the outcome.
    virtual void RemoveUploadPackage(const std::string& packagePath) = 0;
};

// The program's services the workers use. Called from worker threads.
class ITransferHost {
public:
    virtual ~ITransferHost() = default;
    virtual bool CreateFolderTree(const std::string& path) = 0;
    virtual bool CopyFileTo(const std::string& source, const std::string& destination) = 0;
    // Hands the file of a finished download-and-open to the host program when `hostId` is
    // the store's own non-zero host ID, else lets the shell open it. Must not block long.
    virtual void OpenDownloadedFile(const std::string& path, int hostId) = 0;
};
