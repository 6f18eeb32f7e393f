// Adapters from the transfer manager's client interface to the download and upload clients.
#include "store/transfers/real_transfer_runner.h"

#include <atomic>

#include "store/transfers/download_client.h"

#ifdef _WIN32
#include "store/transfers/upload_package.h"
#include "store/transfers/upload_runner.h"
#endif

namespace {

constexpr int kTimeLimitMs = 10000;

class DownloadAdapter : public ITransferClient {
public:
    int Download(const std::string& url, const std::string& folder, const std::string& localPath,
                 TransferProgress& progress, std::string& writtenPath) override {
        m_client.setProgress(&progress);
        m_client.setRetry(1, 0, 0);  // the client's default of 10 allows 11 retries
        m_client.setMaxRedirects(0);
        m_client.setTimeouts(kTimeLimitMs, kTimeLimitMs, kTimeLimitMs);
        m_client.setDownloadFolder(folder);
        m_client.setLocalPath(localPath);
        const int result = m_client.download(url, false);
        if (result == kDownloadDone) {
            writtenPath = m_client.resultPath();
            return 0;
        }
        const int code = m_client.lastError();
        if (code != 0) {
            return code;
        }
        // A failure must never read as success.
        return result == kDownloadStoppedResult ? kDownloadStopped : kDownloadBadUrl;
    }

    bool Upload(const std::string&, const std::string&, const std::string&, TransferProgress&,
                int& errorCode) override {
        errorCode = 0;
        return false;
    }

    void Abort() override { m_client.abort(); }

private:
    HttpDownloadClient m_client;
};

class UploadAdapter : public ITransferClient {
public:
    int Download(const std::string&, const std::string&, const std::string&, TransferProgress&,
                 std::string&) override {
        return kDownloadBadUrl;
    }

    bool Upload(const std::string& url, const std::string& localPath, const std::string& guid,
                TransferProgress& progress, int& errorCode) override {
#ifdef _WIN32
        UploadRequest request;
        request.url = url;
        request.localPath = localPath;
        request.guid = guid;
        const int status = RunUpload(
            request, m_stop,
            [&progress](uint32_t posted, uint32_t total) { StoreAmounts(progress, posted, total); },
            &m_interrupter);
        if (status == 0) {
            return true;
        }
        errorCode = status - kUploadStatusBase;
        return false;
#else
        (void)url;
        (void)localPath;
        (void)guid;
        (void)progress;
        errorCode = 0;
        return false;
#endif
    }

    void Abort() override {
        m_stop = true;
#ifdef _WIN32
        // A post blocked in WinInet would not see the flag until the call returned.
        m_interrupter.Interrupt();
#endif
    }

private:
    std::atomic<bool> m_stop{false};
#ifdef _WIN32
    UploadInterrupter m_interrupter;
#endif
};

}  // namespace

std::unique_ptr<ITransferClient> RealTransferRunner::CreateDownloadClient() {
    return std::make_unique<DownloadAdapter>();
}

std::unique_ptr<ITransferClient> RealTransferRunner::CreateUploadClient() {
    return std::make_unique<UploadAdapter>();
}

bool RealTransferRunner::BuildUploadPackage(const std::string& folder,
                                            const std::string& cacheFolder,
                                            const std::atomic<bool>& stop,
                                            std::string& packagePath) {
#ifdef _WIN32
    return buildUploadPackage(cacheFolder, folder, stop, packagePath) == PackageResult::kBuilt;
#else
    (void)folder;
    (void)cacheFolder;
    (void)stop;
    (void)packagePath;
    return false;
#endif
}

void RealTransferRunner::RemoveUploadPackage(const std::string& packagePath) {
#ifdef _WIN32
    removeUploadPackage(packagePath);
#else
    (void)packagePath;
#endif
}
