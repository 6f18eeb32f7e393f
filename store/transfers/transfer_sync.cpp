// Kernel objects on Windows, standard-library ones elsewhere, behind one small interface.
#include "store/transfers/transfer_sync.h"

#include <algorithm>
#include <chrono>
#include <thread>

#ifdef _WIN32

ProgressMutex::ProgressMutex(const char* name) : m_handle(CreateMutexA(nullptr, FALSE, name)) {}

ProgressMutex::~ProgressMutex() {
    if (m_handle != nullptr) {
        CloseHandle(m_handle);
    }
}

bool ProgressMutex::Acquire(uint32_t timeoutMs) {
    if (m_handle == nullptr) {
        return false;
    }
    // An abandoned mutex is owned by the caller all the same.
    const DWORD result = WaitForSingleObject(m_handle, timeoutMs);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void ProgressMutex::Release() {
    ReleaseMutex(m_handle);
}

TransferStartGate::TransferStartGate(const char* name, uint32_t spacingMs)
    : m_spacingMs(spacingMs), m_handle(CreateMutexA(nullptr, FALSE, name)) {}

TransferStartGate::~TransferStartGate() {
    if (m_handle != nullptr) {
        CloseHandle(m_handle);
    }
}

void TransferStartGate::Pass(const std::function<bool()>& cancelled) {
    // Without its mutex the gate still spaces starts, only less strictly.
    const bool held = m_handle != nullptr && WaitForSingleObject(m_handle, INFINITE) != WAIT_FAILED;
    if (!cancelled || !cancelled()) {
        if (m_passed && TransferTickCount() - m_lastPassTick < m_spacingMs) {
            Sleep(m_spacingMs);
        }
        m_passed = true;
        m_lastPassTick = TransferTickCount();
    }
    if (held) {
        ReleaseMutex(m_handle);
    }
}

StopEvents::StopEvents(std::size_t count) : m_count(count) {
    m_events.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        m_events.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    }
}

StopEvents::~StopEvents() {
    for (HANDLE event : m_events) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
}

void StopEvents::Signal(std::size_t index) {
    if (index < m_events.size() && m_events[index] != nullptr) {
        SetEvent(m_events[index]);
    }
}

bool StopEvents::WaitAll(uint32_t timeoutMs) {
    // WaitForMultipleObjects takes at most 64 handles: wait in batches against one deadline.
    const uint32_t start = TransferTickCount();
    for (std::size_t first = 0; first < m_events.size(); first += MAXIMUM_WAIT_OBJECTS) {
        const std::size_t batch =
            std::min<std::size_t>(MAXIMUM_WAIT_OBJECTS, m_events.size() - first);
        const uint32_t spent = TransferTickCount() - start;
        const DWORD left = spent < timeoutMs ? timeoutMs - spent : 0;
        const DWORD result =
            WaitForMultipleObjects(static_cast<DWORD>(batch), &m_events[first], TRUE, left);
        if (result == WAIT_TIMEOUT || result == WAIT_FAILED) {
            return false;
        }
    }
    return true;
}

uint32_t TransferTickCount() {
    return GetTickCount();
}

void TransferSleep(uint32_t ms) {
    Sleep(ms);
}

#else

ProgressMutex::ProgressMutex(const char*) {}
ProgressMutex::~ProgressMutex() = default;

bool ProgressMutex::Acquire(uint32_t timeoutMs) {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> hold(m_mutex);
    if (m_depth > 0 && m_owner == self) {
        ++m_depth;
        return true;
    }
    if (!m_released.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                             [this] { return m_depth == 0; })) {
        return false;
    }
    m_owner = self;
    m_depth = 1;
    return true;
}

void ProgressMutex::Release() {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (m_depth == 0 || m_owner != std::this_thread::get_id()) {
        return;
    }
    if (--m_depth == 0) {
        m_owner = std::thread::id();
        m_released.notify_one();
    }
}

TransferStartGate::TransferStartGate(const char*, uint32_t spacingMs) : m_spacingMs(spacingMs) {}
TransferStartGate::~TransferStartGate() = default;

void TransferStartGate::Pass(const std::function<bool()>& cancelled) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (cancelled && cancelled()) {
        return;
    }
    if (m_passed && TransferTickCount() - m_lastPassTick < m_spacingMs) {
        TransferSleep(m_spacingMs);
    }
    m_passed = true;
    m_lastPassTick = TransferTickCount();
}

StopEvents::StopEvents(std::size_t count) : m_count(count), m_set(count, false) {}
StopEvents::~StopEvents() = default;

void StopEvents::Signal(std::size_t index) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (index < m_set.size()) {
        m_set[index] = true;
        m_signalled.notify_all();
    }
}

bool StopEvents::WaitAll(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> hold(m_mutex);
    return m_signalled.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] {
        return std::all_of(m_set.begin(), m_set.end(), [](bool set) { return set; });
    });
}

uint32_t TransferTickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    // Wraps like the Windows tick count; only unsigned differences are used.
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void TransferSleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

#endif

TransferStartGate& TheTransferStartGate() {
    static TransferStartGate gate("TransProgress", 1000);
    return gate;
}
