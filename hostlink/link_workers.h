// Short-lived worker threads of the host link: one per WM_COPYDATA text and one per
// greeting. Their owner keeps the thread handles so that it can wait for all of them
// before it goes away; no worker may outlive the module whose code it runs.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

// What a sender worker owns while it runs.
struct TextSendRequest {
    std::string peerTitle;
    UINT code = 0;
    std::string text;
    HWND senderWindow = nullptr;
};

// How long a sender waits for the peer to handle one message. A peer whose thread is busy
// or hung (3ds Max loading a scene, a store that stopped answering) must not hold the
// sender, and through it a shutdown, for ever; the message itself still goes.
constexpr DWORD kPeerSendTimeoutMs = 5000;
// How long WaitAll waits for the workers: a sender ends within kPeerSendTimeoutMs.
constexpr DWORD kLinkWorkersWaitMs = kPeerSendTimeoutMs + 2000;

// Looks the peer up now; when it is missing nothing is sent and the result is 0.
// Otherwise sends the text in a 521-byte payload and returns 1 once the peer has
// handled it or kPeerSendTimeoutMs have passed (at once when the peer's thread is
// hung). Blocks: call it from a worker, or from code that may block (a second store
// instance's start-up).
int SendTextToPeer(const TextSendRequest& request);

class CLinkWorkers {
public:
    CLinkWorkers() = default;
    ~CLinkWorkers();
    CLinkWorkers(const CLinkWorkers&) = delete;
    CLinkWorkers& operator=(const CLinkWorkers&) = delete;

    // Runs `job` on a new thread; its result becomes the thread's exit code. Returns
    // false when the thread could not be started (the job is dropped).
    bool Start(std::function<int()> job);

    // Sends the text from a new worker (SendTextToPeer). Returns false when the worker
    // could not be started; whether the peer existed is the worker's own result.
    bool StartTextSender(TextSendRequest request);

    // Waits until every worker started so far has ended, for kLinkWorkersWaitMs at most
    // (a worker still running then is left to end on its own). Safe on the thread that
    // owns the peer window: messages sent to this thread are delivered while it waits.
    void WaitAll();

private:
    void CloseFinished();

    std::mutex m_lock;
    std::vector<HANDLE> m_threads;
};
