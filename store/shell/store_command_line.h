// What the store learns from its command line: a file handed over by the shell, or the
// host plug-in that started it (and whether to start hidden). Needs no Windows header so
// that the rules are tested natively.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct StoreCommandLine {
    int hostId = 0;         // 0: no host
    int hostProcessId = 0;  // 0: none
    bool hidden = false;
    std::string startupFilePath;  // empty: no file
};

// Words of the host form are kept up to this many characters; the rest of a longer word
// is read and dropped.
constexpr std::size_t kCommandWordMax = 1023;

// True when the second and third characters are ':' and '\\' ("X:\..."): the only test
// the store makes before treating the whole command line as a file path.
bool IsDrivePath(std::string_view commandLine);

// A drive path becomes the start-up file with no host. Anything else is read as word,
// integer, word, integer: the two numbers are the host ID and host process ID whatever
// the words say (reading stops at the first number that cannot be read; what was not
// read stays 0), and the window starts hidden only for "HideWindowsAPPHOSTID" ... "APPPID".
StoreCommandLine ParseStoreCommandLine(std::string_view commandLine);
