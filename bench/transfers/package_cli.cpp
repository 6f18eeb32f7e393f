// Times building one upload package of a folder, as the upload worker does, and prints
// "package SECONDS SIZE cpu-user U cpu-kernel K" and "peak-working-set BYTES" (the most memory the
// process held at once while it built the package); then, to show where the time goes, the staging
// copy alone and the zip alone ("copy SECONDS ...", "zip SECONDS ...", each with the CPU seconds it
// used). scripts/run-package-bench.sh runs it under Wine.
//
//   package_cli CACHE_FOLDER SOURCE_FOLDER
#include <windows.h>

#include <atomic>
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

// User and kernel CPU seconds of this process so far: set against a step's wall time, they
// say whether the step waits (file system, wineserver) or computes (deflate).
void CpuSeconds(double& user, double& kernel) {
    FILETIME created, ended, kernelTime, userTime;
    user = kernel = 0;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernelTime, &userTime)) {
        return;
    }
    auto seconds = [](const FILETIME& time) {
        const ULONGLONG ticks =
            (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        return static_cast<double>(ticks) / 1e7;
    };
    user = seconds(userTime);
    kernel = seconds(kernelTime);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: package_cli CACHE_FOLDER SOURCE_FOLDER\n");
        return 2;
    }
    double user = 0, kernel = 0, userAfter = 0, kernelAfter = 0;
    CpuSeconds(user, kernel);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const std::atomic<bool> never{false};
    std::string package;
    const bool built =
        buildUploadPackage(argv[1], argv[2], never, package) == PackageResult::kBuilt;
    const double packageTime = Seconds(start);
    CpuSeconds(userAfter, kernelAfter);
    const uint64_t size = GetPathSize(package.c_str());
    std::printf("package %.6f %llu cpu-user %.3f cpu-kernel %.3f\n", packageTime,
                static_cast<unsigned long long>(size), userAfter - user, kernelAfter - kernel);
    std::printf("peak-working-set %llu\n", static_cast<unsigned long long>(PeakWorkingSetBytes()));
    removeUploadPackage(package);

    const std::string scratch = std::string(argv[1]) + "\\scratch\\tree";
    CpuSeconds(user, kernel);
    QueryPerformanceCounter(&start);
    CopyFolderTree(argv[2], scratch.c_str());
    const double copyTime = Seconds(start);
    CpuSeconds(userAfter, kernelAfter);
    std::printf("copy %.6f cpu-user %.3f cpu-kernel %.3f\n", copyTime, userAfter - user,
                kernelAfter - kernel);
    CpuSeconds(user, kernel);
    QueryPerformanceCounter(&start);
    zipFolder(scratch.c_str(), false);
    const double zipTime = Seconds(start);
    CpuSeconds(userAfter, kernelAfter);
    std::printf("zip %.6f cpu-user %.3f cpu-kernel %.3f\n", zipTime, userAfter - user,
                kernelAfter - kernel);
    DeleteFolderTree((std::string(argv[1]) + "\\scratch").c_str());
    return built && size > 0 ? 0 : 1;
}
