// Times CopyFolderTree and GetFolderSize on a tree made by scripts/run-files-bench.sh,
// together with Wine's own tools doing the same work in the same prefix: `xcopy /E /I /Q`
// for the copy and `cmd /c dir /s` for the size. The script also times `cp -r` and
// `du -sb` natively and prints the RATIO lines. Each measurement is repeated, the pairs
// interleaved so that a busy machine slows both alike, and the fastest run is reported.
//
// A tool runs as its own process, and under Wine a process start costs far more than on
// Windows (loading the Wine libraries and registering with the wineserver). That cost is
// not file work, so it is measured by running the same command on an empty folder right
// before each timed run and subtracted: what is left is the time the tool spent on the tree.
//
//   files_bench.exe SOURCE_FOLDER SCRATCH_FOLDER RUNS
//
// Prints "copy SECONDS", "xcopy SECONDS", "foldersize SECONDS", "dir SECONDS", what was
// counted, and "attributes SECONDS" (the attribute reset the copy makes on every source file,
// timed alone once), one per line.
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

// Runs a command line with its output thrown away and returns its wall time from the
// process creation to its end, or -1 when it could not be started or failed.
double TimeCommand(const std::string& commandLine) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    std::string mutableLine = commandLine;
    const double start = Now();
    const BOOL created = CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    double seconds = -1;
    if (created) {
        WaitForSingleObject(process.hProcess, INFINITE);
        seconds = Now() - start;
        DWORD exitCode = 1;
        GetExitCodeProcess(process.hProcess, &exitCode);
        if (exitCode != 0) {
            std::fprintf(stderr, "files_bench: \"%s\" ended with %lu\n", commandLine.c_str(),
                         static_cast<unsigned long>(exitCode));
            seconds = -1;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (nul != INVALID_HANDLE_VALUE) {
        CloseHandle(nul);
    }
    return seconds;
}

// The command's time on the tree less its time on an empty folder (the process start),
// taken as the mean of one run just before and one just after, since it varies from start
// to start on a busy machine.
double TimeToolWork(const std::string& onTree, const std::string& onEmpty) {
    const double idleBefore = TimeCommand(onEmpty);
    const double busy = TimeCommand(onTree);
    const double idleAfter = TimeCommand(onEmpty);
    if (idleBefore < 0 || busy < 0 || idleAfter < 0) {
        return -1;
    }
    const double idle = (idleBefore + idleAfter) / 2;
    std::printf("  %.6f s with %.6f s of process start: %s\n", busy, idle, onTree.c_str());
    return busy > idle ? busy - idle : 0;
}

void KeepBest(double seconds, double& best) {
    if (seconds >= 0 && (best < 0 || seconds < best)) {
        best = seconds;
    }
}

// Sets every file below `folder` to normal attributes, as CopyFolderTree does to each source
// file before copying it: the part of the copy that xcopy does not do. Returns the files.
int NormaliseAttributes(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int files = 0;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = folder + "\\" + name;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            files += NormaliseAttributes(path);
        } else if (SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
            ++files;
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return files;
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
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

    const std::string empty = scratch + "\\empty";
    CreateDirectoryA(empty.c_str(), nullptr);

    double bestCopy = -1;
    double bestXcopy = -1;
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
        KeepBest(seconds, bestCopy);

        const std::string xcopied = scratch + "\\xcopy" + std::to_string(run);
        const std::string emptyCopy = scratch + "\\xcopy-empty" + std::to_string(run);
        KeepBest(TimeToolWork("xcopy.exe " + Quoted(source) + " " + Quoted(xcopied) + " /E /I /Q",
                              "xcopy.exe " + Quoted(empty) + " " + Quoted(emptyCopy) + " /E /I /Q"),
                 bestXcopy);
        uint64_t xcopiedBytes = 0;
        const int xcopiedFiles = GetFolderSize(xcopied.c_str(), xcopiedBytes);
        std::printf("copied by xcopy: %d files %" PRIu64 " bytes\n", xcopiedFiles, xcopiedBytes);
        DeleteFolderTree(xcopied.c_str());
        DeleteFolderTree(emptyCopy.c_str());
    }

    // For the account of where the copy's time goes: the attribute reset alone.
    const double attributesStart = Now();
    const int normalised = NormaliseAttributes(source);
    std::printf("attributes %.6f (%d files set to normal)\n", Now() - attributesStart, normalised);

    double bestSize = -1;
    double bestDir = -1;
    for (int run = 0; run < runs; ++run) {
        uint64_t total = 0;
        const double start = Now();
        const int files = GetFolderSize(source.c_str(), total);
        const double seconds = Now() - start;
        if (run == 0) {
            std::printf("counted %d files %" PRIu64 " bytes\n", files, total);
        }
        KeepBest(seconds, bestSize);
        KeepBest(TimeToolWork("cmd.exe /c dir /s " + Quoted(source) + " > NUL",
                              "cmd.exe /c dir /s " + Quoted(empty) + " > NUL"),
                 bestDir);
    }
    DeleteFolderTree(empty.c_str());
    std::printf("copy %.6f\n", bestCopy);
    std::printf("foldersize %.6f\n", bestSize);
    if (bestXcopy < 0 || bestDir < 0) {
        std::fprintf(stderr, "files_bench: xcopy or dir could not be timed\n");
        return 1;
    }
    std::printf("xcopy %.6f\n", bestXcopy);
    std::printf("dir %.6f\n", bestDir);
    return 0;
}
