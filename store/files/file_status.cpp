// Directory-entry status for the file lists; see file_status.h.
#include "store/files/file_status.h"

#include <windows.h>

#include <cstring>

namespace {

// FILETIME counts 100 ns steps from 1601; time_t counts seconds from 1970.
constexpr uint64_t kFileTimeToUnixEpoch = 116444736000000000ULL;
constexpr uint64_t kFileTimeStepsPerSecond = 10000000ULL;

std::time_t ToTimeT(const FILETIME& time) {
    uint64_t steps = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    if (steps < kFileTimeToUnixEpoch) {
        return 0;
    }
    return static_cast<std::time_t>((steps - kFileTimeToUnixEpoch) / kFileTimeStepsPerSecond);
}

}  // namespace

bool QueryFileStatus(const char* path, FileStatus& status) {
    if (path == nullptr || path[0] == '\0' || std::strlen(path) >= MAX_PATH ||
        std::strpbrk(path, "*?") != nullptr) {
        return false;
    }
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(path, &data);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(find);
    status.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status.creationTime = ToTimeT(data.ftCreationTime);
    status.writeTime = ToTimeT(data.ftLastWriteTime);
    return true;
}
