// Command-line download for the download benchmark: fetches URL into LOCAL_PATH with the
// store's download client (configured as the transfer manager configures it), RUNS times,
// and prints "download <seconds of the fastest run>" and "peak-working-set <bytes>", the
// most memory the process held at once over all runs.
//
//   download_cli URL LOCAL_PATH [RUNS]
#include "store/transfers/download_client.h"
#include "store/transfers/tls_notices.h"

#include "bench/peak_memory.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: download_cli URL LOCAL_PATH [RUNS]\n");
        return 2;
    }
    SetTlsNoticeWriter([](const char* line) { std::fprintf(stderr, "%s\n", line); });
    const std::string url = argv[1];
    const std::string localPath = argv[2];
    const int runs = argc > 3 ? std::atoi(argv[3]) : 1;
    std::string folder = localPath;
    const size_t cut = folder.find_last_of("/\\");
    folder = cut == std::string::npos ? std::string(".") : folder.substr(0, cut);

    double best = -1;
    for (int run = 0; run < runs; ++run) {
        std::remove(localPath.c_str());
        std::remove((localPath + ".down").c_str());
        HttpDownloadClient client;
        client.setRetry(1, 0, 0);
        client.setMaxRedirects(0);
        client.setTimeouts(10000, 10000, 10000);
        client.setDownloadFolder(folder);
        client.setLocalPath(localPath);
        const auto start = std::chrono::steady_clock::now();
        const int result = client.download(url, true);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (result != kDownloadDone) {
            std::fprintf(stderr, "download_cli: result %d, code %d, socket error 0x%08X\n", result,
                         client.lastError(), static_cast<unsigned>(client.socketError()));
            return 1;
        }
        if (best < 0 || took.count() < best)
            best = took.count();
    }
    std::remove(localPath.c_str());
    std::printf("download %.6f\n", best);
    std::printf("peak-working-set %llu\n", static_cast<unsigned long long>(PeakWorkingSetBytes()));
    return 0;
}
