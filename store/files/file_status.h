// The status of one file or folder as the file lists report it: size and the creation and
// last-write times. Shared by the file picker and the main window's dropped-file handling.
#pragma once

#include <cstdint>
#include <ctime>

struct FileStatus {
    uint64_t size = 0;
    std::time_t creationTime = 0;
    std::time_t writeTime = 0;
};

// Reads the directory entry of `path`. Fails for a path of 260 characters or more, for a
// path with wildcards, and for anything that cannot be found, so such entries are left out
// of a list rather than reported with made-up values.
bool QueryFileStatus(const char* path, FileStatus& status);
