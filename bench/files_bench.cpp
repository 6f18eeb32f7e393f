// Times CopyFolderTree and GetFolderSize on a tree made by scripts/run-files-bench.sh,
// which times `cp -r` and `du -sb` on the same tree and prints the RATIO lines. Each
// measurement is repeated and the fastest run is reported, as the script does for its
// anchors.
//
//   files_bench.exe SOURCE_FOLDER SCRATCH_FOLDER RUNS
//
// Prints "copy SECONDS", "foldersize SECONDS" and what was counted, one per line.
#include <windows.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "store/files/file_operations.h"

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: files_bench SOURCE_FOLDER SCRATCH_FOLDER RUNS\n");
        return 2;
    }
    const std::string source = argv[1];
    const std::string scratch = argv[2];
    const int runs = std::atoi(argv[3]) > 0 ? std::atoi(argv[3]) : 1;

    double bestCopy = 0;
    for (int run = 0; run < runs; ++run) {
        const std::string destination = scratch + "\\copy" + std::to_string(run);
        const double start = Now();
        const int copied = CopyFolderTree(source.c_str(), destination.c_str());
        const double seconds = Now() - start;
        if (!copied) {
            std::fprintf(stderr, "files_bench: CopyFolderTree failed\n");
            return 1;
        }
        uint64_t copiedBytes = 0;
        const int copiedFiles = GetFolderSize(destination.c_str(), copiedBytes);
        std::printf("copied %d files %" PRIu64 " bytes\n", copiedFiles, copiedBytes);
        DeleteFolderTree(destination.c_str());
        if (run == 0 || seconds < bestCopy) {
            bestCopy = seconds;
        }
    }

    double bestSize = 0;
    for (int run = 0; run < runs; ++run) {
        uint64_t total = 0;
        const double start = Now();
        const int files = GetFolderSize(source.c_str(), total);
        const double seconds = Now() - start;
        if (run == 0) {
            std::printf("counted %d files %" PRIu64 " bytes\n", files, total);
        }
        if (run == 0 || seconds < bestSize) {
            bestSize = seconds;
        }
    }
    std::printf("copy %.6f\n", bestCopy);
    std::printf("foldersize %.6f\n", bestSize);
    return 0;
}
