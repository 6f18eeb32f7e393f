// Test doubles for the host link's two windows: action recorders, and threads that own a
// store or host window and run its message loop, as the store's and 3ds Max's
// user-interface threads do.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hostlink/host_comm_window.h"
#include "hostlink/store_link_window.h"

// A thread-safe list of what a window did, in order, for waiting and comparing.
class EventLog {
public:
    void Add(const std::string& event) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_events.push_back(event);
        }
        m_changed.notify_all();
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_events;
    }
    // Waits (generously) until `event` has been logged; false if it never was.
    bool WaitFor(const std::string& event, std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, limit, [&] {
            for (const std::string& e : m_events) {
                if (e == event) {
                    return true;
                }
            }
            return false;
        });
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_events.clear();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
};

class RecordingStoreActions : public IStoreLinkActions {
public:
    void BringToFront() override { log.Add("front"); }
    void Restack() override { log.Add("restack"); }
    void ShowStore() override { log.Add("store"); }
    void ShowMyFiles() override { log.Add("myfiles"); }
    void SaveFile(const std::string& longPath) override { log.Add("save:" + longPath); }
    bool IsUpdateBusy() override { return updateBusy; }
    void CheckForUpdate(bool silent) override {
        log.Add(silent ? "update:silent" : "update:interactive");
    }
    void ShowCameraShelf() override { log.Add("shelf"); }
    void HostIdentity(int hostId, int hostPid) override {
        log.Add("identity:" + std::to_string(hostId) + "," + std::to_string(hostPid));
    }
    void HostReply(const std::string& fileName) override { log.Add("reply:" + fileName); }
    void PluginBuild(int ver, int major, int minor) override {
        log.Add("build:" + std::to_string(ver) + "," + std::to_string(major) + "," +
                std::to_string(minor));
    }
    void QuitStore() override {
        log.Add("quit");
        // Like the main window: a posted WM_QUIT, queued behind what came before it.
        PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
    }
    LRESULT UpdateFlowMessage(UINT message, WPARAM, LPARAM) override {
        log.Add("flow:" + std::to_string(message));
        return 0;
    }

    EventLog log;
    std::atomic<bool> updateBusy{false};
};

class RecordingHostActions : public IHostLinkActions {
public:
    void OpenFile(const std::string& path) override { log.Add("open:" + path); }
    void SaveThumbnails(const std::string& folder) override { log.Add("thumbs:" + folder); }

    EventLog log;
};

// Runs `create` on a new thread, then that thread's message loop until WM_QUIT, then
// `destroy`. Stop() ends the loop if it is still running and joins.
class WindowThread {
public:
    WindowThread(std::function<bool()> create, std::function<void()> destroy)
        : m_create(std::move(create)), m_destroy(std::move(destroy)) {}
    ~WindowThread() { Stop(); }

    bool Start() {
        std::unique_lock<std::mutex> guard(m_lock);
        m_thread = std::thread([this] { Run(); });
        m_started.wait(guard, [this] { return m_state != kStarting; });
        return m_state == kRunning;
    }
    void Stop() {
        if (!m_thread.joinable()) {
            return;
        }
        PostThreadMessageA(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    // Ends when the window's own code posted WM_QUIT (the store quitting).
    void Join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    enum State { kStarting, kRunning, kFailed };

    void Run() {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // make the queue before anyone posts
        const bool created = m_create();
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_threadId = GetCurrentThreadId();
            m_state = created ? kRunning : kFailed;
        }
        m_started.notify_all();
        if (created) {
            while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
                DispatchMessageA(&msg);
            }
        }
        m_destroy();
    }

    std::function<bool()> m_create;
    std::function<void()> m_destroy;
    std::mutex m_lock;
    std::condition_variable m_started;
    State m_state = kStarting;
    DWORD m_threadId = 0;
    std::thread m_thread;
};

// The store window on a thread of its own.
struct StoreOnThread {
    RecordingStoreActions actions;
    std::unique_ptr<CPXHidMessageWin> window;
    WindowThread thread{[this] {
                            window = std::make_unique<CPXHidMessageWin>(&actions);
                            return window->Create();
                        },
                        [this] { window.reset(); }};
};

// A host window (3ds Max's by default) on a thread of its own.
struct HostOnThread {
    explicit HostOnThread(int hostId = kHostId3dsMax) : id(hostId) {}
    int id;
    RecordingHostActions actions;
    std::unique_ptr<PXMaxHidCommWin> window;
    WindowThread thread{
        [this] {
            window = std::make_unique<PXMaxHidCommWin>(id, PluginBuild{1, 0, 72}, &actions);
            return window->EnsureWindow();
        },
        [this] { window.reset(); }};
};
