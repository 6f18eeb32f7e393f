// What a drag out of the movie becomes: the drag-out list the movie sent with
// BeginDropFiles ("number*path*size|" records) checked against the files on disk. Files
// that are all present with the sizes the movie expects are dragged; otherwise nothing is
// dragged and the missing ones are handed back to the movie to download first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A record: a number the store does not use, the path and the expected size in bytes.
extern const char kDragOutRecordPattern[];

struct DragOutPlan {
    std::vector<std::string> dragPaths;  // present with the expected size, in list order
    std::string downloadList;            // "path*" for each file that is missing or differs
    bool fileMissing = false;
};

// The size of the file at a path, 0 when it cannot be read.
using PathSizeFunction = std::function<uint64_t(const std::string& path)>;

// Scans `list` from its start. Records with size 0 are skipped; a size too large for 64
// bits never matches a file, so that file is downloaded rather than dragged.
DragOutPlan PlanDragOut(const std::string& list, const PathSizeFunction& pathSize);
