// instance_probe.exe EVENT: claims the store's instance counter as the store does at
// start-up, prints "first" or "second N", then stays alive until the named event is
// set (so that a second probe can be started while it runs).
#include <windows.h>

#include <cstdio>

#include "store/shell/store_instance.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: instance_probe EVENT\n");
        return 2;
    }
    LONG seen = -1;
    if (ClaimFirstInstance(&seen)) {
        std::printf("first\n");
    } else {
        std::printf("second %ld\n", static_cast<long>(seen));
    }
    std::fflush(stdout);
    const HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[1]);
    if (release == nullptr) {
        return 3;
    }
    const DWORD waited = WaitForSingleObject(release, 60000);
    CloseHandle(release);
    return waited == WAIT_OBJECT_0 ? 0 : 4;
}
