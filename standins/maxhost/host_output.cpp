// Line output of maxhost.exe; the stdin reader and the main thread both print.
#include "standins/maxhost/host_output.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
std::mutex gOutputLock;
}

void HostPrint(const char* format, ...) {
    char line[4096];
    va_list ap;
    va_start(ap, format);
    vsnprintf(line, sizeof(line), format, ap);
    va_end(ap);
    std::lock_guard<std::mutex> hold(gOutputLock);
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out;
}
