// Times building one upload package of a folder, as the upload worker does, and prints
// "package SECONDS SIZE" and "peak-working-set BYTES" (the most memory the process held at
// once while it built the package); then, to show where the time goes, the staging copy alone and
// the zip alone ("copy SECONDS", "zip SECONDS"). scripts/run-package-bench.sh runs it under Wine.
//
//   package_cli CACHE_FOLDER SOURCE_FOLDER
#include <windows.h>

#include <cstdio>

#include <string>

#include "bench/peak_memory.h"
#include "store/files/file_operations.h"
#include "store/transfers/folder_zipper.h"
#include "store/transfers/upload_package.h"

namespace {

double Seconds(const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: package_cli CACHE_FOLDER SOURCE_FOLDER\n");
        return 2;
    }
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const std::string package = buildUploadPackage(argv[1], argv[2]);
    const double packageTime = Seconds(start);
    const uint64_t size = GetPathSize(package.c_str());
    std::printf("package %.6f %llu\n", packageTime, static_cast<unsigned long long>(size));
    std::printf("peak-working-set %llu\n", static_cast<unsigned long long>(PeakWorkingSetBytes()));
    removeUploadPackage(package);

    const std::string scratch = std::string(argv[1]) + "\\scratch\\tree";
    QueryPerformanceCounter(&start);
    CopyFolderTree(argv[2], scratch.c_str());
    std::printf("copy %.6f\n", Seconds(start));
    QueryPerformanceCounter(&start);
    zipFolder(scratch.c_str(), false);
    std::printf("zip %.6f\n", Seconds(start));
    DeleteFolderTree((std::string(argv[1]) + "\\scratch").c_str());
    return size > 0 ? 0 : 1;
}
