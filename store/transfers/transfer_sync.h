// The transfer manager's synchronisation objects. On Windows they are the kernel objects
// the store has always used (the named mutexes "MutexProgress" and "TransProgress" and
// auto-reset events); elsewhere standard-library stand-ins with the same behaviour, so the
// manager's rules are testable natively under the thread sanitizer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#include <vector>
#else
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>
#endif

// Recursive lock whose every acquisition is a bounded wait.
class ProgressMutex {
public:
    // `name` is the Win32 object's name (null: unnamed); ignored natively.
    explicit ProgressMutex(const char* name);
    ~ProgressMutex();
    ProgressMutex(const ProgressMutex&) = delete;
    ProgressMutex& operator=(const ProgressMutex&) = delete;

    // False when the wait ran out (nothing is held then).
    bool Acquire(uint32_t timeoutMs);
    void Release();

private:
#ifdef _WIN32
    HANDLE m_handle = nullptr;
#else
    // Built from a plain mutex and a condition: the thread sanitizer does not follow the
    // timed waits of std::recursive_timed_mutex.
    std::mutex m_mutex;
    std::condition_variable m_released;
    std::thread::id m_owner;
    unsigned m_depth = 0;
#endif
};

// Spaces transfer starts: a caller passing within `spacingMs` of the previous pass sleeps
// `spacingMs` before it goes on.
class TransferStartGate {
public:
    TransferStartGate(const char* name, uint32_t spacingMs);
    ~TransferStartGate();
    TransferStartGate(const TransferStartGate&) = delete;
    TransferStartGate& operator=(const TransferStartGate&) = delete;

    // Waits for the gate without time limit. When `cancelled` answers true once the gate is
    // held, the caller goes through at once without sleeping and without counting as a pass.
    void Pass(const std::function<bool()>& cancelled);

private:
    uint32_t m_spacingMs;
    bool m_passed = false;
    uint32_t m_lastPassTick = 0;
#ifdef _WIN32
    HANDLE m_handle = nullptr;
#else
    std::mutex m_mutex;
#endif
};

// The process-wide gate "TransProgress" with its one-second spacing.
TransferStartGate& TheTransferStartGate();

// Auto-reset events, one per worker that shutdown waits for.
class StopEvents {
public:
    explicit StopEvents(std::size_t count);
    ~StopEvents();
    StopEvents(const StopEvents&) = delete;
    StopEvents& operator=(const StopEvents&) = delete;

    std::size_t Count() const { return m_count; }
    void Signal(std::size_t index);
    // True when every event was signalled within `timeoutMs` (in total).
    bool WaitAll(uint32_t timeoutMs);

private:
    std::size_t m_count;
#ifdef _WIN32
    std::vector<HANDLE> m_events;
#else
    std::mutex m_mutex;
    std::condition_variable m_signalled;
    std::vector<bool> m_set;
#endif
};

uint32_t TransferTickCount();
void TransferSleep(uint32_t ms);
