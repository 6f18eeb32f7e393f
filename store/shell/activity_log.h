// The store's activity log: one process-wide text file of begin/end banners and one line
// per dispatched script call, reply and transfer event, writable from any thread.
#pragma once

#include <cstdio>
#include <string>

#if defined(__MINGW32__)
// MinGW picks the printf flavour (MS or ANSI) that its vsnprintf really uses.
#define PX_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define PX_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define PX_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

// Lines longer than this many characters are cut; the terminator comes on top.
constexpr int kLogLineMaxChars = 1020;

// Opens `path` for appending (created when missing) and writes the begin banner. Returns
// false when the file cannot be opened (or a log is already open); the log then stays as
// it was and later calls do nothing. On Windows the file is in text mode, so every line
// ends "\r\r\n" on disk; elsewhere text and binary mode are the same and lines end "\r\n".
bool OpenActivityLog(const char* path);

// Formats one line (at most kLogLineMaxChars characters), appends "\r\n", writes it with one
// locked write and flushes it. Returns the number of characters formatted, a negative value
// when the line was cut, 0 when the log is closed (nothing is written then).
int LogLine(const char* format, ...) PX_PRINTF_FORMAT(1, 2);

// Writes the end banner and closes the file. Writers that come later write nothing.
void CloseActivityLog();

// The path given to the last successful OpenActivityLog; empty before that.
std::string ActivityLogPath();
