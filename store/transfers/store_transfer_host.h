// The store's services for the transfer workers on Windows: the file operations and the
// hand-off of a finished download-and-open, to the host program over the host link when
// the request named the store's own host, else to the shell.
#pragma once

#include <string>

#include "store/files/file_system_commands.h"
#include "store/transfers/transfer_runner.h"

class CLinkWorkers;
class IStoreIdentity;

class StoreTransferHost : public ITransferHost {
public:
    // `identity` may be null (no host). `identity` and `workers` must outlive this object;
    // the owner waits for `workers` after the transfer manager has shut down.
    StoreTransferHost(const IStoreIdentity* identity, CLinkWorkers& workers,
                      ShellOpenFunction shellOpen = ShellOpenFile);

    bool CreateFolderTree(const std::string& path) override;
    bool CopyFileTo(const std::string& source, const std::string& destination) override;
    void OpenDownloadedFile(const std::string& path, int hostId) override;

private:
    const IStoreIdentity* m_identity;
    CLinkWorkers& m_workers;
    ShellOpenFunction m_shellOpen;
};
