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
// Text mode: the CRT turns each "\n" into "\r\n", and the terminator we append is already
// "\r\n", so a line ends "\r\r\n" on disk. Natively the two modes are the same.
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

// Formats one line into `buffer` (kLogBufferSize bytes, zero-filled) and appends "\r\n".
// Returns the LogLine result; `length` receives the bytes to write.
int FormatLineV(char* buffer, size_t* length, const char* format, va_list arguments)
    PX_PRINTF_FORMAT(3, 0);
int FormatLineV(char* buffer, size_t* length, const char* format, va_list arguments) {
    // A size of kLogLineMaxChars + 1 leaves room for the zero that vsnprintf always writes.
    int formatted = std::vsnprintf(buffer, kLogLineMaxChars + 1, format, arguments);
    const void* zero = std::memchr(buffer, 0, kLogLineMaxChars);
    size_t textLength = zero != nullptr
                            ? static_cast<size_t>(static_cast<const char*>(zero) - buffer)
                            : static_cast<size_t>(kLogLineMaxChars);
    buffer[textLength] = '\r';
    buffer[textLength + 1] = '\n';
    *length = textLength + 2;
    if (formatted < 0 || formatted > kLogLineMaxChars) {
        return -1;
    }
    return formatted;
}

int FormatLine(char* buffer, size_t* length, const char* format, ...) PX_PRINTF_FORMAT(3, 4);
int FormatLine(char* buffer, size_t* length, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = FormatLineV(buffer, length, format, arguments);
    va_end(arguments);
    return result;
}

// Caller holds gLogMutex and has checked that the file is open. Write and flush failures
// are not reported: the log is for diagnosis only.
void WriteLineLocked(const char* buffer, size_t length) {
    std::fwrite(buffer, 1, length, gLogFile);
    std::fflush(gLogFile);
}

}  // namespace

// The banners are written under the same lock hold as the open and the close, so no other
// thread's line can come before the begin banner or after the end banner.
bool OpenActivityLog(const char* path) {
    if (path == nullptr) {
        return false;
    }
    char buffer[kLogBufferSize] = {};
    size_t length = 0;
    FormatLine(buffer, &length, "%s%s", kBeginBanner, LocalTimeStamp().c_str());

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
    WriteLineLocked(buffer, length);
    return true;
}

int LogLine(const char* format, ...) {
    if (format == nullptr) {
        return 0;
    }
    // Formatted outside the lock into a buffer of this call only; written as it is, never
    // used as a format again, so "%" in arguments comes out literally.
    char buffer[kLogBufferSize] = {};
    size_t length = 0;
    va_list arguments;
    va_start(arguments, format);
    int result = FormatLineV(buffer, &length, format, arguments);
    va_end(arguments);

    std::lock_guard<std::mutex> lock(gLogMutex);
    if (gLogFile == nullptr) {
        return 0;
    }
    WriteLineLocked(buffer, length);
    return result;
}

void CloseActivityLog() {
    char buffer[kLogBufferSize] = {};
    size_t length = 0;
    // The end banner carries its own terminator, so an empty line follows it.
    FormatLine(buffer, &length, "%s%s\r\n", kEndBanner, LocalTimeStamp().c_str());

    std::lock_guard<std::mutex> lock(gLogMutex);
    if (gLogFile == nullptr) {
        return;
    }
    WriteLineLocked(buffer, length);
    std::fclose(gLogFile);
    gLogFile = nullptr;
}

std::string ActivityLogPath() {
    std::lock_guard<std::mutex> lock(gLogMutex);
    return gLogPath;
}
