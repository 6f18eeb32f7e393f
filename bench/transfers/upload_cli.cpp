// Times one store upload of a file to an upload URL, as the transfer worker runs it, and
// prints "upload SECONDS STATUS". scripts/run-upload-bench.sh runs it under Wine.
//
//   upload_cli URL FILE
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "store/transfers/upload_runner.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: upload_cli URL FILE\n");
        return 2;
    }
    std::atomic<bool> stop{false};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const int status = RunUpload({argv[1], argv[2], "{bench}"}, stop, [](uint32_t, uint32_t) {});
    QueryPerformanceCounter(&end);
    std::printf("upload %.6f %d\n",
                static_cast<double>(end.QuadPart - start.QuadPart) /
                    static_cast<double>(frequency.QuadPart),
                status);
    return status == 0 ? 0 : 1;
}
