// Worker threads of the host link and the one place that calls SendMessage(WM_COPYDATA).
#include "hostlink/link_workers.h"

#include <memory>

#include "hostlink/host_link_text.h"
#include "hostlink/message_window.h"

namespace {

DWORD WINAPI RunJob(void* parameter) {
    std::unique_ptr<std::function<int()>> job(static_cast<std::function<int()>*>(parameter));
    return static_cast<DWORD>((*job)());
}

}  // namespace

int SendTextToPeer(const TextSendRequest& request) {
    const HWND peer = FindMessageWindow(request.peerTitle.c_str());
    if (peer == nullptr) {
        return 0;
    }
    LinkPayload payload;
    FillPayload(request.text.c_str(), &payload);
    COPYDATASTRUCT data;
    data.dwData = request.code;
    data.cbData = static_cast<DWORD>(kLinkPayloadSize);
    data.lpData = payload.bytes;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(peer, WM_COPYDATA, reinterpret_cast<WPARAM>(request.senderWindow),
                        reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, kPeerSendTimeoutMs,
                        &ignored);
    return 1;
}

CLinkWorkers::~CLinkWorkers() {
    WaitAll();
}

bool CLinkWorkers::Start(std::function<int()> job) {
    auto owned = std::make_unique<std::function<int()>>(std::move(job));
    std::lock_guard<std::mutex> guard(m_lock);
    CloseFinished();
    const HANDLE thread = CreateThread(nullptr, 0, RunJob, owned.get(), 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    owned.release();  // the thread frees it
    m_threads.push_back(thread);
    return true;
}

bool CLinkWorkers::StartTextSender(TextSendRequest request) {
    auto owned = std::make_shared<TextSendRequest>(std::move(request));
    return Start([owned] { return SendTextToPeer(*owned); });
}

void CLinkWorkers::WaitAll() {
    const ULONGLONG deadline = GetTickCount64() + kLinkWorkersWaitMs;
    // A worker may be started while we wait (a handler run by the delivery below), so
    // take the list again until it stays empty.
    for (;;) {
        std::vector<HANDLE> threads;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            threads.swap(m_threads);
        }
        if (threads.empty()) {
            return;
        }
        for (HANDLE thread : threads) {
            const ULONGLONG now = GetTickCount64();
            WaitDeliveringSentMessages(thread,
                                       now < deadline ? static_cast<DWORD>(deadline - now) : 0);
            CloseHandle(thread);
        }
        if (GetTickCount64() >= deadline) {
            return;
        }
    }
}

void CLinkWorkers::CloseFinished() {
    std::size_t kept = 0;
    for (HANDLE thread : m_threads) {
        if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) {
            CloseHandle(thread);
        } else {
            m_threads[kept++] = thread;
        }
    }
    m_threads.resize(kept);
}
