// CPXStoreApp: the store program's start. One store works at a time; a second start hands
// its command line to the first and ends. The first runs the main window until it closes.
#pragma once

class CPXStoreApp {
public:
    // `commandLine` is the text after the program's name. Returns the process exit code.
    int Run(const char* commandLine);
};
