// The transfer manager's runner over the store's real clients: the socket download client
// set up the way the store downloads (one attempt and up to 11 retries without a pause, no
// redirects, 10-second limits), the WinInet upload and the folder packages. Uploads and
// packages exist on Windows only; elsewhere an upload fails at once.
#pragma once

#include <memory>
#include <string>

#include "store/transfers/transfer_runner.h"

class RealTransferRunner : public ITransferRunner {
public:
    std::unique_ptr<ITransferClient> CreateDownloadClient() override;
    std::unique_ptr<ITransferClient> CreateUploadClient() override;
    bool BuildUploadPackage(const std::string& folder, const std::string& cacheFolder,
                            const std::atomic<bool>& stop, std::string& packagePath) override;
    void RemoveUploadPackage(const std::string& packagePath) override;
};
