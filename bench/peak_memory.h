// The peak working set of the running process, for the memory figures of the download and
// packaging benchmarks. On Windows (and so under Wine) it is what GetProcessMemoryInfo
// reports; natively it is the peak resident size getrusage reports.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which psapi.h needs.
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

inline uint64_t PeakWorkingSetBytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return 0;
    }
    return static_cast<uint64_t>(counters.PeakWorkingSetSize);
#else
    struct rusage usage = {};
    if (getrusage(RUSAGE_SELF, &usage) != 0) {
        return 0;
    }
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // reported in kilobytes
#endif
}
