// Win32 services of the transfer workers.
#include "store/transfers/store_transfer_host.h"

#include <utility>

#include "hostlink/host_link_codes.h"
#include "hostlink/host_link_text.h"
#include "hostlink/link_workers.h"
#include "store/files/file_operations.h"
#include "store/files/store_identity.h"

StoreTransferHost::StoreTransferHost(const IStoreIdentity* identity, CLinkWorkers& workers,
                                     ShellOpenFunction shellOpen)
    : m_identity(identity), m_workers(workers), m_shellOpen(std::move(shellOpen)) {}

bool StoreTransferHost::CreateFolderTree(const std::string& path) {
    return ::CreateFolderTree(path.c_str()) != 0;
}

bool StoreTransferHost::CopyFileTo(const std::string& source, const std::string& destination) {
    return ::CopyFileTo(source.c_str(), destination.c_str()) != 0;
}

void StoreTransferHost::OpenDownloadedFile(const std::string& path, int hostId) {
    const int storeHost = m_identity != nullptr ? m_identity->HostId() : 0;
    if (storeHost != 0 && storeHost == hostId) {
        // The host handles the text inside SendMessage, which may take as long as loading a
        // scene: a link worker waits for it, not the transfer worker.
        TextSendRequest request;
        request.peerTitle = HostWindowTitle(storeHost);
        request.code = PXCD_OPEN_FILE;
        request.text = path;
        request.senderWindow = m_identity->MainWindow();
        m_workers.StartTextSender(std::move(request));
    } else if (m_shellOpen) {
        m_shellOpen(path);
    }
}
