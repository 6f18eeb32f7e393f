// The activity log: banners, one flushed line per call, a mutex so that closing never
// races a writer on another thread.
#include "store/shell/activity_log.h"

#include <cstdarg>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

// 1020 characters, "\r\n" and the terminating zero fit with a byte to spare.
constexpr size_t kLogBufferSize = 1024;

const char kBeginBanner[] = "===========================LOG BEGIN=======================";
const char kEndBanner[] = "============================LOG END========================";

#ifdef _WIN32
// Text mode: the CRT turns each "\n" into "\r\n", so lines end "\r\r\n" on disk, which is
// what readers of existing logs are used to.
const char kOpenMode[] = "at";
#else
const char kOpenMode[] = "a";
#endif

std::mutex gLogMutex;
FILE* gLogFile = nullptr;  // guarded by gLogMutex
std::string gLogPath;      // guarded by gLogMutex

// Local time as "%Y-%m-%d-%H-%M"; empty if the clock cannot be read.
std::string LocalTimeStamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &now) != 0) {
        return std::string();
    }
#else
    if (localtime_r(&now, &local) == nullptr) {
        return std::string();
    }
#endif
    char text[32] = {};
    size_t length = std::strftime(text, sizeof(text), "%Y-%m-%d-%H-%M", &local);
    return std::string(text, length);
}

}  // namespace

bool OpenActivityLog(const char* path) {
    if (path == nullptr) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(gLogMutex);
        if (gLogFile != nullptr) {
            return false;
        }
        FILE* file = std::fopen(path, kOpenMode);
        if (file == nullptr) {
            return false;
        }
        gLogFile = file;
        gLogPath = path;
    }
    LogLine("%s%s", kBeginBanner, LocalTimeStamp().c_str());
    return true;
}

int LogLine(const char* format, ...) {
    if (format == nullptr) {
        return 0;
    }
    char buffer[kLogBufferSize] = {};
    va_list arguments;
    va_start(arguments, format);
    // A size of kLogLineMaxChars + 1 leaves room for the zero that vsnprintf always writes.
    int formatted = std::vsnprintf(buffer, kLogLineMaxChars + 1, format, arguments);
    va_end(arguments);

    size_t length = strnlen(buffer, kLogLineMaxChars);
    int result = formatted;
    if (formatted < 0 || formatted > kLogLineMaxChars) {
        result = -1;
    }
    buffer[length] = '\r';
    buffer[length + 1] = '\n';

    std::lock_guard<std::mutex> lock(gLogMutex);
    if (gLogFile == nullptr) {
        return 0;
    }
    // Write and flush failures are not reported: the log is for diagnosis only.
    std::fwrite(buffer, 1, length + 2, gLogFile);
    std::fflush(gLogFile);
    return result;
}

void CloseActivityLog() {
    LogLine("%s%s\r\n", kEndBanner, LocalTimeStamp().c_str());
    std::lock_guard<std::mutex> lock(gLogMutex);
    if (gLogFile != nullptr) {
        std::fclose(gLogFile);
        gLogFile = nullptr;
    }
}

std::string ActivityLogPath() {
    std::lock_guard<std::mutex> lock(gLogMutex);
    return gLogPath;
}
