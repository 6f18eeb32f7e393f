// The store's use of the upload client; see upload_runner.h.
#include "store/transfers/upload_runner.h"

#include <new>

#include "store/transfers/http_client.h"

namespace {

// Progress is refreshed every kilobyte.
constexpr DWORD kChunkBytes = 1024;

// "Vellamar", a double-byte space of the Chinese and Korean code pages, "files".
constexpr const char kContentValue[] =
    "Vellamar\xA1\xA1"
    "files";

}  // namespace

void UploadInterrupter::Interrupt() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_interrupted = true;
    if (m_interrupt)
        m_interrupt();
}

// Hands a client's interrupt to the interrupter for the scope's life; interrupts the client
// at once when the interrupter was used before.
class UploadInterrupterScope {
public:
    UploadInterrupterScope(UploadInterrupter* interrupter, Kasmo::CHttpClientA& client)
        : m_interrupter(interrupter) {
        if (m_interrupter == nullptr)
            return;
        std::lock_guard<std::mutex> hold(m_interrupter->m_lock);
        m_interrupter->m_interrupt = [&client] { client.Interrupt(); };
        if (m_interrupter->m_interrupted)
            client.Interrupt();
    }
    ~UploadInterrupterScope() {
        if (m_interrupter == nullptr)
            return;
        std::lock_guard<std::mutex> hold(m_interrupter->m_lock);
        m_interrupter->m_interrupt = nullptr;
    }
    UploadInterrupterScope(const UploadInterrupterScope&) = delete;
    UploadInterrupterScope& operator=(const UploadInterrupterScope&) = delete;

private:
    UploadInterrupter* m_interrupter;
};

int RunUpload(const UploadRequest& request, const std::atomic<bool>& stop,
              const UploadProgress& progress, UploadInterrupter* interrupter) {
    using namespace Kasmo;
    try {
        CHttpClientA client;
        const UploadInterrupterScope interruptible(interrupter, client);
        client.SetInternet("My User Agent v1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        client.AddHeader("Kasmo-Magic", "My Magic Header");
        client.AddHeader("User-Magic", "User's Magic Header");
        client.AddParam("nohtml", "1");
        client.AddParam("title", "Vellamar File System");
        client.AddParam("content", kContentValue);
        client.AddParam("guid", request.guid.c_str());
        client.AddParam("stgFiletoUpload1", request.localPath.c_str(), true);
        client.BeginUpload(request.url.c_str());
        for (;;) {
            // A stop ends the post here; reading the figures then finds no post and throws.
            if (stop.load())
                client.Cancel();
            const DWORD posted = client.PostedByte();
            const DWORD total = client.TotalByte();
            if (progress)
                progress(posted, total);
            if (client.Proceed(kChunkBytes))
                break;  // the answer is not examined
        }
        client.ClearParam();
        client.ClearHeader();
        return 0;
    } catch (const httpclientexceptionA& e) {
        // A stop ends with 2000 however the post noticed it (an interrupted call fails
        // with the code of the call).
        if (stop.load())
            return kUploadStatusBase;
        return kUploadStatusBase + e.ErrorCode();
    } catch (const std::bad_alloc&) {
        return kUploadStatusBase + kHttpErrOutOfMemory;
    }
}
