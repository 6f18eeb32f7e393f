// maxhost.exe reports every host operation as one line on standard output, flushed at
// once, so that a test driving it sees the operation while it happens.
#pragma once

#include <string>

void HostPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Keeps a text on one output line: line breaks and tabs are written as \n, \r and \t.
std::string OneLine(const std::string& text);
